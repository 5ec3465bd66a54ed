"""virtual-cluster's commands: each checks its arguments, reads the settings
and the state once, and hands over to the module that does the work."""
import os
import sys

import limits
import nodes
import slurm
from cgroups import Cgroups
from settings import Fail, Settings
from state import State

HELP = """\
A virtual cluster on this host, for trying and testing stelvane-mpi across
nodes without a cluster. Each node is a set of namespaces of its own
(network, hostname, mounts: a node-local scratch tmpfs, /dev/shm, /etc/hosts);
a head node ("head", no scratch) runs the launchers and Slurm's controller,
so that every launcher and daemon lives inside the test subnet: nothing here
can send a packet off the machine.

  virtual-cluster up [N]            create N nodes (default 4) and the head
  virtual-cluster down              remove everything up and slurm made
  virtual-cluster status            nodes, addresses, daemons
  virtual-cluster exec NODE CMD...  run CMD inside NODE (or head)
  virtual-cluster mpirun ARGS...    Open MPI's mpirun on the head, with the
                                    hostfile, the rsh agent and the subnet
  virtual-cluster mpirun-flags      the agent and subnet flags alone
  virtual-cluster mpiexec ARGS...   MPICH's mpiexec (hydra) on the head, with
                                    its host file and the rsh agent
  virtual-cluster slurm up|down     munge, slurmctld on the head, one slurmd
                                    per node, all in the foreground
  virtual-cluster throttle NODE|all PERCENT|off
                                    cap every process of NODE at PERCENT of
                                    one CPU (cgroup CPU bandwidth control);
                                    with every node capped and the caps
                                    together under the host's cores, nodes no
                                    longer compete for them (a quiet cluster)
  virtual-cluster throttle-each NODE|all PERCENT|off
                                    give each process that starts on NODE
                                    through own-share PERCENT (decimals
                                    allowed) of one CPU in a cgroup of its
                                    own: a node whose every core is slower
  virtual-cluster own-share CMD...  inside a node: run CMD under the share
                                    throttle-each gave the node, if any
  virtual-cluster throttle-io NODE DEVICE BYTES|off
                                    cap NODE's reads and writes of the block
                                    DEVICE at BYTES per second each
  virtual-cluster freeze NODE on|off
                                    stop every process of NODE where it
                                    stands (cgroup freezer), and let it go on
  virtual-cluster link NODE down|up take NODE's link to the bridge down, as
                                    a node whose network went away, and back
  virtual-cluster collect DIR       copy each node's scratch to DIR/NODE
  virtual-cluster rsh NODE CMD...   the rsh agent the launchers use (as ssh)

Needs root and a kernel with network, UTS and mount namespaces, veth and
bridge links, and (for throttle, freeze, throttle-io) the cgroup controllers.
Several clusters can live side by side, each with its own
  STELVANE_VCLUSTER_DIR  where its files live (default /run/stelvane-vcluster)
  STELVANE_VCLUSTER_NET  its subnet's first three octets (default 10.250.0)
  STELVANE_VCLUSTER_ID   prefix of its links and cgroups (default stv)"""


def mpirun_flags(settings):
    flags = ["--mca", "plm_rsh_agent", settings.rsh_agent, "--mca", "btl", "tcp,self", "--mca", "pml", "ob1",
             "--mca", "btl_tcp_if_include", settings.subnet, "--mca", "oob_tcp_if_include", settings.subnet]
    return flags + (["--allow-run-as-root"] if os.geteuid() == 0 else [])


def arguments(given, count, usage):
    if len(given) != count:
        raise Fail(usage)
    return given


def need_root():
    if os.geteuid() != 0:
        raise Fail("must run as root (namespaces, links, mounts)")


def dispatch(settings, command, rest):
    held_state = State(settings)
    if command in ("-h", "--help", "help", ""):
        print(HELP)
        return
    if command == "mpirun-flags":
        print(" ".join(mpirun_flags(settings)))
        return
    if command == "status":
        nodes.status(settings, held_state)
        return
    if command not in ("exec", "rsh", "mpirun", "mpiexec", "own-share", "collect"):
        need_root()
    cgroups = Cgroups(settings.cgroup_name)
    if command == "up":
        nodes.up(settings, cgroups, held_state, (rest or ["4"])[0])
    elif command == "down":
        nodes.down(settings, cgroups, held_state)
    elif command == "exec":
        if len(rest) < 2:
            raise Fail("exec: NODE CMD...")
        nodes.enter(settings, cgroups, held_state.read(), rest[0], rest[1:])
    elif command == "rsh":
        nodes.rsh(settings, cgroups, held_state.read(), rest)
    elif command == "mpirun":
        nodes.enter(settings, cgroups, held_state.read(), "head",
                    ["mpirun", "--hostfile", settings.hostfile] + mpirun_flags(settings) + rest)
    elif command == "mpiexec":
        nodes.enter(settings, cgroups, held_state.read(), "head",
                    ["mpiexec.mpich", "-launcher", "rsh", "-launcher-exec", settings.rsh_agent,
                     "-f", settings.hydra_hostfile] + rest)
    elif command == "slurm":
        switch = arguments(rest, 1, "slurm up|down")[0]
        if switch not in ("up", "down"):
            raise Fail("slurm up|down")
        slurm.up(settings, held_state) if switch == "up" else slurm.down(settings, held_state)
    elif command in ("throttle", "throttle-each"):
        node, percent = arguments(rest, 2, "%s: NODE|all PERCENT|off" % command)
        (limits.throttle if command == "throttle" else limits.throttle_each)(settings, cgroups, held_state,
                                                                             node, percent)
    elif command == "own-share":
        limits.own_share(settings, cgroups, held_state, rest)
    elif command == "throttle-io":
        limits.throttle_io(settings, cgroups, held_state, *arguments(rest, 3, "throttle-io: NODE DEVICE BYTES|off"))
    elif command == "freeze":
        limits.freeze(settings, cgroups, held_state, *arguments(rest, 2, "freeze: NODE on|off"))
    elif command == "link":
        nodes.link(settings, held_state, *arguments(rest, 2, "link: NODE down|up"))
    elif command == "collect":
        nodes.collect(settings, held_state, arguments(rest, 1, "collect: DIR")[0])
    else:
        raise Fail("unknown command '%s' (virtual-cluster --help)" % command)


def main(program, argv):
    try:
        dispatch(Settings(program), argv[0] if argv else "", argv[1:])
        return 0
    except Fail as failure:
        print("virtual-cluster: %s" % failure, file=sys.stderr)
        return 1
