"""The shipped binary, at its full sizes, on two ranks: the whole run checked
end to end, and every byte of the byte-wise workload counted as its own
system call on rank 0."""
import os
import unittest

from harness import FULLSIZE, FULL_SIZES, JobTestCase, check_successful_run

# Byte-wise workload on rank 0: the file, then half of it again.
BYTE_WRITES = FULL_SIZES["bytes"] + FULL_SIZES["bytes"] // 2
BYTE_READS = BYTE_WRITES + 1  # the first pass ends with one read that meets the end of the file
OTHER_CALLS = 20000  # start-up of MPI, report lines, block transfers


def rank_zero_io(cwd):
    """Rank 0's system-call counters, read while it waits at the prompt."""
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open("/proc/%s/comm" % pid) as f:
                if f.read().strip() != "stelvane-mpi":
                    continue
            with open("/proc/%s/environ" % pid, "rb") as f:
                if b"OMPI_COMM_WORLD_RANK=0\0" not in f.read():
                    continue
            if os.path.realpath(os.readlink("/proc/%s/cwd" % pid)) != os.path.realpath(cwd):
                continue
            with open("/proc/%s/io" % pid) as f:
                return {k: int(v) for k, v in (line.split(": ") for line in f.read().splitlines())}
        except OSError:
            continue
    return None


class FullSize(JobTestCase):
    def test_two_ranks_at_full_size(self):
        hosts = ["full-node0", "full-node1"]
        job = self.run_job(2, binary=FULLSIZE, hosts=hosts, at_prompt=rank_zero_io, timeout=1200)
        check_successful_run(self, job, 2, hosts, FULL_SIZES)
        io = job.at_prompt
        self.assertIsNotNone(io, "rank 0 not found at the prompt")
        self.assertGreaterEqual(io["syscw"], BYTE_WRITES)
        self.assertLessEqual(io["syscw"], BYTE_WRITES + OTHER_CALLS)
        self.assertGreaterEqual(io["syscr"], BYTE_READS)
        self.assertLessEqual(io["syscr"], BYTE_READS + OTHER_CALLS)


if __name__ == "__main__":
    unittest.main()
