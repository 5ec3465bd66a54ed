"""The virtual cluster's settings, read once from the environment, and the
error every command reports in one form."""
import os
import re
import sys


class Fail(Exception):
    """A command cannot go on: its message goes to standard error, the
    command exits 1."""


def note(message):
    print("virtual-cluster: " + message, file=sys.stderr, flush=True)


class Settings:
    CPU_PERIOD_US = 10000      # 10 ms: a cap acts within short measurements too
    MIN_CPU_QUOTA_US = 1000    # the kernel's smallest quota
    MAX_NODES = 200
    SLOTS_PER_NODE = 4

    def __init__(self, program, environ=os.environ):
        self.program = program  # this command's own path, for the rsh agent and the daemons
        self.root = environ.get("STELVANE_VCLUSTER_DIR", "/run/stelvane-vcluster")
        self.net = environ.get("STELVANE_VCLUSTER_NET", "10.250.0")
        self.id = environ.get("STELVANE_VCLUSTER_ID", "stv")
        self.scratch_size = environ.get("STELVANE_VCLUSTER_SCRATCH_SIZE", "1g")
        if not re.fullmatch(r"[a-z][a-z0-9]{0,4}", self.id):
            raise Fail("STELVANE_VCLUSTER_ID must be 1 to 5 lower-case letters and digits, not '%s'" % self.id)
        if not re.fullmatch(r"\d{1,3}\.\d{1,3}\.\d{1,3}", self.net):
            raise Fail("STELVANE_VCLUSTER_NET must be three octets (10.250.0), not '%s'" % self.net)
        self.subnet = self.net + ".0/24"
        self.head_address = self.net + ".254"
        self.bridge = self.id + "br0"
        self.scratch = os.path.join(self.root, "scratch")   # node-local scratch, the same path on every node
        self.local = os.path.join(self.root, "local")       # node-local files of daemons (Slurm's spool, tmp)
        self.logs = os.path.join(self.root, "logs")
        self.state_file = os.path.join(self.root, "state.json")
        self.slurm_dir = os.path.join(self.root, "slurm")
        self.slurm_conf = os.path.join(self.slurm_dir, "slurm.conf")
        self.munge_dir = os.path.join(self.root, "munge")
        self.rsh_agent = os.path.join(self.root, "rsh-agent")
        self.hostfile = os.path.join(self.root, "hostfile")
        self.hydra_hostfile = os.path.join(self.root, "hostfile.hydra")
        self.cgroup_name = "stelvane-vcluster-" + self.id

    def environment(self):
        """What names this cluster to a fresh process (the rsh agent's)."""
        return {"STELVANE_VCLUSTER_DIR": self.root, "STELVANE_VCLUSTER_NET": self.net,
                "STELVANE_VCLUSTER_ID": self.id}

    def address_of(self, node):
        return self.head_address if node == "head" else "%s.%s" % (self.net, node[len("node"):])

    def host_end(self, node):
        """The host's end of NODE's veth pair."""
        return "%s%sh" % (self.id, node[len("node"):] if node.startswith("node") else node)
