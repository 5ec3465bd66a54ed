"""Slurm on the virtual cluster: munge and slurmctld on the head, one slurmd
per node, each in the foreground under its node's namespaces."""
import os
import shutil
import subprocess

import state
from settings import Fail, note
from waiting import processes_in, stop, wait_until

SETTINGS = """\
# Written by virtual-cluster: a test cluster inside network namespaces.
ClusterName=stelvane-vc
SlurmctldHost=head({head})
AuthType=auth/munge
AuthInfo=socket={munge}/munge.socket
CredType=cred/munge
SlurmUser=root
SlurmdUser=root
StateSaveLocation={slurm}/ctld
SlurmctldPidFile={slurm}/slurmctld.pid
SlurmctldLogFile={logs}/slurmctld.log
# Node-local: Slurm's PMIx directories are named by job and step only.
SlurmdSpoolDir={local}/slurmd
TmpFS={local}/tmp
SlurmdPidFile={local}/slurmd.pid
SlurmdLogFile={logs}/slurmd-%n.log
SlurmdParameters=config_overrides
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
MpiDefault=none
ReturnToService=2
SchedulerType=sched/backfill
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
AccountingStorageType=accounting_storage/none
JobAcctGatherType=jobacct_gather/none
JobCompType=jobcomp/none
InactiveLimit=0
KillWait=5
MinJobAge=10
SlurmctldTimeout=30
SlurmdTimeout=30
"""


def node_line(settings, k):
    # Two kinds of node, as a site tags its hardware generations.
    features = "gen3" if k <= 3 else "gen2,bigmem"
    return "NodeName=node%d NodeAddr=%s CPUs=4 State=UNKNOWN Features=%s\n" % (
        k, settings.address_of("node%d" % k), features)


def write_conf(settings, count):
    os.makedirs(os.path.join(settings.slurm_dir, "ctld"), exist_ok=True)
    with open(settings.slurm_conf, "w") as f:
        f.write(SETTINGS.format(head=settings.head_address, munge=settings.munge_dir, slurm=settings.slurm_dir,
                                logs=settings.logs, local=settings.local))
        f.writelines(node_line(settings, k) for k in range(1, count + 1))
        f.write("PartitionName=vc Nodes=ALL Default=YES MaxTime=INFINITE State=UP OverSubscribe=YES\n")


def start_daemon(settings, held, node, label, command):
    """Starts COMMAND inside NODE in the background; its PID is the daemon's
    own (exec and the shell inside both exec)."""
    with open(os.path.join(settings.logs, label + ".out"), "ab") as log:
        daemon = subprocess.Popen([settings.program, "exec", node] + command, stdin=subprocess.DEVNULL,
                                  stdout=log, stderr=log, env=dict(os.environ, **settings.environment()))
    held["daemons"][label] = daemon.pid


def idle_nodes(settings):
    listed = subprocess.run([settings.program, "exec", "head", "sinfo", "-h", "-N", "-o", "%N %t"],
                            capture_output=True, text=True, env=dict(os.environ, **settings.environment()))
    return sum(1 for line in listed.stdout.splitlines() if line.split()[1:] == ["idle"])


def up(settings, held_state):
    held = held_state.read()
    if "slurmctld" in held["daemons"]:
        raise Fail("slurm is already up (virtual-cluster slurm down first)")
    for tool in ("munged", "slurmctld", "slurmd", "sinfo"):
        if shutil.which(tool) is None:
            raise Fail("%s is missing (Debian: munge slurmctld slurmd slurm-client)" % tool)
    try:
        with held_state.changing() as held:
            start_all(settings, held)
        # Up when every node is idle; a slurmd takes a moment to register.
        if not wait_until(lambda: idle_nodes(settings) == held["count"], 15 + 0.5 * held["count"], 0.1):
            raise Fail("slurm nodes did not come up (see %s)" % settings.logs)
    except (Fail, OSError, subprocess.CalledProcessError) as error:
        note("slurm up failed; stopping what was started")
        down(settings, held_state, quietly=True)
        raise Fail("slurm up: %s" % error) from None
    print("slurm up: controller on head, %d nodes idle; SLURM_CONF=%s" % (held["count"], settings.slurm_conf))


def start_all(settings, held):
    os.makedirs(settings.munge_dir, mode=0o700, exist_ok=True)
    key = os.path.join(settings.munge_dir, "munge.key")
    with open(os.open(key, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o400), "wb") as f:
        f.write(os.urandom(1024))
    socket = os.path.join(settings.munge_dir, "munge.socket")
    start_daemon(settings, held, "head", "munged",
                 ["munged", "--foreground", "--force", "--socket=" + socket, "--key-file=" + key,
                  "--pid-file=" + os.path.join(settings.munge_dir, "munged.pid"),
                  "--log-file=" + os.path.join(settings.logs, "munged.log"),
                  "--seed-file=" + os.path.join(settings.munge_dir, "munged.seed")])
    if not wait_until(lambda: os.path.exists(socket), 4, 0.02):
        raise Fail("munged did not start (see %s/munged.log)" % settings.logs)
    write_conf(settings, held["count"])
    start_daemon(settings, held, "head", "slurmctld", ["slurmctld", "-D", "-i", "-f", settings.slurm_conf])
    for node in state.node_names(held):
        anchor = str(held["nodes"][node]["anchor"])
        subprocess.run(["nsenter", "-t", anchor, "-m", "--", "mkdir", "-p", os.path.join(settings.local, "slurmd"),
                        os.path.join(settings.local, "tmp")], check=True)
        start_daemon(settings, held, node, "slurmd." + node, ["slurmd", "-D", "-N", node, "-f", settings.slurm_conf])


def down(settings, held_state, quietly=False):
    """A slurmd or slurmctld takes about two seconds to stop: all of them at
    once, and munged, which they authenticate with, after them."""
    if held_state.exists():
        with held_state.changing() as held:
            namespaces = {n["netns"] for n in held["nodes"].values() if n["netns"]}
            daemons = held["daemons"]
            stop(processes_in(namespaces, [pid for label, pid in daemons.items() if label != "munged"]))
            stop(processes_in(namespaces, [daemons["munged"]] if "munged" in daemons else []))
            held["daemons"] = {}
    shutil.rmtree(settings.slurm_dir, ignore_errors=True)
    shutil.rmtree(settings.munge_dir, ignore_errors=True)
    if not quietly:
        print("slurm down")
