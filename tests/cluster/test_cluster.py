"""The benchmark across the nodes of a virtual cluster (scripts/virtual-cluster):
ranks on different nodes talk TCP, each node has its own scratch file system,
and the jobs are started the way the README shows, by Open MPI's launcher
with a hostfile and by Slurm. Needs root."""
import glob
import json
import math
import os
import re
import select
import shutil
import signal
import subprocess
import tempfile
import time
import unittest

from harness import (BIN_DIR, FILL, KEYS, MPI, REPORT, TESTSIZE, TEST_SIZES, Job, check_figures, expected_report,
                     match_lines, measurements, rates, report_of)

SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
VIRTUAL_CLUSTER = os.path.join(SOURCE, "scripts", "virtual-cluster")
EIO_FS = os.path.join(SOURCE, "tests", "e2e", "eio_fs.py")
SCALE = os.path.join(BIN_DIR, "stelvane-mpi-scale")
SCALE_SIZES = {"cycles": 32, "bytes": 4096, "max_ranks": 4096}

# A cluster of the tests' own, beside any a developer may have up; one per
# MPI family, so that the tests of both can run at once.
CLUSTER_ID, NET = {"openmpi": ("stt", "10.251.0"), "mpich": ("stm", "10.249.0")}[MPI]
CLUSTER_DIR = "/run/stelvane-vcluster-test-" + MPI
CLUSTER_ENV = {"STELVANE_VCLUSTER_DIR": CLUSTER_DIR, "STELVANE_VCLUSTER_NET": NET, "STELVANE_VCLUSTER_ID": CLUSTER_ID}
SUBNET = NET + ".0/24"
NODES = 4
SCRATCH = CLUSTER_DIR + "/scratch"
HOSTS_FILE = CLUSTER_DIR + "/hostfile"
HYDRA_HOSTS_FILE = CLUSTER_DIR + "/hostfile.hydra"
# Slurm's PMI plugin for each MPI family: Debian's Open MPI speaks only PMIx
# to Slurm, MPICH's PMI client speaks PMI-2.
SLURM_MPI = {"openmpi": "pmix", "mpich": "pmi2"}[MPI]

# What the tests add to the README's mpirun command: the rsh agent that
# enters a node (there is no sshd), Open MPI's traffic kept on the test
# subnet, and root.
AGENT_AND_SUBNET = ["--mca", "plm_rsh_agent", CLUSTER_DIR + "/rsh-agent",
                    "--mca", "btl", "tcp,self", "--mca", "pml", "ob1",
                    "--mca", "btl_tcp_if_include", SUBNET, "--mca", "oob_tcp_if_include", SUBNET,
                    "--allow-run-as-root"]
READ_ONLY_FAILURES = [m["name"] for m in measurements()]  # every measurement fails, in report order
# Seconds a launcher may take to end a job once rank 0 has ended it: srun
# waits KillWait (5 s here) and 2 s more for a node it cannot reach. The
# elapsed time it bounds counts from rank 0's first measurement, which a
# lost-node job marks (run_start), so the job's start under load is not in it.
TEARDOWN_SECONDS = 15


def run_start(job):
    """When rank 0 began its first measurement (its mark), as the program's
    deadlines count: the launcher's start of the job, which a loaded machine
    makes long, is not theirs."""
    [start] = re.findall(r"stelvane-mark 0 first_measurement (\S+) ", job.stderr)
    return float(start)


# How long a rank of a lost node's job may stay once the node is back.
RANK_GONE_BOUND = 120


def cluster(*args, check=True, env=None):
    full_env = dict(os.environ, **{**CLUSTER_ENV, **(env or {})})
    return subprocess.run([VIRTUAL_CLUSTER] + list(args), env=full_env, capture_output=True, text=True,
                          timeout=120, check=check)


def node_of(rank):
    """--map-by node: rank r on node (r mod NODES) + 1."""
    return "node%d" % (rank % NODES + 1)


def recorded():
    """What virtual-cluster recorded of its nodes and daemons."""
    with open(os.path.join(CLUSTER_DIR, "state.json")) as f:
        return json.load(f)


def netns(node):
    return recorded()["nodes"][node]["netns"]


def processes_in(namespaces, command_name=None):
    """PIDs of the processes in these network namespaces (named command_name)."""
    pids = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open("/proc/%s/comm" % pid) as f:
                named = command_name is None or f.read().strip() == command_name[:15]
            if named and os.readlink("/proc/%s/ns/net" % pid) in namespaces:
                pids.append(int(pid))
        except OSError:
            continue
    return pids


def cpu_hierarchy():
    """Where the cgroups with CPU bandwidth control live, and their
    controllers as /proc/PID/cgroup names them: cgroup v2 with its cpu
    controller on, else v1's cpu hierarchy."""
    if os.path.exists("/sys/fs/cgroup/cgroup.controllers"):
        with open("/sys/fs/cgroup/cgroup.controllers") as f:
            if "cpu" in f.read().split():
                return "/sys/fs/cgroup", ""
    with open("/proc/mounts") as f:
        for fields in (line.split() for line in f):
            options = fields[3].split(",")
            if fields[2] == "cgroup" and "cpu" in options:
                return fields[1], ",".join(o for o in options if o in ("cpu", "cpuacct"))


def leftovers(netns_inodes, daemon_pids, link_prefix=CLUSTER_ID):
    """What a virtual cluster left behind after its down."""
    links = subprocess.run(["ip", "-o", "link"], capture_output=True, text=True).stdout
    found = [l.split(": ")[1] for l in links.splitlines() if l.split(": ")[1].startswith(link_prefix)]
    found += glob.glob("/sys/fs/cgroup/**/stelvane-vcluster-" + link_prefix, recursive=True)
    found += [CLUSTER_DIR] if os.path.exists(CLUSTER_DIR) else []
    with open("/proc/mounts") as f:
        found += [l for l in f if CLUSTER_DIR in l]
    found += ["process %d in a node" % pid for pid in processes_in(netns_inodes)]
    return found + ["daemon %d" % pid for pid in daemon_pids if os.path.exists("/proc/%d" % pid)]


class VirtualCluster(unittest.TestCase):
    """One cluster of 4 nodes with Slurm for all tests; its teardown is
    checked to leave nothing behind, whatever the tests did."""

    @classmethod
    def setUpClass(cls):
        cluster("down")  # what an earlier, interrupted run may have left
        cls.netns, cls.daemons = set(), []
        # Runs even when the set-up fails part way.
        cls.addClassCleanup(cls.take_down)
        cluster("up", str(NODES))
        cls.netns = {netns(n) for n in ["head"] + ["node%d" % k for k in range(1, NODES + 1)]}
        cluster("slurm", "up")
        cls.daemons = list(recorded()["daemons"].values())

    @classmethod
    def take_down(cls):
        cluster("down")
        left = leftovers(cls.netns, cls.daemons)
        if left:
            raise AssertionError("the virtual cluster left: %s" % left)

    def setUp(self):
        self.clean_scratch()
        self.collected = tempfile.mkdtemp(prefix="stelvane-cluster-")
        self.addCleanup(shutil.rmtree, self.collected, True)

    def clean_scratch(self):
        for k in range(1, NODES + 1):
            cluster("exec", "node%d" % k, "find", SCRATCH, "-mindepth", "1", "-delete")

    # ---- running and checking ----------------------------------------------

    def launch(self, command, env=None):
        """Runs a launcher command on the head node, standard input at its end."""
        return self.finish(self.start(command, env or {}))

    def start(self, command, extra_env, output=subprocess.PIPE):
        """Starts a launcher command on the head node, standard input at its end."""
        env = dict(os.environ, **{**CLUSTER_ENV, **extra_env})
        return subprocess.Popen([VIRTUAL_CLUSTER, "exec", "head"] + command, env=env, stdin=subprocess.DEVNULL,
                                stdout=output, stderr=output, start_new_session=True)

    def finish(self, process, timeout=120, stderr_read=b""):
        try:
            stdout, stderr = process.communicate(timeout=timeout)
        except subprocess.TimeoutExpired:
            os.killpg(process.pid, signal.SIGKILL)
            stdout, stderr = process.communicate()
            self.fail("the job outlasted %d s; its standard error:\n%s\nits standard output:\n%s" %
                      (timeout, (stderr_read + (stderr or b"")).decode(errors="replace"),
                       (stdout or b"").decode(errors="replace")[-4000:]))
        return Job(process.returncode, stdout.decode(), (stderr_read + stderr).decode(), "/", None)

    def read_until_marked(self, process, event, ranks=(0,), read=b""):
        """Reads the job's standard error, after what was `read` of it, until
        each of `ranks` has marked `event` (STELVANE_TEST_MARKS); all it read."""
        marks = [b"stelvane-mark %d %s " % (rank, event.encode()) for rank in ranks]
        # Rank 0's measurements alone can come first: bounded as the hold is.
        deadline = time.time() + self.HOLD_BOUND
        while not all(mark in read for mark in marks):
            self.assertLess(time.time(), deadline, "ranks %s never marked %s: waited %d s for it"
                            % (ranks, event, self.HOLD_BOUND))
            if select.select([process.stderr], [], [], 0.1)[0]:
                chunk = os.read(process.stderr.fileno(), 65536)
                self.assertTrue(chunk, "the job ended before ranks %s marked %s" % (ranks, event))
                read += chunk
        return read

    def wait_for_process(self, node, command_name, process):
        """The PIDs of command_name on node, once it runs there."""
        deadline = time.time() + 30
        while True:
            pids = processes_in({netns(node)}, command_name)
            if pids:
                return pids
            self.assertIsNone(process.poll(), "the job ended before %s started on %s" % (command_name, node))
            self.assertLess(time.time(), deadline, "%s never started on %s: waited 30 s for it" % (command_name, node))
            time.sleep(0.05)

    def node_files(self):
        """Each node's scratch, as the node sees it: {node: {name: bytes}}."""
        into = tempfile.mkdtemp(dir=self.collected)
        cluster("collect", into)
        files = {}
        for node in sorted(os.listdir(into)):
            folder = os.path.join(into, node)
            files[node] = {}
            for name in os.listdir(folder):
                with open(os.path.join(folder, name), "rb") as f:
                    files[node][name] = f.read()
        return files

    def result_file(self, files):
        [name] = [n for n in files["node1"] if n.startswith("results_")]
        return name, files["node1"][name].decode().split("\n")[:-1]

    def check_complete_run(self, job, ranks, hosts, sizes=TEST_SIZES):
        """A successful run: both reports line by line, consistent figures,
        each rank's files in its own node's scratch only, and a result file
        stelvane-report reads whole."""
        self.assertEqual(job.rc, 0, job.stderr)
        files = self.node_files()
        name, lines = self.result_file(files)
        console = [l for l in job.console if not l.startswith("salloc: ")]
        match_lines(self, console, expected_report("console", ranks, hosts, SCRATCH + "/" + name), "console")
        match_lines(self, lines, expected_report("file", ranks, hosts), "result file")
        check_figures(self, lines, ranks, hosts, sizes)
        expected = {"node%d" % k: set() for k in range(1, NODES + 1)}
        expected["node1"] |= {name, "data64-sparc-single.tmp", "data64-sparc-single"}
        for rank in range(1, ranks):
            expected[hosts[rank]] |= {"data64-sparc-%d @%s.tmp" % (rank, hosts[rank]),
                                      "data64-sparc-%d @%s" % (rank, hosts[rank])}
        self.assertEqual({node: set(names) for node, names in files.items()}, expected)
        for node, names in files.items():
            for file_name, content in names.items():
                if not file_name.startswith("results_"):
                    self.assertEqual(content, FILL * sizes["bytes"], (node, file_name))
        self.assertEqual(os.listdir(SCRATCH), [], "a node wrote into the host's scratch folder")

    # ---- Open MPI's launcher ---------------------------------------------------

    def mpirun(self, ranks, binary=TESTSIZE, extra=(), forward=(), timeout=None):
        """The README's launcher command for this MPI family, with the
        variables in `forward` passed on to the ranks and an optional time
        limit in seconds."""
        if MPI == "mpich":  # hydra passes every variable on by itself
            limit = ["env", "MPIEXEC_TIMEOUT=%d" % timeout] if timeout else []
            return limit + ["mpiexec.mpich", "-launcher", "rsh", "-launcher-exec", CLUSTER_DIR + "/rsh-agent", "-f",
                            HYDRA_HOSTS_FILE, "-n", str(ranks), "-wdir", SCRATCH] + list(extra) + [binary]
        limit = ["--timeout", str(timeout)] if timeout else []
        passed = [flag for name in forward for flag in ("-x", name)]
        return ["mpirun", "--hostfile", HOSTS_FILE, "--map-by", "node", "-np", str(ranks), "--wdir", SCRATCH] + \
            AGENT_AND_SUBNET + list(extra) + passed + limit + [binary]

    def test_hostfile_one_and_two_ranks_per_node(self):
        # Two per node: ranks that share a node keep their files apart; and
        # 8 is the test build's largest job, every table full.
        for ranks in (4, 8):
            self.clean_scratch()
            self.check_complete_run(self.launch(self.mpirun(ranks)), ranks, [node_of(r) for r in range(ranks)])

    @unittest.skipIf(MPI != "openmpi", "the eager limit is set through Open MPI's TCP transport")
    def test_every_table_message_by_rendezvous(self):
        # 56 bytes is the TCP transport's smallest eager limit; with twelve
        # ranks even the rank table (48 bytes and a header) exceeds it, as
        # every table does at thousands of ranks. A rendezvous send returns
        # only once rank 0 posts its receive, and rank 0 receives in rank
        # order: while rank 1 is held in its first measurement, rank 2 cannot
        # get past its first send to its byte-wise file.
        hold = {"STELVANE_TEST_DELAY_RANK": "1", "STELVANE_TEST_DELAY_MS": "2000"}
        command = self.mpirun(12, SCALE, ["--mca", "btl_tcp_eager_limit", "56", "--mca", "btl_tcp_rndv_eager_limit",
                                          "56"], forward=hold)
        process = self.start(command, hold)
        self.wait_for_process("node3", "stelvane-mpi-scale", process)
        time.sleep(0.5)
        self.assertEqual([n for n in self.node_files()["node3"] if n.startswith("data64-sparc-2 ")], [])
        job = self.finish(process)
        self.check_complete_run(job, 12, [node_of(r) for r in range(12)], SCALE_SIZES)

    def test_a_limit_on_open_files_too_low_for_the_job(self):
        # With rank 0's hard limit at 60, for 40 ranks, it says so once. Over
        # Open MPI's TCP transport every worker that reports holds one of
        # rank 0's descriptors: rank 0 takes the figures of the workers it can
        # hold, gives up the others from the start, saves the file and ends
        # the job, rather than wedge in connections it cannot accept. MPICH
        # (UCX) holds no descriptor per peer: every figure is taken.
        # Rank 0 makes progress for a while before it first counts its
        # descriptors: a connection the last rank opened by then must not
        # hide what a peer costs.
        ranks, limit = 40, 60
        early = {"STELVANE_TEST_PROGRESS_BEFORE_COUNT_MS": "1000", "STELVANE_TEST_MARKS": "1"}
        command = self.mpirun(ranks, SCALE, ["--oversubscribe"] if MPI == "openmpi" else [], forward=early)
        command[-1:] = ["/bin/sh", "-c", 'if [ "${OMPI_COMM_WORLD_RANK:-$PMI_RANK}" = 0 ]; then '
                        'ulimit -Sn %d && ulimit -Hn %d; fi; exec "$0"' % (limit, limit), SCALE]
        job = self.launch(command, env=early)
        warning = ("stelvane-mpi: rank 0 may open %d files (its hard limit), but over TCP a job of %d ranks needs "
                   "about %d" % (limit, ranks, ranks - 1 + 64))
        self.assertEqual(len([l for l in job.stderr.split("\n") if l.startswith(warning)]), 1, job.stderr)
        _, lines = self.result_file(self.node_files())
        report = report_of(lines)
        self.assertTrue(report["complete"], report["truncation"])
        given_up = sorted(int(re.match(r"stelvane-mpi: rank (\d+)", l).group(1)) for l in lines
                          if l.endswith("as rank 0 may open only %d files; its figures from here on are nan" % limit))
        reporting = ranks - 1 - len(given_up)
        if MPI == "openmpi":
            self.assertEqual(job.rc, 3, job.stderr)
            # Exactly as many as its limit leaves room for, beside the
            # descriptors it held when it counted and 16 spare.
            [held] = re.findall(r"^stelvane-mark 0 descriptors_counted \d+ (\d+)$", job.stderr, re.M)
            self.assertEqual(reporting, limit - int(held) - 16, given_up)
        else:
            self.assertEqual(job.rc, 0, job.stderr)
        self.assertEqual(given_up, list(range(reporting + 1, ranks)))
        for measurement in report["measurements"]:
            self.assertFalse(math.isnan(float(measurement["rank0"]["figure"])))
            for worker in measurement["workers"]:
                self.assertEqual(worker["figure"] is None, worker["rank"] > reporting, (measurement["key"], worker))

    # ---- Slurm -------------------------------------------------------------------

    def srun(self, binary=TESTSIZE):
        return ["srun", "--nodes=3", "--ntasks-per-node=1", "--chdir=" + SCRATCH,
                "--mpi=" + SLURM_MPI, binary]

    def check_groups_from_slurm(self):
        """The node features of the cluster's Slurm configuration (node1 to node3 gen3, node4 gen2 and bigmem), as
        `scontrol show nodes` prints them, group the nodes of the run: gen3 judged, gen2 too small to judge."""
        shown = cluster("exec", "head", "scontrol", "show", "nodes")
        self.assertIn("ActiveFeatures=gen3", shown.stdout)
        saved = os.path.join(self.collected, "nodes.txt")
        with open(saved, "w") as f:
            f.write(shown.stdout)
        name, lines = self.result_file(self.node_files())
        path = os.path.join(tempfile.mkdtemp(dir=self.collected), name)
        with open(path, "w") as f:
            f.write("\n".join(lines) + "\n")
        done = subprocess.run([REPORT, "--json", "--slurm-nodes", saved, path], capture_output=True, text=True,
                              timeout=60)
        self.assertEqual(done.returncode, 0, done.stderr)
        groups = json.loads(done.stdout)["groups"]
        self.assertEqual([(g["name"], g["source"], g["host_list"], g["too_small"]) for g in groups],
                         [("gen3", "declared", "node[1-3]", False)])

    def test_srun_salloc_and_sbatch(self):
        nodes = ["node1", "node2", "node3"]
        self.check_complete_run(self.launch(self.srun()), 3, nodes)
        self.check_groups_from_slurm()
        self.clean_scratch()
        if MPI == "mpich":  # hydra starts its proxies through Slurm by itself
            salloc = ["salloc", "-N3", "mpiexec.mpich", "-wdir", SCRATCH, TESTSIZE]
        else:
            salloc = ["salloc", "-N3", "mpirun", "--map-by", "node", "--wdir", SCRATCH] + AGENT_AND_SUBNET + [TESTSIZE]
        self.check_complete_run(self.launch(salloc), 3, nodes)
        self.clean_scratch()
        output = os.path.join(self.collected, "job.out")
        script = os.path.join(self.collected, "job.sh")
        with open(script, "w") as f:
            f.write("#!/bin/sh\n#SBATCH --nodes=3\n#SBATCH --ntasks-per-node=1\n#SBATCH --output=%s\n"
                    "srun --chdir=%s --mpi=%s %s </dev/null\n" % (output, SCRATCH, SLURM_MPI, TESTSIZE))
        done = self.launch(["sbatch", "--wait", script])
        with open(output) as f:
            done.stdout = f.read()
        self.check_complete_run(done, 3, nodes)

    # ---- faults across nodes -------------------------------------------------------

    def check_read_only_node(self, job):
        """node3 (rank 2) could not write: its six failure lines, nan for its
        figures and the totals, a non-zero exit, the rest of the report whole."""
        self.assertNotEqual(job.rc, 0)
        failures = [l for l in job.stderr.split("\n") if l.startswith("stelvane-mpi: ")]
        prefix = "stelvane-mpi: rank 2 (node3): "
        self.assertEqual([l[len(prefix):].split(" failed")[0] for l in failures if l.startswith(prefix)],
                         list(READ_ONLY_FAILURES), job.stderr)
        self.assertEqual(len(failures), len(READ_ONLY_FAILURES), job.stderr)
        self.assertIn("Read-only file system", failures[0])
        files = self.node_files()
        name, lines = self.result_file(files)
        hosts = ["node1", "node2", "node3"]
        match_lines(self, lines, expected_report("file", 3, hosts), "result file")
        single, workers, totals, ratios = rates(lines)
        self.assertFalse(any(map(math.isnan, single + workers[0::2])))  # rank 0's and rank 1's
        self.assertTrue(all(map(math.isnan, workers[1::2] + totals + ratios)))  # rank 2's and what counts it
        self.assertEqual((len(workers), len(totals)), (12, 6))
        self.assertEqual(files["node3"], {})

    def test_read_only_scratch_on_one_node(self):
        cluster("exec", "node3", "mount", "-o", "remount,ro", SCRATCH)
        self.addCleanup(cluster, "exec", "node3", "mount", "-o", "remount,rw", SCRATCH)
        self.check_read_only_node(self.launch(self.mpirun(3)))
        self.clean_scratch()
        # A rank that failed exits non-zero, and srun may end the step when a
        # rank does. With rank 1 held in its measurements, rank 0 is still
        # waiting for its figures when the failed rank 2 is done, and must be
        # let finish.
        self.check_read_only_node(self.launch(self.srun(), env={"STELVANE_TEST_DELAY_RANK": "1",
                                                                 "STELVANE_TEST_DELAY_MS": "300"}))

    # ---- a node lost mid-run ---------------------------------------------------
    #
    # Four ranks, one per node; rank 2 runs on node3 and is held in its second
    # measurement. Then something happens to node3; rank 0 gives it up by its
    # own rule, or saves what it has when the launcher ends the job, and the
    # other nodes' figures are all there.

    HELD = {"STELVANE_TEST_DELAY_RANK": "2", "STELVANE_TEST_DELAY_MS": "0",
            "STELVANE_TEST_DELAY_FLAG": "/dev/shm/held", "STELVANE_TEST_HOLD_FILE": "/dev/shm/hold",
            "STELVANE_TEST_MARKS": "1"}

    HOLD_BOUND = 240

    def lose_node3(self, command, fault, bound, then=None):
        """Starts `command`, does `fault` (given rank 2's PIDs) once rank 0
        has measured alone and rank 2 is held in its second measurement, its
        first answered, and `then` once the other workers have answered
        everything; returns the job (within `bound` seconds) and the seconds
        from rank 0's first measurement to the job's end. The workers measure
        while rank 0 does, so on a busy host rank 2 could otherwise be done
        before rank 0; it is let go once the fault is done."""
        cluster("exec", "node3", "rm", "-f", "/dev/shm/held")
        cluster("exec", "node3", "touch", "/dev/shm/hold")
        process = self.start(command, self.HELD)
        # The job's start and rank 0's measurements alone come first: 60 s
        # once under the test command's full load on two cores, so four
        # times that. The wait ends as soon as rank 2 is held, or the job ends.
        deadline = time.time() + self.HOLD_BOUND
        while cluster("exec", "node3", "cat", "/dev/shm/held", check=False).stdout.strip() != "2":
            self.assertIsNone(process.poll(), "the job ended before rank 2 was held")
            if time.time() > deadline:
                os.killpg(process.pid, signal.SIGKILL)
                self.fail("rank 2 was never held in its second measurement: waited %d s for it" % self.HOLD_BOUND)
            time.sleep(0.05)
        stderr_read = self.read_until_marked(process, "measured")
        fault(self.wait_for_process("node3", "stelvane-mpi-testsize", process))
        cluster("exec", "node3", "rm", "-f", "/dev/shm/hold")
        if then:
            stderr_read = self.read_until_marked(process, "at_the_end", (1, 3), stderr_read)
            then()
        job = self.finish(process, bound, stderr_read)
        return job, time.time() - run_start(job)

    def srun4(self, *extra):
        return ["srun", "--nodes=4", "--ntasks-per-node=1", "--chdir=" + SCRATCH, "--mpi=" + SLURM_MPI] + \
            list(extra) + [TESTSIZE]

    def check_lost_node3(self, job, elapsed=None, why=None, ended_by_signal=False):
        """A non-zero status; a whole result file in which node3 is failed for
        giving no answer from some measurement on, its earlier figures kept;
        every other rank's figures in all six measurements; no other node
        failed; no rank left on any node. The line that gives node3 up is in
        the result file, and on standard error unless the launcher was ended
        by a signal (it may be gone before it has passed rank 0's output on).
        With `elapsed`, the job ended within the time the line states, plus
        the launcher's teardown."""
        self.assertNotEqual(job.rc, 0, job.stderr)
        _, lines = self.result_file(self.node_files())
        report = report_of(lines)
        self.assertTrue(report["complete"], report["truncation"])
        self.assertEqual(report["failed_nodes"], ["node3"])
        self.assertIn("node3", report["drain_host_list"].split(","))
        [node3] = [n for n in report["nodes"] if n["node"] == "node3"]
        lost_in = KEYS.index(node3["no_answer_in"])
        for index, measurement in enumerate(report["measurements"]):
            self.assertFalse(math.isnan(float(measurement["rank0"]["figure"])))
            for worker in measurement["workers"]:
                lost = worker["rank"] == 2 and index >= lost_in
                self.assertEqual(worker["figure"] is None, lost, (measurement["key"], worker))
        [line] = [l for l in lines if "no answer in" in l]
        if not ended_by_signal:
            self.assertEqual([l for l in job.stderr.split("\n") if "no answer in" in l], [line], job.stderr)
        self.assertTrue(line.startswith("stelvane-mpi: rank 2 (node3): no answer in " +
                                        measurements()[lost_in]["name"]), line)
        if why:
            self.assertIn(why, line)
        # Slurm may take an unreachable node for dead first and end the job
        # with SIGTERM, on which rank 0 saves as well.
        stated = re.search(r"within (\d+) s of the start", line)
        if elapsed is not None and stated:
            self.assertLess(elapsed, float(stated.group(1)) + TEARDOWN_SECONDS, line)
        # node3 comes back, and whatever of the job it still held goes. Under
        # Slurm its slurmd must first be reached again: the controller
        # pings every SlurmdTimeout / 3 (10 s) and retries the step's kill
        # on each, then KillWait (5 s). Under the test command's full load
        # this once took over 30 s; 120 s is four times that.
        cluster("freeze", "node3", "off")
        cluster("link", "node3", "up")
        deadline = time.time() + RANK_GONE_BOUND
        while processes_in(self.netns, "stelvane-mpi-testsize"):
            self.assertLess(time.time(), deadline, "a rank on node3 outlived its job: waited %d s for it to go, "
                            "node3 back" % RANK_GONE_BOUND)
            time.sleep(0.2)

    def test_a_stopped_rank_is_given_up_and_the_job_ends(self):
        # The rank alone stops, as a process stuck in a hung call would.
        # No time limit: the program's own rule ends the job.
        job, elapsed = self.lose_node3(self.mpirun(4, forward=list(self.HELD)), self.stop, 120)
        self.check_lost_node3(job, elapsed)

    @unittest.skipIf(MPI != "openmpi", "srun's part is the same for both families; tested under Open MPI")
    def test_a_frozen_node_under_slurm(self):
        # Its slurmd is frozen too: srun waits KillWait for it after the
        # program ends the job, then ends the step.
        self.addCleanup(self.resume, "node3")
        job, elapsed = self.lose_node3(self.srun4(), self.freeze_node3, 120)
        self.check_lost_node3(job, elapsed)

    def test_a_killed_worker(self):
        # srun lets the others run on, and the rule gives the dead rank up;
        # so does MPICH's hydra across nodes, told not to clean up, whose
        # SIGUSR1 to every rank must not end rank 0's wait for the others.
        self.addCleanup(self.resume, "node3")
        job, elapsed = self.lose_node3(self.srun4(), self.kill, 120)
        self.check_lost_node3(job, elapsed)
        if MPI == "mpich":
            self.clean_scratch()
            job, elapsed = self.lose_node3(self.mpirun(4, extra=["-disable-auto-cleanup"]), self.kill, 120)
            self.check_lost_node3(job, elapsed, why="s of the start")

    def test_a_time_limit_shorter_than_the_rule(self):
        # The launchers' own limits kill without a word (mpirun --timeout,
        # MPIEXEC_TIMEOUT); a signal at the limit lets rank 0 save what it
        # has: Open MPI's mpirun passes SIGUSR1 on to the ranks, hydra SIGTERM.
        # The limit comes once rank 2 has stopped and the others are done:
        # timeout's alarm, early.
        warning = "USR1" if MPI == "openmpi" else "TERM"
        command = ["timeout", "-s", warning, "-k", "60", "600"] + self.mpirun(4, forward=list(self.HELD))
        def time_limit():
            [limit] = processes_in({netns("head")}, "timeout")
            os.kill(limit, signal.SIGALRM)
        job, _ = self.lose_node3(command, self.stop, 90, then=time_limit)
        self.check_lost_node3(job, why="before the job was ended (SIG%s)" % warning, ended_by_signal=True)
        self.clean_scratch()
        # Slurm's time limit and scancel send SIGTERM to every task.
        self.addCleanup(self.resume, "node3")
        job, _ = self.lose_node3(self.srun4("--job-name=stelvane-lost"), self.stop, 60,
                                 then=lambda: cluster("exec", "head", "scancel", "--name=stelvane-lost"))
        self.check_lost_node3(job, why="before the job was ended (SIGTERM)", ended_by_signal=True)

    # A stuck rank and a lost network are the node's own; rank 0's part is the
    # same under both families, and their launchers' is tested above.
    @unittest.skipIf(MPI != "openmpi", "tested under Open MPI")
    def test_a_rank_stuck_on_a_disk_that_stops_answering(self):
        # node3's scratch behind a file system that never answers: rank 2
        # waits in the kernel, where no signal reaches it. Rank 0 saves and
        # the job ends; the stuck process stays until the disk lets go.
        cluster("exec", "node3", "mkdir", "-p", "/dev/shm/under")
        disk = subprocess.Popen([VIRTUAL_CLUSTER, "exec", "node3", "/usr/bin/python3", EIO_FS, "/dev/shm/under", SCRATCH,
                                 "hang"], env=dict(os.environ, **CLUSTER_ENV), start_new_session=True)
        self.addCleanup(self.release_disk, disk)
        deadline = time.time() + 30
        while not self.hung_disk_mounted():
            self.assertLess(time.time(), deadline, "the hung disk was never mounted: waited 30 s for it")
            time.sleep(0.1)
        started = time.time()
        job = self.launch(self.mpirun(4))
        elapsed = time.time() - started
        [stuck] = processes_in({netns("node3")}, "stelvane-mpi-testsize")
        with open("/proc/%d/stat" % stuck) as f:
            self.assertEqual(f.read().rsplit(")", 1)[1].split()[0], "D")
        self.release_disk(disk)
        self.check_lost_node3(job, elapsed)

    def release_disk(self, disk):
        """The hung disk's process ends, which fails every request it holds."""
        for pid in processes_in({netns("node3")}, "python3"):
            os.kill(pid, signal.SIGKILL)
        disk.wait(30)
        if self.hung_disk_mounted():  # node3's own scratch lies beneath
            cluster("exec", "node3", "umount", "-l", SCRATCH)

    @staticmethod
    def hung_disk_mounted():
        """Whether the hung disk is mounted on node3's scratch. Only that mount
        counts: node3's table also shows the FUSE disks of the tests beside
        this one, and taking one of them for it would unmount node3's own
        scratch, whose files then land in the host's."""
        fields = [line.split() for line in cluster("exec", "node3", "cat", "/proc/mounts").stdout.splitlines()]
        return any(f[1] == SCRATCH and f[2].split(".")[0] == "fuse" for f in fields if len(f) > 2)

    @unittest.skipIf(MPI != "openmpi", "tested under Open MPI")
    def test_a_node_whose_network_goes_away(self):
        self.addCleanup(cluster, "link", "node3", "up")
        self.addCleanup(self.resume, "node3")
        job, elapsed = self.lose_node3(self.srun4(), lambda _pids: cluster("link", "node3", "down"), 120)
        self.check_lost_node3(job, elapsed)

    @staticmethod
    def kill(pids):
        for pid in pids:
            os.kill(pid, signal.SIGKILL)

    @staticmethod
    def stop(pids):
        """The rank stops where it stands; its node's daemons go on."""
        for pid in pids:
            os.kill(pid, signal.SIGSTOP)

    def freeze_node3(self, _pids):
        """Every process of node3 stops where it stands, its daemons too."""
        self.addCleanup(cluster, "freeze", "node3", "off")
        cluster("freeze", "node3", "on")

    def resume(self, node):
        """Brings a node that Slurm took for dead back into service, and
        waits until no job step is left anywhere, so that the next job starts
        at once."""
        cluster("freeze", node, "off")
        deadline = time.time() + 120
        while cluster("exec", "head", "sinfo", "-h", "-n", node, "-o", "%T", check=False).stdout.strip() != "idle" or \
                cluster("exec", "head", "squeue", "-h", check=False).stdout.strip():
            cluster("exec", "head", "scontrol", "update", "nodename=" + node, "state=resume", check=False)
            self.assertLess(time.time(), deadline, node + " did not come back: waited 120 s for it")
            time.sleep(1)

    # ---- the slow node ----------------------------------------------------------

    def test_each_process_of_a_node_at_a_share_of_its_own(self):
        # A process own-share starts on a node with a share per process sits
        # in a cgroup of its own, capped at that share; elsewhere it stays in
        # its node's group.
        cluster("throttle-each", "node3", "12.5")
        self.addCleanup(cluster, "throttle-each", "node3", "off")
        refused = cluster("throttle-each", "node3", "0.5", check=False)
        self.assertEqual(refused.returncode, 1)
        self.assertIn("PERCENT must be 1 to 100 or off, not '0.5'", refused.stderr)

        def group_and_cap(node):
            shown = cluster("exec", node, VIRTUAL_CLUSTER, "own-share", "cat", "/proc/self/cgroup").stdout
            root, controllers = cpu_hierarchy()
            group = root + [l.split(":", 2)[2] for l in shown.splitlines() if l.split(":")[1] == controllers][0]
            if os.path.exists(group + "/cpu.max"):
                with open(group + "/cpu.max") as f:
                    return group, f.read().split()
            with open(group + "/cpu.cfs_quota_us") as f, open(group + "/cpu.cfs_period_us") as g:
                return group, [f.read().strip(), g.read().strip()]

        group, cap = group_and_cap("node3")
        self.assertRegex(group, r"/stelvane-vcluster-%s/node3\.rank\.\d+$" % CLUSTER_ID)
        self.assertEqual(cap, ["1250", "10000"])
        other, _ = group_and_cap("node2")
        self.assertTrue(other.endswith("/stelvane-vcluster-%s/node2" % CLUSTER_ID), other)
        cluster("throttle-each", "node3", "off")
        self.assertFalse(os.path.exists(group), "the process's group outlived its share")

    @unittest.skipIf(MPI != "openmpi", "stelvane-report's part; the runs are the same under both families")
    def test_a_slowed_node_against_its_own_history(self):
        # At test size only the byte-wise measurements last long enough to
        # judge; two ranks per node make them last longer still.
        # Result files kept in a folder as a site keeps them. Every node is
        # held to 45 % of a CPU, so that its share does not hang on what else
        # the host runs: eight runs make each node's own normal (five are
        # needed; a run in which a node happened to be low does not count),
        # then node3 is capped at 5 % for two runs.
        history = tempfile.mkdtemp(dir=self.collected)
        cluster("throttle", "all", "45")
        self.addCleanup(cluster, "throttle", "all", "off")

        def run_and_keep():
            self.clean_scratch()
            job = self.launch(self.mpirun(8))
            self.assertEqual(job.rc, 0, job.stderr)
            name, lines = self.result_file(self.node_files())
            path = os.path.join(history, name)
            with open(path, "w") as f:
                f.write("\n".join(lines) + "\n")
            return path

        def judged(path):
            done = subprocess.run([REPORT, "--json", "--history", history, path], capture_output=True, text=True,
                                  timeout=120)
            self.assertEqual(done.returncode, 0, done.stderr)
            return {node["node"]: node for node in json.loads(done.stdout)["nodes"]}

        for _ in range(8):
            last = run_and_keep()
        self.assertIsNotNone(judged(last)["node3"]["own_normal"], "node3 has no own normal after eight runs")
        cluster("throttle", "node3", "5")
        first, second = [judged(run_and_keep()) for _ in range(2)]
        self.assertEqual([name for name, node in first.items() if node["by_peers"] == "slow"], ["node3"])
        first, second = first["node3"], second["node3"]
        self.assertTrue(first["own_normal"]["low_run"])
        # One run is never enough on its own line: where node3 is named slow
        # at once, a history run just before was low too, by chance (the
        # host runs other tests beside), as a whole or in a measurement that
        # is low now.
        if first["by_own_normal"] == "slow":
            own = first["own_normal"]
            lasting = [own["lows_of_last"][key] for key in own["low_in"]]
            lasting.append(own["low_runs_of_last"]["low"] if own["low_run"] else 0)
            self.assertGreaterEqual(max(lasting), 2, first)
        self.assertEqual((second["by_own_normal"], second["cause"]["cause"]), ("slow", "cpu"), second)


class FailedUp(unittest.TestCase):
    @unittest.skipIf(MPI != "openmpi", "virtual-cluster's own; no MPI takes part")
    def test_an_up_that_fails_part_way_leaves_nothing(self):
        # A link in the way of node3's makes up fail after two nodes exist.
        env = {"STELVANE_VCLUSTER_ID": "stu", "STELVANE_VCLUSTER_NET": "10.252.0"}
        subprocess.run(["ip", "link", "add", "stu3h", "type", "veth", "peer", "name", "stu3x"], check=True)
        try:
            done = cluster("up", "4", check=False, env=env)
            self.assertNotEqual(done.returncode, 0)
            self.assertIn("up failed; removing what was made", done.stderr)
        finally:
            subprocess.run(["ip", "link", "del", "stu3h"], check=True)
        self.assertEqual(leftovers(set(), [], link_prefix="stu"), [])


if __name__ == "__main__":
    unittest.main()
