"""stelvane-check's rules without a cluster: what it drains, in what words,
within which limit, what a re-test leaves resumed, and how the history is
kept. Slurm is a table of node states here; every command the check would
run is recorded instead."""
import argparse
import contextlib
import io
import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "stelvane-check"))
from stelvane_check import actions, history, main, slurm, verdicts  # noqa: E402
from stelvane_check.commands import CheckError  # noqa: E402

# No Slurm command is ever run here; one run by mistake finds no settings
# and asks nothing of the network.
os.environ["SLURM_CONF"] = "/nonexistent/slurm.conf"
STAMP = "results_stelvane_lite_netbsd_sparc64_clusters @ UTC time %s @ node1.txt"


def node(name, verdict="ok", ratio=1.0, cause=None, own=None, failed_in=(), no_answer_in=None, fell=False):
    """A node of the report's JSON: low in two measurements at RATIO by its
    peers, or (OWN) by its own normal."""
    low = ["streams", "descriptors"] if verdict == "slow" else []
    entry = {"node": name, "verdict": verdict, "by_peers": verdict if own is None else "ok",
             "ratios": {k: ratio for k in verdicts.MEASUREMENT_WORDS}, "slow_in": low if own is None else [],
             "own_normal": None, "cause": {"cause": cause} if cause else None, "fell_together": fell,
             "failed_in": list(failed_in), "no_answer_in": no_answer_in}
    if own is not None:
        entry["own_normal"] = {"low_in": low, "ratio": {k: own for k in verdicts.MEASUREMENT_WORDS}}
    return entry


def run_of(*nodes):
    return {"complete": True, "nodes": list(nodes)}


class FakeSlurm:
    """Node states by name; drains and resumes change them as Slurm would."""

    def __init__(self, states):
        self.states = {name: slurm.Node(name, state, reason) for name, (state, reason) in states.items()}
        self.applied = []

    def nodes(self, names=None):
        return {n: self.states[n] for n in (names or self.states) if n in self.states}

    def apply(self, argv):
        self.applied.append(argv)
        name = argv[2].split("=", 1)[1]
        if argv[3] == "state=drain":
            self.states[name] = slurm.Node(name, "IDLE+DRAIN", argv[4].split("=", 1)[1])
        else:
            self.states[name] = slurm.Node(name, "IDLE", "")


class Rules(unittest.TestCase):
    def setUp(self):
        self.slurm = None

    def fake(self, states):
        self.slurm = FakeSlurm(states)
        for name in ("nodes", "apply"):
            original = getattr(slurm, name)
            setattr(slurm, name, getattr(self.slurm, name))
            self.addCleanup(setattr, slurm, name, original)
        for name, stand_in in (("create_reservation", lambda *args: None), ("delete_reservation", lambda *args: None),
                               ("compress", lambda names: ",".join(sorted(names)))):
            original = getattr(slurm, name)
            setattr(slurm, name, stand_in)
            self.addCleanup(setattr, slurm, name, original)

    def act(self, verdict, apply=True, percent=10.0, retested=(), resume_own=False, ran=None):
        states = self.slurm.nodes()
        doing = actions.Actions(apply, resume_own, list(retested), states)
        printed = io.StringIO()
        with contextlib.redirect_stdout(printed):
            if retested:
                doing.open_retest(ran or list(states), 20)
            doing.act(verdict, percent, ran or [n["node"] for n in verdict["nodes"]])
            doing.close()
        return printed.getvalue()

    def drained(self):
        return {n: s.reason for n, s in self.slurm.states.items() if "DRAIN" in s.flags}

    def test_the_limit_drains_the_failed_then_the_slowest_and_names_the_rest(self):
        idle = {"node%d" % k: ("IDLE", "") for k in range(1, 21)}
        self.fake(idle)
        nodes = [node("node%d" % k) for k in range(1, 21)]
        nodes[2] = node("node3", "slow", 0.7)
        nodes[4] = node("node5", "slow", 0.4)
        nodes[6] = node("node7", "failed", failed_in=["block_read"])
        output = self.act(run_of(*nodes))  # 10 % of 20: two
        self.assertEqual(sorted(self.drained()), ["node5", "node7"])
        self.assertIn("drains no more than 10 % of the 20 nodes judged; left: node3 (stelvane: slow (0.70 of its "
                      "peers))", output)
        # One of eight at the default, rounded up; none at 0 %.
        self.assertEqual([verdicts.limit_of(10, n) for n in (3, 8, 10, 11, 4096)], [1, 1, 1, 2, 410])
        self.assertEqual(verdicts.limit_of(0, 8), 0)

    def test_printed_without_apply_and_nothing_changed(self):
        self.fake({"node%d" % k: ("IDLE", "") for k in range(1, 5)})
        output = self.act(run_of(node("node1"), node("node2", "slow", 0.5, cause="cpu"), node("node3"),
                                 node("node4")), apply=False)
        self.assertEqual(self.slurm.applied, [])
        self.assertIn('would run (give --apply to run them):\nscontrol update nodename=node2 state=drain '
                      'reason="stelvane: slow, probably CPU (0.50 of its peers)"\n', output)

    def test_a_node_out_of_service_for_another_reason_is_left_and_costs_no_drain(self):
        self.fake({"node1": ("IDLE+DRAIN", "disk replaced"), "node2": ("DOWN", "Not responding"),
                   "node3": ("IDLE+DRAIN", "stelvane: slow (0.60 of its peers)"), "node4": ("IDLE", ""),
                   "node5": ("IDLE", "")})
        output = self.act(run_of(node("node1", "slow", 0.5), node("node2", "failed", failed_in=["streams"]),
                                 node("node3", "slow", 0.5), node("node4", "slow", 0.6), node("node5")))
        self.assertEqual(self.drained(), {"node1": "disk replaced", "node3": "stelvane: slow (0.60 of its peers)",
                                          "node4": "stelvane: slow (0.60 of its peers)"})
        self.assertEqual(self.slurm.states["node2"].state, "DOWN")
        self.assertIn('leaves node1 as it is: node1 (idle+drain, "disk replaced")', output)

    def test_only_the_nodes_the_job_ran_on(self):
        self.fake({"node1": ("IDLE", ""), "node2": ("IDLE", ""), "node3": ("IDLE", ""), "node4": ("IDLE", "")})
        output = self.act(run_of(node("node1"), node("node2"), node("node3"), node("node4", "slow", 0.3)),
                          ran=["node1", "node2", "node3"])
        self.assertEqual(self.drained(), {})
        self.assertIn("leaves 'node4': the result file names it, but the job did not run on it", output)

    def test_reasons(self):
        cases = [
            (node("n", "slow", 0.62, cause="cpu", own=0.62), "stelvane: slow, probably CPU (0.62 of its own normal)"),
            (node("n", "slow", 0.5, cause="metadata", fell=True),
             "stelvane: slow, fell with others, probably metadata (0.50 of its peers)"),
            (node("n", "slow", 0.5, cause="bandwidth", own=0.5, fell=True),
             "stelvane: slow, fell with others, probably bandwidth (0.50 of its own normal)"),
            (node("n", "slow", 0.8, cause="unclear"), "stelvane: slow (0.80 of its peers)"),
            (node("n", "failed", failed_in=["block_read", "block_write"]),
             "stelvane: failed in block read, block write"),
            (node("n", "failed", no_answer_in="bytewise_write"), "stelvane: no answer in byte-wise write"),
        ]
        for entry, expected in cases:
            self.assertEqual(verdicts.reason(entry), expected)
        long = verdicts.reason(node("n", "failed", failed_in=list(verdicts.MEASUREMENT_WORDS)))
        self.assertEqual((len(long), long[:16], long[-3:]), (slurm.REASON_LENGTH, "stelvane: failed", "..."))

    def test_a_retest_resumes_what_it_would_not_drain_with_resume_own_and_restores_the_rest(self):
        old = "stelvane: slow (0.40 of its peers)"
        states = {"node1": ("IDLE", ""), "node2": ("IDLE", ""), "node3": ("IDLE+DRAIN", old),
                  "node4": ("IDLE+DRAIN", old), "node5": ("IDLE+DRAIN", old)}
        run = run_of(node("node1"), node("node2"), node("node3"), node("node4", "slow", 0.5),
                     node("node5", "suspect"))
        # A suspect node is never drained, so it is resumed as an ok one is.
        for resume_own, still_drained in ((True, {"node4"}), (False, {"node3", "node4", "node5"})):
            with self.subTest(resume_own=resume_own):
                self.fake(states)
                output = self.act(run, retested=["node3", "node4", "node5"], resume_own=resume_own)
                self.assertEqual(set(self.drained()), still_drained, output)
                # Drained again is no new drain: the limit (one of five) is not spent on it.
                self.assertEqual(self.drained()["node4"], "stelvane: slow (0.50 of its peers)")
                if not resume_own:
                    self.assertEqual((self.drained()["node3"], self.drained()["node5"]), (old, old))

    def test_a_retest_whose_run_failed_drains_its_nodes_again(self):
        old = "stelvane: failed in streams"
        self.fake({"node1": ("IDLE", ""), "node2": ("IDLE+DRAIN", old), "node3": ("IDLE+DRAIN", "disk replaced")})
        doing = actions.Actions(True, True, ["node2"], self.slurm.nodes())
        with contextlib.redirect_stdout(io.StringIO()):
            doing.open_retest(["node1", "node2"], 20)
            doing.close()  # as after a run that gave nothing
        self.assertEqual(self.drained(), {"node2": old, "node3": "disk replaced"})
        # A reservation Slurm refused: nothing resumed, and no reservation
        # of that name (perhaps another's) removed.
        deleted = []
        self.fake({"node1": ("IDLE", ""), "node2": ("IDLE+DRAIN", old)})
        def refuse(*args):
            raise CheckError("refused")
        slurm.create_reservation = refuse
        slurm.delete_reservation = deleted.append
        doing = actions.Actions(True, True, ["node2"], self.slurm.nodes())
        with contextlib.redirect_stdout(io.StringIO()), self.assertRaises(CheckError):
            try:
                doing.open_retest(["node1", "node2"], 20)
            finally:
                doing.close()
        self.assertEqual((self.drained(), deleted), ({"node2": old}, []))

    def test_what_a_retest_resumes_is_the_checks_own_and_what_someone_changed_meanwhile_is_left(self):
        old = "stelvane: failed in streams"
        self.fake({"node1": ("IDLE", ""), "node2": ("IDLE+DRAIN", old), "node3": ("IDLE+DRAIN", "disk replaced"),
                   "node4": ("DOWN+DRAIN", "stelvane-mpi: slow in streams"), "node5": ("IDLE", "")})
        args = argparse.Namespace(retest=True, idle=False)
        with contextlib.redirect_stdout(io.StringIO()):
            running, retested = main.to_run(args, sorted(self.slurm.states), self.slurm.nodes())
        self.assertEqual((running, retested), (["node1", "node5", "node2"], ["node2"]))
        self.slurm.states["node5"] = slurm.Node("node5", "MIXED", "")  # running someone's job
        with contextlib.redirect_stdout(io.StringIO()):
            taken = [main.to_run(argparse.Namespace(retest=False, idle=idle), sorted(self.slurm.states),
                                 self.slurm.nodes())[0] for idle in (True, False)]
        self.assertEqual(taken, [["node1"], ["node1", "node5"]])
        doing = actions.Actions(True, True, retested, self.slurm.nodes())
        with contextlib.redirect_stdout(io.StringIO()):
            doing.open_retest(running, 20)
            self.slurm.states["node2"] = slurm.Node("node2", "IDLE+DRAIN", "fan replaced")  # an administrator
            doing.close()
        self.assertEqual(self.drained(), {"node2": "fan replaced", "node3": "disk replaced",
                                          "node4": "stelvane-mpi: slow in streams"})

    def test_a_run_that_cannot_be_acted_on(self):
        self.assertIsNone(verdicts.run_failed_as_a_whole(run_of(node("a"), node("b"), node("c"))))
        self.assertIn("only 2 nodes", verdicts.run_failed_as_a_whole(run_of(node("a"), node("b"))))
        self.assertIn("stops part way", verdicts.run_failed_as_a_whole({"complete": False, "truncation": "x",
                                                                         "nodes": [node("a")] * 3}))


class History(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="stelvane-check-rules-")
        self.addCleanup(lambda: [os.unlink(os.path.join(self.folder, n)) for n in os.listdir(self.folder)] and
                        os.rmdir(self.folder))

    def test_the_newest_runs_by_when_they_began_and_never_a_run_replaced(self):
        # By name, "Thu Dec 10" sorts before "Wed Dec  9".
        times = ["Wed Dec  9 23:00:00 2026", "Thu Dec 10 01:00:00 2026", "Sat Jan  2 03:00:00 2027",
                 "Fri Jan  1 03:00:00 2027"]
        for stamp in times:
            history.keep(self.folder, STAMP % stamp, b"run\n")
        self.assertEqual(history.prune(self.folder, 2), [STAMP % times[0], STAMP % times[1]])
        self.assertEqual(sorted(history.kept_runs(self.folder)), sorted(STAMP % t for t in times[2:]))
        with self.assertRaisesRegex(CheckError, "already in the history"):
            history.keep(self.folder, STAMP % times[2], b"another\n")
        with open(os.path.join(self.folder, STAMP % times[2]), "rb") as f:
            self.assertEqual(f.read(), b"run\n")
        self.assertEqual([n for n in os.listdir(self.folder) if n.startswith(".incoming")], [])
        with self.assertRaisesRegex(CheckError, "a name no result file has"):
            history.keep(self.folder, "../elsewhere.txt", b"")

    def test_one_check_at_a_time(self):
        held = history.Lock(self.folder)
        with self.assertRaises(CheckError) as caught:
            history.Lock(self.folder)
        self.assertEqual(caught.exception.status, history.BUSY)
        self.assertRegex(str(caught.exception), r"another check is running in .* \(process %d on " % os.getpid())
        held.file.close()
        history.Lock(self.folder).file.close()  # free once the first is gone


if __name__ == "__main__":
    unittest.main()
