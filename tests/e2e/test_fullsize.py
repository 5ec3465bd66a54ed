"""The shipped binary, at its full sizes, on two ranks: the whole run checked
end to end, every byte of the byte-wise workload its own system call on
rank 0, and every credited byte written."""
import unittest

from harness import FULLSIZE, FULL_SIZES, JobTestCase, check_successful_run, check_system_calls, rank_zero_io


class FullSize(JobTestCase):
    def test_two_ranks_at_full_size(self):
        hosts = ["full-node0", "full-node1"]
        job = self.run_job(2, binary=FULLSIZE, hosts=hosts, at_prompt=lambda cwd: rank_zero_io(cwd, "stelvane-mpi"),
                           timeout=1200)
        check_successful_run(self, job, 2, hosts, FULL_SIZES)
        check_system_calls(self, job.at_prompt, FULL_SIZES)


if __name__ == "__main__":
    unittest.main()
