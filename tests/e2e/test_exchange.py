"""The result exchange: figures reach rank 0 from the right sender, in rank
order, whatever order the workers finish in; workers print nothing."""
import unittest

from harness import LAUNCHER, JobTestCase, check_successful_run, report_of


class Exchange(JobTestCase):
    def test_a_slow_worker_is_still_reported_in_rank_order_with_its_own_figures(self):
        # Rank 1 is held 0.5 s in each measurement, inside its timed span: its
        # reports come last, yet each figure is its own (check_figures holds
        # every rank's figure to its own credited units over its own seconds).
        # The holds add up, 3 s by its last measurement, and the test build's
        # rule for a late worker (10 times the others' time and 5 s) counts
        # from the start of the run, not of each measurement: 1 s each took
        # rank 1 past it wherever the others were done within 0.1 s.
        delay = 0.5
        job = self.run_job(4, env={"STELVANE_TEST_DELAY_RANK": "1", "STELVANE_TEST_DELAY_MS": str(int(delay * 1000))})
        check_successful_run(self, job, 4, ["node0", "node1", "node2", "node3"])
        for measurement in report_of(job.result_lines())["measurements"]:
            spent = {worker["rank"]: worker["seconds"] for worker in measurement["workers"]}
            self.assertGreaterEqual(spent[1], delay, measurement["key"])

    def test_worker_ranks_print_nothing(self):
        job = self.run_job(3, mpirun_args=LAUNCHER["tag_output"])
        self.assertEqual(job.rc, 0, job.stderr)
        ranks = {LAUNCHER["tag"].match(line).group(1) for line in job.console if LAUNCHER["tag"].match(line)}
        self.assertEqual(ranks, {"0"})
        self.assertEqual(job.stderr, "")


if __name__ == "__main__":
    unittest.main()
