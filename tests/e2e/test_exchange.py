"""The result exchange: names, rank labels and figures reach rank 0 from the
right sender, in rank order, whatever order the workers finish in."""
import unittest

from harness import TEST_SIZES, JobTestCase, check_successful_run, parse_figures

ALL = ("streams", "descriptors", "bytewise_write", "bytewise_read", "block_read", "block_write")


class Exchange(JobTestCase):
    def test_names_of_every_length_reach_rank_zero_whole(self):
        # Longest first, then shorter ones: nothing of a longer name may
        # stick to a shorter one. 64 characters is the longest Linux allows.
        hosts = ["zero", "w" * 64, "short", "a-medium-name", "x"]
        job = self.run_job(5, hosts=hosts)
        check_successful_run(self, job, 5, hosts)

    def test_ranks_sharing_one_node_and_directory_keep_their_files_apart(self):
        # No UTS namespaces: every rank reports this machine's own name.
        job = self.run_job(4, wrap=False)
        self.assertEqual(job.rc, 0, job.stderr)
        figures = parse_figures(job.console)
        node = figures.workers["streams"][0][1]
        check_successful_run(self, job, 4, [node] * 4)

    def test_a_slow_worker_is_still_reported_in_rank_order_with_its_own_figures(self):
        delay = 1.5  # well above what any measurement takes at test size
        job = self.run_job(4, env={"STELVANE_TEST_DELAY_RANK": "1", "STELVANE_TEST_DELAY_MS": str(int(delay * 1000))})
        check_successful_run(self, job, 4, ["node0", "node1", "node2", "node3"])
        figures = parse_figures(job.console)
        for measurement in ALL:
            spent = {rank: seconds for rank, _, seconds, _ in figures.workers[measurement]}
            self.assertGreaterEqual(spent[1], delay, measurement)
            self.assertLess(spent[2], delay, measurement)
            self.assertLess(spent[3], delay, measurement)

    def test_worker_ranks_print_nothing(self):
        job = self.run_job(3, mpirun_args=["--tag-output"])
        self.assertEqual(job.rc, 0, job.stderr)
        tags = {line.split("<stdout>")[0] for line in job.console if "<stdout>" in line}
        self.assertEqual(len(tags), 1, tags)
        self.assertTrue(tags.pop().endswith(",0]"))
        self.assertEqual(job.stderr, "")


if __name__ == "__main__":
    unittest.main()
