"""stelvane-check against the real Slurm of a virtual cluster of eight nodes:
a history built by checks, a throttled node drained with the check's own
reason and resumed by a re-test, a node an administrator drained left
alone, a cancelled check, two checks at once, many checks in a row, and
input that must stop a check before it changes anything. Needs root."""
import hashlib
import json
import os
import re
import shutil
import subprocess
import tempfile
import time
import unittest

from cluster_of_its_own import SOURCE, VIRTUAL_CLUSTER, ClusterOfItsOwn
from harness import BIN_DIR, MPI, REPORT, TESTSIZE

CHECK = os.path.join(BIN_DIR, "stelvane-check")
CLUSTER_DIR = "/run/stelvane-vcluster-test-check-" + MPI
cluster = ClusterOfItsOwn(CLUSTER_DIR, *{"openmpi": ("10.246.0", "sco"), "mpich": ("10.245.0", "scm")}[MPI])
NODES = 8
SCRATCH = CLUSTER_DIR + "/scratch"
# Each rank at a share of a CPU of its own, as in the falls test: a node's
# figures stay steady from run to run under the test command's full load.
SHARE, SLOW_SHARE = 20, 3
BENCHMARK = "%s own-share %s" % (VIRTUAL_CLUSTER, TESTSIZE)
# A check of eight test-size ranks at these shares takes some 5 s on an idle
# host, Slurm's steps included; under the test command's full load several
# times that. A bound is what a check may take, with room.
CHECK_BOUND = 180
HISTORY_CHECKS = 4


def node_states():
    """Each node's (state, reason), as Slurm holds them."""
    shown = cluster("exec", "head", "scontrol", "show", "node", "-o").stdout
    states = {}
    for line in shown.splitlines():
        name = re.search(r"^NodeName=(\S+)", line).group(1)
        reason = re.search(r" Reason=(.*?)(?: \[[^\]]*\])?\s*$", line)
        states[name] = (re.search(r" State=(\S+)", line).group(1), reason.group(1) if reason else "")
    return states


def printed_drains(output):
    """The drains a check printed, by node: its reason."""
    return dict(re.findall(r'^scontrol update nodename=(\S+) state=drain reason="(.*)"$', output, re.M))


def folder_digest(folder):
    """What the history's result files hold, by name."""
    digests = {}
    for name in os.listdir(folder):
        if name.startswith("results_stelvane_"):
            with open(os.path.join(folder, name), "rb") as f:
                digests[name] = hashlib.sha256(f.read()).hexdigest()
    return digests


class Check(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cluster.bring_up(cls, ("up", str(NODES)), ("slurm", "up"), ("throttle-each", "all", str(SHARE)))

    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="stelvane-check-")
        self.addCleanup(shutil.rmtree, self.work, True)
        self.history = os.path.join(self.work, "runs")
        os.mkdir(self.history)
        self.addCleanup(self.resume_every_node)

    def resume_every_node(self):
        for name, (state, _) in node_states().items():
            if "DRAIN" in state:
                cluster("exec", "head", "scontrol", "update", "nodename=" + name, "state=resume")

    def check_argv(self, *args, history=None, benchmark=BENCHMARK):
        return ["exec", "head", CHECK, "--partition", "vc", "--scratch", SCRATCH, "--history",
                history or self.history, "--benchmark", benchmark, "--report", REPORT] + list(args)

    def check(self, *args, status=0, history=None, benchmark=BENCHMARK):
        done = subprocess.run([VIRTUAL_CLUSTER] + self.check_argv(*args, history=history, benchmark=benchmark),
                              env=cluster.environment(), stdin=subprocess.DEVNULL, capture_output=True,
                              text=True, timeout=CHECK_BOUND)
        self.assertEqual(done.returncode, status, done.stdout + done.stderr)
        return done.stdout

    def scratch_left(self):
        found = {"node%d" % k: cluster("exec", "node%d" % k, "find", SCRATCH, "-mindepth", "1").stdout.split()
                 for k in range(1, NODES + 1)}
        return {node: files for node, files in found.items() if files}

    def test_a_slow_node_drained_and_resumed_by_a_retest_and_an_administrators_drain_left_alone(self):
        cluster("exec", "head", "scontrol", "update", "nodename=node5", "state=drain", "reason=disk replaced")
        for _ in range(HISTORY_CHECKS):
            self.check()
        cluster("throttle-each", "node3", str(SLOW_SHARE))
        self.addCleanup(cluster, "throttle-each", "node3", str(SHARE))
        metrics = os.path.join(self.work, "stelvane.prom")
        output = self.check("--apply", "--prometheus", metrics)
        drains = printed_drains(output)
        self.assertEqual(list(drains), ["node3"], output)
        self.assertRegex(drains["node3"], r"^stelvane: slow(, probably [a-zA-Z ]+)? \(0\.\d\d of its peers\)$")
        # What was printed is what Slurm holds: node3 with that reason, node5
        # with the administrator's, every other node in service.
        states = node_states()
        self.assertEqual({n: r for n, (s, r) in states.items() if "DRAIN" in s},
                         {"node3": drains["node3"], "node5": "disk replaced"})
        self.assertIn("leaves out node5 (idle+drain, \"disk replaced\")", output)
        with open(metrics) as f:
            self.assertRegex(f.read(), r'stelvane_node_verdict\{node="node3",verdict="slow"[^}]*\} 1\n')

        cluster("throttle-each", "node3", str(SHARE))
        output = self.check("--apply", "--retest", "--resume-own")
        # Suspect where one measurement strayed under the other lanes' load:
        # never a drain, so resumed as well.
        self.assertRegex(output, r"node3 is (ok|suspect) now[^\n]*: resumed")
        self.assertEqual(printed_drains(output), {})
        states = node_states()
        self.assertEqual({n: r for n, (s, r) in states.items() if "DRAIN" in s}, {"node5": "disk replaced"})
        self.assertEqual(cluster("exec", "head", "scontrol", "show", "reservation", "-o").stdout.strip(),
                         "No reservations in the system")
        self.assertEqual(len(folder_digest(self.history)), HISTORY_CHECKS + 2)
        self.assertEqual(self.scratch_left(), {})

    def test_a_cancelled_check_drains_nothing_and_a_second_check_leaves(self):
        self.check()
        kept = folder_digest(self.history)
        held = os.path.join(self.work, "hold")
        flag = os.path.join(self.work, "flag")
        open(held, "w").close()
        self.addCleanup(lambda: os.path.exists(held) and os.unlink(held))
        # Rank 1 held in its second measurement until the test lets it go:
        # the job is cancelled mid-run, whatever the load.
        hooks = {"STELVANE_TEST_DELAY_RANK": "1", "STELVANE_TEST_DELAY_MS": "0", "STELVANE_TEST_DELAY_FLAG": flag,
                 "STELVANE_TEST_HOLD_FILE": held}
        first = subprocess.Popen([VIRTUAL_CLUSTER] + self.check_argv("--apply"),
                                 env=cluster.environment(**hooks), stdin=subprocess.DEVNULL,
                                 stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        self.addCleanup(first.kill)
        deadline = time.monotonic() + CHECK_BOUND
        while self.measurement_of(flag) < 2:
            self.assertLess(time.monotonic(), deadline, "rank 1 never reached its second measurement")
            self.assertIsNone(first.poll(), first.stdout.read() if first.poll() is not None else "")
            time.sleep(0.1)
        second = self.check("--apply", status=3)
        self.assertRegex(second, r"another check is running in %s \(process \d+ on head" % re.escape(self.history))
        cluster("exec", "head", "scancel", "--user=root")  # the check's job, the only one
        output, _ = first.communicate(timeout=CHECK_BOUND)
        self.assertEqual(first.returncode, 2, output)
        self.assertIn("nothing is drained", output)
        self.assertEqual(printed_drains(output), {})
        self.assertEqual(folder_digest(self.history), kept)
        self.assertFalse(any("DRAIN" in s for s, _ in node_states().values()))
        # The cancelled job's folders are removed by the next check.
        os.unlink(held)
        self.check()
        self.assertEqual(self.scratch_left(), {})

    def test_input_that_stops_a_check_before_it_changes_anything(self):
        self.check()
        kept = folder_digest(self.history)
        cases = [
            (["--history", os.path.join(self.work, "none")], "the history folder %s/none does not exist" % self.work),
            (["--partition", "nowhere"], "partition nowhere: Slurm does not know it"),
            (["--groups", self.write("groups.txt", "gen3 node[1-3\n")],
             'groups.txt:1: expected a group name'),
            (["--scratch", SCRATCH + "/on-seven-nodes"], "node4: the scratch folder %s/on-seven-nodes is missing"
             % SCRATCH),
        ]
        for k in range(1, NODES + 1):
            if k != 4:
                cluster("exec", "node%d" % k, "mkdir", SCRATCH + "/on-seven-nodes")
                self.addCleanup(cluster, "exec", "node%d" % k, "rm", "-r", SCRATCH + "/on-seven-nodes")
        for extra, said in cases:
            with self.subTest(said=said):
                output = self.check("--apply", *extra, status=1)
                self.assertIn(said, output)
                self.assertEqual(printed_drains(output), {})
                self.assertEqual(folder_digest(self.history), kept)
        # A read-only history, and a Slurm that does not answer.
        readonly = os.path.join(self.work, "readonly")
        os.mkdir(readonly)
        subprocess.run(["mount", "-t", "tmpfs", "-o", "ro", "tmpfs", readonly], check=True)
        self.addCleanup(subprocess.run, ["umount", readonly])
        # (on this host: a folder the check cannot use stops it before it asks Slurm anything)
        done = subprocess.run([CHECK] + self.check_argv(history=readonly)[3:], capture_output=True, text=True,
                              timeout=CHECK_BOUND)
        self.assertEqual(done.returncode, 1, done.stdout + done.stderr)
        self.assertIn("the history folder %s is not readable and writable by root" % readonly, done.stdout)
        with open(CLUSTER_DIR + "/slurm/slurm.conf") as conf:
            dead = self.write("dead.conf", conf.read() + "SlurmctldPort=6999\n")
        done = subprocess.run([VIRTUAL_CLUSTER, "exec", "head", "env", "SLURM_CONF=" + dead] +
                              self.check_argv("--apply")[2:], env=cluster.environment(),
                              capture_output=True, text=True, timeout=CHECK_BOUND)
        self.assertEqual(done.returncode, 1, done.stdout)
        self.assertIn("Unable to contact slurm controller", done.stdout)
        self.assertEqual(folder_digest(self.history), kept)
        self.assertFalse(any("DRAIN" in s for s, _ in node_states().values()))

    @staticmethod
    def measurement_of(flag):
        """The measurement the held rank has begun (0 before its first)."""
        try:
            with open(flag) as f:
                return int(f.read().strip() or 0)
        except FileNotFoundError:
            return 0

    def write(self, name, text):
        path = os.path.join(self.work, name)
        with open(path, "w") as f:
            f.write(text)
        return path

    def test_the_scrontab_line(self):
        # Debian's Slurm has no scrontab: its options go to sbatch --test-only
        # (the controller's own check), its time fields to cron's grammar.
        with open(os.path.join(SOURCE, "packaging", "check", "stelvane-check.scrontab")) as f:
            lines = f.read().splitlines()
        options = [word for line in lines if line.startswith("#SCRON") for word in line.split()[1:]]
        [entry] = [line for line in lines if line.strip() and not line.startswith("#")]
        fields = entry.split(None, 5)
        for field, (low, high) in zip(fields[:5], [(0, 59), (0, 23), (1, 31), (1, 12), (0, 7)]):
            for part in field.split(","):
                self.assertRegex(part, r"^(\*|\d+(-\d+)?)(/\d+)?$", entry)
                self.assertTrue(all(low <= int(n) <= high for n in re.findall(r"\d+", part.split("/")[0])), entry)
        self.assertEqual(fields[5].split()[0], "/usr/bin/stelvane-check")
        tried = cluster("exec", "head", "sbatch", "--test-only", *options, "--wrap", "true", check=False)
        self.assertEqual(tried.returncode, 0, tried.stderr)
        self.assertIn("to start at", tried.stderr)
        # The check takes the entry's own options.
        arguments = fields[5].split()[1:]
        parsed = subprocess.run([CHECK, "--help"], capture_output=True, text=True)
        for option in (a for a in arguments if a.startswith("--")):
            self.assertIn(option, parsed.stdout)

    # The history's keeping is the check's own: one MPI family shows it, the
    # one whose lane has room for sixty checks (some 4 s each).
    @unittest.skipIf(MPI != "mpich", "sixty checks run under MPICH only")
    def test_sixty_checks_in_a_row(self):
        newest = 7
        # Each rank unthrottled: what is tested is the keeping, not the figures.
        for _ in range(60):
            self.check("--keep", str(newest), benchmark=TESTSIZE)
        kept = sorted(folder_digest(self.history))
        self.assertEqual(len(kept), newest)
        self.assertEqual(self.scratch_left(), {})
        self.assertEqual(os.listdir(self.history).count("stelvane-report-index.sqlite"), 1)
        # The index answers as the files do: the newest run judged against
        # the folder, and against a copy of its files alone.
        fresh = os.path.join(self.work, "fresh")
        os.mkdir(fresh)
        for name in kept:
            shutil.copy(os.path.join(self.history, name), fresh)
        newest_run = max(kept, key=lambda n: os.path.getmtime(os.path.join(self.history, n)))
        answers = [json.loads(subprocess.run([REPORT, "--json", "--history", folder, os.path.join(folder, newest_run)],
                                             capture_output=True, text=True, check=True).stdout)
                   for folder in (self.history, fresh)]
        for answer in answers:
            answer.pop("file")
        self.assertEqual(answers[0], answers[1])
        self.assertEqual(answers[0]["history_runs"], newest - 1)


if __name__ == "__main__":
    unittest.main()
