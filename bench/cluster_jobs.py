"""Jobs of the scale build on the virtual cluster (scripts/virtual-cluster):
the command under each launcher, the checks of what a run left, and a node
lost mid-run. Ranks are dealt out node by node: rank r runs on node
(r mod NODES) + 1, so rank 2 on node3; or, under srun, rank 2 alone on node3
and the others dealt out over the other nodes."""
import json
import os
import re
import signal
import subprocess
import sys
import threading
import time

import benchlib

sys.dont_write_bytecode = True  # nothing of the virtual cluster's written into the tree
sys.path.insert(0, os.path.join(benchlib.SOURCE, "scripts", "vcluster"))
from waiting import processes_in  # noqa: E402  the virtual cluster's own look-up

VIRTUAL_CLUSTER = os.path.join(benchlib.SOURCE, "scripts", "virtual-cluster")
CLUSTER_DIR = "/run/stelvane-vcluster-scale"
CLUSTER_ENV = {"STELVANE_VCLUSTER_DIR": CLUSTER_DIR, "STELVANE_VCLUSTER_NET": "10.254.0",
               "STELVANE_VCLUSTER_ID": "sts"}
SCRATCH = CLUSTER_DIR + "/scratch"
# Slurm's PMI plugin for each MPI family (Debian's Open MPI speaks PMIx to
# Slurm, MPICH PMI-2).
SLURM_MPI = {"openmpi": "pmix", "mpich": "pmi2"}
# The rank a lost-node run holds in its second measurement, and its node.
LOST_RANK, LOST_NODE = 2, "node3"
HELD = {"STELVANE_TEST_DELAY_RANK": str(LOST_RANK), "STELVANE_TEST_DELAY_MS": "0",
        "STELVANE_TEST_DELAY_FLAG": "/dev/shm/held", "STELVANE_TEST_HOLD_FILE": "/dev/shm/hold",
        "STELVANE_TEST_MARKS": "1"}
# What each launcher tells a rank its number by.
RANK_VARIABLES = (b"OMPI_COMM_WORLD_RANK=", b"PMI_RANK=", b"SLURM_PROCID=")
# Seconds rank 0 may take to write the rest of its report once it has given
# a rank up. What the launcher then takes to end the job is recorded, not
# judged: on this machine it ends hundreds of processes on two cores.
SAVING_SECONDS = 5


def cluster(*args, check=True):
    return subprocess.run([VIRTUAL_CLUSTER] + list(args), env=dict(os.environ, **CLUSTER_ENV), capture_output=True,
                          text=True, check=check, timeout=300)


def dealt_out(ranks, nodes, lost_rank_alone=False):
    """The node of each rank."""
    if not lost_rank_alone:
        return ["node%d" % (rank % nodes + 1) for rank in range(ranks)]
    others = ["node%d" % k for k in range(1, nodes + 1) if "node%d" % k != LOST_NODE]
    return [LOST_NODE if r == LOST_RANK else others[(r - (r > LOST_RANK)) % len(others)] for r in range(ranks)]


def job_command(launcher, nodes, family, hosts, binary, forwarded=(), extra=()):
    """The job's command on the head node under one launcher, its ranks on
    `hosts` (rank r on hosts[r]: dealt out node by node, or under srun any
    layout), with the variables in `forwarded` passed on to the ranks (hydra
    and srun pass every variable on by themselves) and `extra` flags for the
    launcher."""
    ranks = len(hosts)
    if launcher == "hydra":
        return [VIRTUAL_CLUSTER, "mpiexec", "-n", str(ranks), "-wdir", SCRATCH] + list(extra) + [binary]
    if launcher == "srun":
        layout = ["srun", "--distribution=cyclic"]
        if hosts != dealt_out(ranks, nodes):
            host_file = os.path.join(CLUSTER_DIR, "hosts.arbitrary")
            with open(host_file, "w") as f:
                f.write("\n".join(hosts) + "\n")
            layout = ["env", "SLURM_HOSTFILE=" + host_file, "srun", "--distribution=arbitrary"]
        return [VIRTUAL_CLUSTER, "exec", "head"] + layout + ["--nodes=%d" % nodes, "--ntasks=%d" % ranks, "--overcommit",
                                                             "--chdir=" + SCRATCH, "--mpi=" + SLURM_MPI[family]] + \
            list(extra) + [binary]
    passed = [flag for name in forwarded for flag in ("-x", name)]
    return [VIRTUAL_CLUSTER, "mpirun", "--oversubscribe", "--map-by", "node", "-np", str(ranks), "--wdir",
            SCRATCH] + passed + list(extra) + [binary]


def result_report(report_tool):
    """The run's result file as stelvane-report reads it (every line must
    parse), in its JSON form; a file that stops part way reads as not
    complete. Raises, with what the tool said, where it cannot read it."""
    shown = cluster("exec", "node1", "sh", "-c", 'cat "$0"/results_*', SCRATCH).stdout
    done = subprocess.run([report_tool, "--json", "-"], input=shown, capture_output=True, text=True)
    if done.returncode not in (0, 3):  # 3: the file stops part way
        raise RuntimeError("stelvane-report: status %d: %s; the file's last lines:\n%s" % (
            done.returncode, done.stderr.strip(), "\n".join(shown.split("\n")[-5:])))
    return json.loads(done.stdout)


def misplaced_files_and_clean(nodes):
    """Scratch files of a rank found on another node than its own; every
    node's scratch is emptied after."""
    wrong = []
    for node in range(1, nodes + 1):
        names = cluster("exec", "node%d" % node, "ls", SCRATCH).stdout.split("\n")
        wrong += ["%s on node%d" % (n, node) for n in names
                  if n.startswith("data64-sparc-") and not n.endswith("@node%d" % node) and
                  not n.endswith("@node%d.tmp" % node) and "single" not in n]
        cluster("exec", "node%d" % node, "find", SCRATCH, "-mindepth", "1", "-delete")
    return wrong


def misplaced_workers(report, hosts):
    return ["rank %d on %s" % (w["rank"], w["node"]) for m in report["measurements"][:1] for w in m["workers"]
            if w["node"] != hosts[w["rank"]]]


def check_cluster_run(ranks, nodes, report_tool):
    """Every figure of the run's result file is in: all ranks, every
    worker's six figures, no node failed, and each rank on the node it was
    dealt to, its scratch files on that node's own file system. Raises on
    the first thing wrong."""
    report = result_report(report_tool)
    wrong = []
    if (report["ranks"], report["complete"], report["failed_nodes"]) != (ranks, True, []):
        wrong.append("ranks %s, complete %s, failed %s" % (report["ranks"], report["complete"],
                                                          report["failed_nodes"]))
    for measurement in report["measurements"]:
        workers = measurement["workers"]
        if len(workers) != ranks - 1 or any(w["figure"] is None for w in workers):
            wrong.append("%s: %d workers' figures of %d" % (measurement["key"],
                                                            sum(w["figure"] is not None for w in workers), ranks - 1))
    wrong += misplaced_workers(report, dealt_out(ranks, nodes)) + misplaced_files_and_clean(nodes)
    if wrong:
        raise RuntimeError("%d ranks: %s" % (ranks, "; ".join(wrong[:10])))


# ---- a node lost mid-run ----------------------------------------------------


def node_netns(node):
    with open(os.path.join(CLUSTER_DIR, "state.json")) as f:
        return json.load(f)["nodes"][node]["netns"]


def ranks_on(node, binary):
    """{rank: PID} of the job's processes on `node`."""
    found = {}
    for pid in processes_in({node_netns(node)}):
        try:
            if os.readlink("/proc/%d/exe" % pid) != binary:
                continue
            with open("/proc/%d/environ" % pid, "rb") as f:
                variables = f.read().split(b"\0")
        except OSError:
            continue
        for v in variables:
            if v.startswith(RANK_VARIABLES):
                found[int(v.split(b"=", 1)[1])] = pid
                break
    return found


class StandardError(threading.Thread):
    """Reads a job's standard error as it comes, keeping its marks."""

    def __init__(self, stream):
        super().__init__(daemon=True)
        self.stream, self.lines, self.marked = stream, [], threading.Event()

    def run(self):
        for line in self.stream:
            self.lines.append(line)
            if line.startswith("stelvane-mark 0 measured "):
                self.marked.set()

    def mark(self, event):
        for line in self.lines:
            parts = line.split()
            if parts[:3] == ["stelvane-mark", "0", event]:
                return float(parts[3])
        return None


def wait_until(condition, seconds, what, job):
    deadline = time.time() + seconds
    while not condition():
        if job.poll() is not None:
            raise RuntimeError("the job ended (%d) before %s" % (job.returncode, what))
        if time.time() > deadline:
            raise RuntimeError("no %s in %d s" % (what, seconds))
        time.sleep(0.2)


def lose_node(command, fault, binary, bound):
    """Runs `command` with the variables HELD (rank 2 held in its second
    measurement; mpirun must pass them on), and once rank 0 has measured
    alone and rank 2 is held, `fault`s node3: "frozen" stops every process
    of the node where it stands (cgroup freezer), "killed" kills rank 2 alone. {'rc', 'stderr', 'started',
    'faulted', 'ended', 'first_measurement', 'reported'}, times in seconds
    since the epoch (the last two rank 0's marks, None if it made none)."""
    cluster("exec", LOST_NODE, "rm", "-f", "/dev/shm/held")
    cluster("exec", LOST_NODE, "touch", "/dev/shm/hold")
    started = time.time()
    job = subprocess.Popen(command, cwd="/", env=dict(os.environ, **CLUSTER_ENV, **HELD), stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True, start_new_session=True)
    stderr = StandardError(job.stderr)
    stderr.start()
    try:
        held = lambda: cluster("exec", LOST_NODE, "cat", "/dev/shm/held", check=False).stdout.strip() == "2"
        wait_until(held, bound, "rank 2 held in its second measurement", job)
        wait_until(stderr.marked.is_set, bound, "mark of rank 0's measurements", job)
        if fault == "frozen":
            cluster("freeze", LOST_NODE, "on")
        else:
            os.kill(ranks_on(LOST_NODE, binary)[LOST_RANK], signal.SIGKILL)
        faulted = time.time()
        cluster("exec", LOST_NODE, "rm", "-f", "/dev/shm/hold")
        job.wait(timeout=bound)
    except BaseException:
        os.killpg(job.pid, signal.SIGKILL)
        raise
    finally:
        cluster("freeze", LOST_NODE, "off", check=False)
    ended = time.time()
    stderr.join(30)
    return {"rc": job.returncode, "stderr": "".join(stderr.lines), "started": started, "faulted": faulted,
            "ended": ended, "first_measurement": stderr.mark("first_measurement"), "reported": stderr.mark("reported")}


def check_lost_run(hosts, report_tool, run):
    """What a run that lost node3 left: a non-zero status; a whole result
    file in which node3 alone failed; rank 2's figures up to the measurement
    it gave no answer in, none from there on; every rank of the other nodes
    with its six figures; node3's other ranks with theirs or none from one
    measurement on (a frozen node stops them wherever they are); the line
    that gives rank 2 up on standard error and in the file; and the report
    saved within the time that line states, after rank 0 began to measure,
    or the launcher's ending the job first. {'lost_in', 'why', 'saved_after',
    'ended_after', 'node3_ranks_lost', 'wrong'}."""
    ranks, nodes = len(hosts), len(set(hosts))
    report = result_report(report_tool)
    wrong = [] if run["rc"] != 0 else ["status 0"]
    if (report["ranks"], report["complete"], report["failed_nodes"]) != (ranks, True, [LOST_NODE]):
        wrong.append("ranks %s, complete %s, failed %s; standard error's end: %s" % (
            report["ranks"], report["complete"], report["failed_nodes"], run["stderr"][-2000:]))
    keys = [m["key"] for m in report["measurements"]]
    no_answer_in = next((n["no_answer_in"] for n in report["nodes"] if n["node"] == LOST_NODE), None)
    lost_in = keys.index(no_answer_in) if no_answer_in in keys else None
    first_missing = {}
    for index, measurement in enumerate(report["measurements"]):
        for w in measurement["workers"]:
            if w["figure"] is None:
                first_missing.setdefault(w["rank"], index)
            elif w["rank"] in first_missing:
                wrong.append("rank %d has a figure in %s after none" % (w["rank"], measurement["key"]))
    if lost_in is None or first_missing.get(LOST_RANK) != lost_in:
        wrong.append("rank 2 lost in %s, node3 in %s" % (first_missing.get(LOST_RANK), lost_in))
    wrong += ["rank %d of %s lost" % (r, hosts[r]) for r in first_missing if hosts[r] != LOST_NODE]
    wrong += misplaced_workers(report, hosts)
    given_up = [l for l in run["stderr"].split("\n") if l.startswith("stelvane-mpi: rank 2 (node3): no answer in")]
    if len(given_up) != 1:
        wrong.append("%d lines give rank 2 up on standard error" % len(given_up))
    # Rank 0 gives rank 2 up by its own rule, or saves what it has when the
    # launcher ends the job first (Slurm takes a frozen node for dead).
    found = re.search(r"within (\d+) s of the start|before the job was ended \(SIG\w+\)", "".join(given_up[:1]))
    why = found.group(0) if found else "".join(given_up[:1])
    ended_after = run["ended"] - run["first_measurement"]
    saved_after = run["reported"] - run["first_measurement"] if run["reported"] else None
    if not found:
        wrong.append("rank 2 given up %r" % why)
    elif found.group(1) and (saved_after is None or saved_after > int(found.group(1)) + SAVING_SECONDS):
        wrong.append("report saved %s s after the start, beyond %s" % (saved_after, why))
    wrong += misplaced_files_and_clean(nodes)
    return {"lost_in": keys[lost_in] if lost_in is not None else None, "why": why, "saved_after": saved_after,
            "ended_after": ended_after,
            "node3_ranks_lost": sorted(r for r in first_missing if r != LOST_RANK and hosts[r] == LOST_NODE),
            "wrong": wrong}


def left_running(binary, nodes, seconds=60):
    """Ranks of the job still running on any node after `seconds`."""
    deadline = time.time() + seconds
    while True:
        left = {n: sorted(r) for n in ["node%d" % k for k in range(1, nodes + 1)] if (r := ranks_on(n, binary))}
        if not left or time.time() > deadline:
            return left
        time.sleep(1)


def resume_in_slurm(node, seconds=180):
    """Brings a node Slurm took for dead back, and waits for no job step to
    be left, so that the next job starts at once."""
    deadline = time.time() + seconds
    while cluster("exec", "head", "sinfo", "-h", "-n", node, "-o", "%T", check=False).stdout.strip() != "idle" or \
            cluster("exec", "head", "squeue", "-h", check=False).stdout.strip():
        cluster("exec", "head", "scontrol", "update", "nodename=" + node, "state=resume", check=False)
        if time.time() > deadline:
            raise RuntimeError(node + " did not come back into Slurm's service")
        time.sleep(1)
