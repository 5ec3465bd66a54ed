"""The nodes: made at up, entered by exec and the rsh agent, removed at down.

Each node is a set of namespaces held by an anchor process:
  network  a veth pair to a bridge on this host, an address in a private
           test subnet, no default route, no forwarding, IPv6 off: a node
           reaches the other nodes and nothing else;
  UTS      hostname node1 .. nodeN;
  mount    a private tmpfs as node-local scratch (the same path on every
           node, a different file system on each), a private /dev/shm, a
           private tmpfs for daemons, and its own /etc/hosts and
           /etc/resolv.conf (bind-mounted; the host's files are never touched).
The head node (no scratch) runs the launchers and Slurm's controller."""
import os
import shutil
import subprocess

import slurm
import state
from cgroups import write
from settings import Fail, note
from waiting import network_namespace, processes_in, stop, wait_until

# Runs its arguments in the directory given first, or in / when the node
# has no such directory.
IN_DIRECTORY = 'cd "$1" 2>/dev/null || cd /; shift; exec "$@"'


def run(*command, **options):
    subprocess.run(command, check=True, **options)


def in_node(anchor, namespaces, *command):
    run("nsenter", "-t", str(anchor), *namespaces, "--", *command)


def enter(settings, cgroups, held, node, command, environment=None):
    """Replaces this process with COMMAND inside NODE's namespaces and
    groups, in the current directory as the node sees it, with SLURM_CONF set
    so that no Slurm command ever looks its configuration up elsewhere."""
    anchor = state.node_of(held, node)["anchor"]
    cgroups.join(node, os.getpid())
    environment = dict(os.environ if environment is None else environment, SLURM_CONF=settings.slurm_conf)
    directory = os.getcwd() if os.path.isdir(".") else "/"
    os.execvpe("nsenter", ["nsenter", "-t", str(anchor), "-n", "-u", "-m", "--", "/bin/sh", "-c", IN_DIRECTORY,
                           node, directory] + list(command), environment)


def rsh(settings, cgroups, held, arguments):
    """As ssh would: the command words joined into one shell command line,
    run with a fresh environment on the named node."""
    while arguments and arguments[0].startswith("-"):
        arguments = arguments[1:]
    if len(arguments) < 2:
        raise Fail("rsh: NODE CMD...")
    os.chdir("/")
    fresh = dict(PATH=os.environ.get("PATH", "/usr/sbin:/usr/bin:/sbin:/bin"), HOME=os.environ.get("HOME", "/root"),
                 LANG="C", **settings.environment())
    enter(settings, cgroups, held, arguments[0], ["/bin/sh", "-c", " ".join(arguments[1:])], fresh)


# ---- up ----------------------------------------------------------------------

def check_kernel(settings):
    for tool, package in (("ip", "iproute2"), ("nsenter", "util-linux"), ("unshare", "util-linux")):
        if shutil.which(tool) is None:
            raise Fail("%s (%s) is missing" % (tool, package))
    if subprocess.run(["unshare", "--net", "--uts", "--mount", "true"], capture_output=True).returncode:
        raise Fail("this kernel or sandbox refuses network, UTS or mount namespaces (unshare --net --uts --mount failed)")
    probe = settings.id + "probe0"
    if subprocess.run(["ip", "link", "add", probe, "type", "veth", "peer", "name", settings.id + "probe1"],
                      capture_output=True).returncode:
        raise Fail("this kernel cannot make veth links (ip link add ... type veth failed)")
    run("ip", "link", "del", probe)


def write_files(settings, count):
    """The hosts every node sees (and no name server: a name not in them
    fails at once), and the launchers' host files."""
    names = ["node%d" % k for k in range(1, count + 1)]
    with open(os.path.join(settings.root, "hosts"), "w") as f:
        f.write("127.0.0.1 localhost\n%s head\n" % settings.head_address)
        f.writelines("%s %s\n" % (settings.address_of(n), n) for n in names)
    open(os.path.join(settings.root, "resolv.conf"), "w").close()
    with open(settings.hostfile, "w") as f:
        f.writelines("%s slots=%d\n" % (n, settings.SLOTS_PER_NODE) for n in names)
    # MPICH's hydra: one slot a round, so that it deals ranks out node by
    # node as Open MPI's --map-by node does.
    with open(settings.hydra_hostfile, "w") as f:
        f.writelines("%s:1\n" % n for n in names)
    with open(settings.rsh_agent, "w") as f:
        names = " ".join("%s='%s'" % item for item in sorted(settings.environment().items()))
        f.write("#!/bin/sh\n%s exec '%s' rsh \"$@\"\n" % (names, settings.program))
    os.chmod(settings.rsh_agent, 0o755)


def disable_ipv6(link):
    run("sysctl", "-q", "-w", "net.ipv6.conf.%s.disable_ipv6=1" % link)


def make_node(settings, cgroups, held, name):
    """One node: an anchor that holds its namespaces for as long as the node
    lives, its hostname, mounts, link and address."""
    anchor = subprocess.Popen(["setsid", "unshare", "--net", "--uts", "--mount", "--propagation", "private", "--",
                               "sleep", "infinity"], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL).pid
    held["nodes"][name] = {"anchor": anchor, "netns": None}
    # Only once the anchor sits in its own namespaces is its network
    # namespace recorded as the node's.
    host = network_namespace()
    if not wait_until(lambda: network_namespace(anchor) not in (host, None), 2, 0.01):
        raise Fail("%s: its namespaces did not appear" % name)
    held["nodes"][name]["netns"] = network_namespace(anchor)

    in_node(anchor, ["-u"], "hostname", name)
    mounts = [] if name == "head" else [
        ["-t", "tmpfs", "-o", "size=%s,mode=1777" % settings.scratch_size, "%s-scratch-%s" % (settings.id, name),
         settings.scratch]]
    mounts += [["-t", "tmpfs", "-o", "mode=755", "%s-local-%s" % (settings.id, name), settings.local],
               ["-t", "tmpfs", "-o", "mode=1777", "%s-shm-%s" % (settings.id, name), "/dev/shm"],
               ["--bind", os.path.join(settings.root, "hosts"), "/etc/hosts"],
               ["--bind", os.path.join(settings.root, "resolv.conf"), "/etc/resolv.conf"]]
    for mount in mounts:
        in_node(anchor, ["-m"], "mount", *mount)

    host_end, node_end = settings.host_end(name), settings.host_end(name)[:-1] + "n"
    run("ip", "link", "add", host_end, "type", "veth", "peer", "name", node_end, "netns", str(anchor))
    held["links"].append(host_end)
    disable_ipv6(host_end)
    run("ip", "link", "set", host_end, "master", settings.bridge, "up")
    for command in (["sysctl", "-q", "-w", "net.ipv6.conf.all.disable_ipv6=1",
                     "net.ipv6.conf.default.disable_ipv6=1"],
                    ["ip", "link", "set", "lo", "up"],
                    ["ip", "link", "set", node_end, "name", "eth0"],
                    ["ip", "addr", "add", settings.address_of(name) + "/24", "dev", "eth0"],
                    ["ip", "link", "set", "eth0", "up"]):
        in_node(anchor, ["-n"], *command)
    cgroups.make_node(name, anchor)


def up(settings, cgroups, held_state, count_text):
    if not (count_text.isdigit() and 1 <= int(count_text) <= settings.MAX_NODES):
        raise Fail("up: N must be 1 to %d, not '%s'" % (settings.MAX_NODES, count_text))
    count = int(count_text)
    if held_state.exists():
        raise Fail("already up with %d nodes (virtual-cluster down first)" % held_state.read()["count"])
    if subprocess.run(["ip", "link", "show", settings.bridge], capture_output=True).returncode == 0:
        raise Fail("a link named %s exists already; run virtual-cluster down" % settings.bridge)
    check_kernel(settings)
    for folder in (settings.scratch, settings.local, settings.logs):
        os.makedirs(folder, exist_ok=True)
    try:
        with held_state.changing(create=state.empty(count)) as held:
            write_files(settings, count)
            run("ip", "link", "add", settings.bridge, "type", "bridge")
            held["links"].append(settings.bridge)
            disable_ipv6(settings.bridge)
            run("ip", "link", "set", settings.bridge, "up")
            problem = cgroups.make_cluster()
            if problem:
                note(problem)
            for name in ["head"] + state.node_names(held):
                make_node(settings, cgroups, held, name)
    except (Fail, OSError, subprocess.CalledProcessError) as error:
        note("up failed; removing what was made")
        down(settings, cgroups, held_state, quietly=True)
        raise Fail("up: %s" % error) from None
    print("virtual cluster up: %d nodes (node1..node%d, %s.1..%s.%d), head %s, scratch %s" %
          (count, count, settings.net, settings.net, count, settings.head_address, settings.scratch))


# ---- down --------------------------------------------------------------------

def down(settings, cgroups, held_state, quietly=False):
    if not held_state.exists():
        if not quietly:
            print("virtual cluster: nothing to remove")
        return
    held = held_state.read()
    cgroups.thaw_all()
    slurm.down(settings, held_state, quietly=True)
    namespaces = {n["netns"] for n in held["nodes"].values() if n["netns"]}
    anchors = [n["anchor"] for n in held["nodes"].values()]
    # Everything started inside the nodes (ranks, orted, shells), then the anchors.
    stop([pid for pid in processes_in(namespaces) if pid not in anchors])
    stop(processes_in(namespaces, anchors))
    left = processes_in(namespaces)
    if left:
        note("processes still in the nodes' namespaces: %s" % " ".join(map(str, left)))
    # Links go with their namespaces; the host's ends and the bridge are
    # removed here, those that up recorded and no other.
    for link in held["links"]:
        subprocess.run(["ip", "link", "del", link], capture_output=True)
    for group in cgroups.remove_all():
        note("could not remove cgroup %s" % group)
    shutil.rmtree(settings.root, ignore_errors=True)
    if not quietly:
        print("virtual cluster down")


# ---- the other commands --------------------------------------------------------

def link(settings, held_state, node, switch):
    held = held_state.read()
    state.node_of(held, node)
    if node == "head":
        raise Fail("link: the head node's link stays up")
    if switch not in ("down", "up"):
        raise Fail("link: down or up, not '%s'" % switch)
    if settings.host_end(node) not in held["links"]:
        raise Fail("link: %s has no recorded link" % node)
    run("ip", "link", "set", settings.host_end(node), switch)
    print("%s: link %s" % (node, switch))


def collect(settings, held_state, into):
    held = held_state.read()
    for node in state.node_names(held):
        folder = os.path.join(into, node)
        os.makedirs(folder, exist_ok=True)
        packing = subprocess.Popen(["nsenter", "-t", str(held["nodes"][node]["anchor"]), "-m", "--",
                                    "tar", "-C", settings.scratch, "-cf", "-", "."], stdout=subprocess.PIPE)
        unpacked = subprocess.run(["tar", "-C", folder, "-xf", "-"], stdin=packing.stdout)
        packing.stdout.close()
        if packing.wait() or unpacked.returncode:
            raise Fail("collect: copying %s's scratch failed" % node)
    print("copied the scratch of %d nodes to %s" % (held["count"], into))


def status(settings, held_state):
    if not held_state.exists():
        print("virtual cluster: down")
        return
    held = held_state.read()
    print("virtual cluster: %d nodes, subnet %s, scratch %s" % (held["count"], settings.subnet, settings.scratch))
    for node in ["head"] + state.node_names(held):
        print("  %s %s anchor %s" % (node, settings.address_of(node), held["nodes"].get(node, {}).get("anchor", "?")))
    print("  slurm: up (SLURM_CONF=%s)" % settings.slurm_conf if "slurmctld" in held["daemons"] else "  slurm: down")


def move_processes(held, node, group):
    """Moves every process of NODE into GROUP, also one that did not come in
    through exec."""
    netns = state.node_of(held, node)["netns"]
    if not netns or netns == network_namespace():
        raise Fail("%s has no namespace of its own" % node)
    for pid in processes_in({netns}):
        try:
            write(os.path.join(group, "cgroup.procs"), str(pid))
        except OSError:
            pass  # gone meanwhile, or a kernel thread
