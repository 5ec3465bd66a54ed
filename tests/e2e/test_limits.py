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

    def test_rank_0_raises_its_soft_limit_on_open_files_to_the_hard_one(self):
        # A job of 2 ranks needs about 65 files over TCP (one a peer, 64 more).
        # Soft 20 under a hard 200: raised, enough, nothing said. Soft 20
        # under a hard 30: raised to 30 and still short, said once with the
        # hard limit's figure; the run goes on (one rank on this host holds no
        # descriptor per peer), and rank 0 measures as ever.
        for hard, said in ((200, None), (30, 30)):
            job = self.run_job(2, setup={0: "ulimit -Sn 20 && ulimit -Hn %d" % hard})
            self.assertEqual(job.rc, 0, job.stderr)
            warnings = [l for l in job.stderr.split("\n") if l.startswith("stelvane-mpi: rank 0 may open")]
            if said is None:
                self.assertEqual(warnings, [], job.stderr)
            else:
                self.assertEqual(len(warnings), 1, job.stderr)
                self.assertTrue(warnings[0].startswith("stelvane-mpi: rank 0 may open 30 files (its hard limit), but "
                                                       "over TCP a job of 2 ranks needs about 65"), warnings[0])
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
