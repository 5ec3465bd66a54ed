"""The rank limit, the end of the run and long working directories."""
import os
import unittest

from harness import TEST_SIZES, JobTestCase, check_successful_run, result_path

MAX_RANKS = TEST_SIZES["max_ranks"]


class Limits(JobTestCase):
    def test_a_job_one_rank_over_the_limit_is_refused_before_anything_happens(self):
        job = self.run_job(MAX_RANKS + 1, timeout=300)
        self.assertNotEqual(job.rc, 0)
        self.assertIn("stelvane-mpi: this job has %d ranks, but the benchmark supports at most %d; "
                      "nothing was measured" % (MAX_RANKS + 1, MAX_RANKS), job.stderr)
        self.assertEqual(job.stderr.count("stelvane-mpi:"), 1)  # rank 0 alone says it
        self.assertEqual(job.stdout, "")
        self.assertEqual(os.listdir(self.work), [])

    def test_one_character_or_end_of_input_ends_the_wait(self):
        for stdin in (b"x", b"\n", b""):
            job = self.run_job(2, stdin=stdin)
            self.assertEqual(job.rc, 0, job.stderr)
            self.assertEqual(job.console[-1], "Press Enter to Exit.")

    def test_the_closing_line_shows_a_path_longer_than_any_fixed_buffer(self):
        deep = self.work
        while len(deep) < 2500:
            deep = os.path.join(deep, "d" * 200)
        os.makedirs(deep)
        job = self.run_job(1, cwd=deep)
        check_successful_run(self, job, 1, ["node0"])
        path = result_path(job)
        self.assertGreater(len(path), 2500)
        self.assertIn("Results have been saved in a file and you can find it at: " + path, job.console)


if __name__ == "__main__":
    unittest.main()
