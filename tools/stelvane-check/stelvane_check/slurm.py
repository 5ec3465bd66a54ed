"""What a check asks of Slurm and tells it: node states and reasons, host
lists, drains and resumes, reservations. Every command goes to the
controller the environment names (SLURM_CONF), and no other."""
import re

from .commands import CheckError, checked, first_line, run

# The prefix of every reason a check drains with: the only drains it ever
# undoes are those whose reason still starts with it.
OWN_PREFIX = "stelvane:"
# Slurm keeps a reason of any length, but sinfo -R and most dashboards show
# a line's worth at most: ours say what they must within these.
REASON_LENGTH = 80

# A node in one of these states (or with one of these flags) takes no job:
# a run is never asked of it.
UNUSABLE = {"DOWN", "FUTURE", "UNKNOWN", "ERROR", "DRAIN", "DRAINED", "DRAINING", "FAIL", "FAILING", "MAINT",
            "NOT_RESPONDING", "POWER_DOWN", "POWERED_DOWN", "POWERING_DOWN", "POWERING_UP", "REBOOT_REQUESTED",
            "REBOOT_ISSUED", "INVALID_REG", "RESERVED"}
# Taken out of service by someone: a check leaves such a node as it is
# unless the reason is its own.
OUT_OF_SERVICE = {"DOWN", "DRAIN", "DRAINED", "DRAINING", "FAIL", "FAILING"}


class Node:
    def __init__(self, name, state, reason):
        self.name = name
        self.flags = set(state.rstrip("*").split("+"))  # "IDLE+DRAIN": {"IDLE", "DRAIN"}
        self.state = state
        self.reason = reason

    def usable(self):
        return not self.flags & UNUSABLE

    def idle(self):
        return self.flags == {"IDLE"}

    def out_of_service(self):
        return bool(self.flags & OUT_OF_SERVICE)

    def drained_by_a_check(self):
        return "DRAIN" in self.flags and self.reason.startswith(OWN_PREFIX)

    def described(self):
        return "%s (%s%s)" % (self.name, self.state.lower(), ", \"%s\"" % self.reason if self.reason else "")


REASON = re.compile(r" Reason=(.*?)(?: \[[^\]]*\])?\s*$")


def parse_node(line):
    """One line of `scontrol show node -o`."""
    name = re.search(r"^NodeName=(\S+)", line)
    state = re.search(r" State=(\S+)", line)
    if not name or not state:
        return None
    reason = REASON.search(line)
    return Node(name.group(1), state.group(1), reason.group(1) if reason else "")


def nodes(names=None):
    """The named nodes (every node when None), by name."""
    argv = ["scontrol", "show", "node", "-o"] + ([",".join(names)] if names else [])
    done = checked(argv, "asking Slurm for its nodes")
    found = [parse_node(line) for line in done.stdout.splitlines()]
    return {node.name: node for node in found if node}


def expand(host_list):
    """node[1-3] as node1, node2, node3."""
    done = checked(["scontrol", "show", "hostnames", host_list], "reading the host list %s" % host_list)
    return done.stdout.split()


def compress(names):
    if not names:
        return ""
    return checked(["scontrol", "show", "hostlistsorted", ",".join(names)], "writing a host list").stdout.strip()


def partition_nodes(partition):
    done = run(["scontrol", "show", "partition", partition, "-o"], "asking Slurm for partition %s" % partition)
    if "not found" in done.stdout + done.stderr:
        raise CheckError("partition %s: Slurm does not know it" % partition)
    if done.returncode != 0 or "PartitionName=" not in done.stdout:
        raise CheckError("asking Slurm for partition %s: %s" % (partition, first_line(done)))
    listed = re.search(r" Nodes=(\S+)", done.stdout)
    if not listed or listed.group(1) == "(null)":
        raise CheckError("partition %s has no nodes" % partition)
    return expand(listed.group(1))


def drain_command(name, reason):
    return ["scontrol", "update", "nodename=" + name, "state=drain", "reason=" + reason]


def resume_command(name):
    return ["scontrol", "update", "nodename=" + name, "state=resume"]


def shown(argv):
    """A command as a shell would take it: the reason between double quotes
    (our own words, never a quote or a dollar in them)."""
    return " ".join('%s="%s"' % tuple(word.split("=", 1)) if word.startswith("reason=") else word for word in argv)


def apply(argv):
    checked(argv, shown(argv))


def create_reservation(name, names, minutes, user):
    """A maintenance reservation on NAMES from now on, for USER alone: the
    nodes a re-test resumes take no one else's job while it runs."""
    checked(["scontrol", "create", "reservation", "ReservationName=" + name, "StartTime=now",
             "Duration=%d" % minutes, "Nodes=" + ",".join(names), "Users=" + user, "Flags=MAINT,IGNORE_JOBS"],
            "reserving %s for the re-test" % compress(names))


def delete_reservation(name):
    checked(["scontrol", "delete", "reservation=" + name], "removing the reservation %s" % name)


def running_jobs():
    """The ids of the jobs Slurm holds now, as text."""
    return checked(["squeue", "-h", "-o", "%i"], "asking Slurm for its jobs").stdout.split()


def cancel(job):
    run(["scancel", job], "cancelling job %s" % job)
