"""Whole runs on 1, 2 and 3 ranks: both streams line by line, every figure
consistent, the result file and the scratch files left."""
import os
import re
import time
import unittest

from harness import (FULL_SIZES, TEST_SIZES, JobTestCase, check_figures, check_successful_run,
                     parse_figures)

# Names of different lengths, a long one before a short one.
HOSTS = ["n0-rank-zero", "n1-a-much-longer-processor-name", "n2"]
NAME = re.compile(r"^results_stelvane_lite_netbsd_sparc64_clusters @ (\S+) time "
                  r"(\w{3} \w{3} [ \d]\d \d\d:\d\d:\d\d \d{4}) @ (.*)\.txt$")


def open_descriptors_of(path):
    """Processes that hold `path` open."""
    holders = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            for fd in os.listdir("/proc/%s/fd" % pid):
                if os.readlink("/proc/%s/fd/%s" % (pid, fd)) == path:
                    holders.append(pid)
        except OSError:
            continue
    return holders


class WholeRun(JobTestCase):
    def run_and_check(self, ranks):
        # Left by an earlier run: the file-handling cycles must remove them.
        for stale in ("data64-sparc-low.tmp", "data64-sparc-high.tmp"):
            with open(os.path.join(self.work, stale), "w") as f:
                f.write("stale")

        def at_prompt(cwd):
            [name] = [n for n in os.listdir(cwd) if n.startswith("results_")]
            path = os.path.join(os.path.realpath(cwd), name)
            holders = open_descriptors_of(path)
            with open(path) as f:
                return name, f.read(), holders

        started = time.time()
        job = self.run_job(ranks, hosts=HOSTS[:ranks], at_prompt=at_prompt)
        check_successful_run(self, job, ranks, HOSTS)

        name, text_at_prompt, holders = job.at_prompt
        self.assertEqual(holders, [], "result file still open while the prompt waits")
        self.assertEqual(text_at_prompt.split("\n")[:-1], job.result_lines(), "result file incomplete at the prompt")
        found = NAME.match(name)
        self.assertIsNotNone(found, name)
        self.assertNotIn("\n", name)
        self.assertEqual(found.group(1), time.strftime("%Z"))
        stamp = time.mktime(time.strptime(found.group(2), "%a %b %d %H:%M:%S %Y"))
        self.assertTrue(started - 1 <= stamp <= time.time(), found.group(2))
        self.assertEqual(found.group(3), HOSTS[0])
        return job

    def test_one_rank(self):
        job = self.run_and_check(1)
        self.assertNotIn("Multi-Thread Enabled:", job.stdout)

    def test_two_ranks(self):
        job = self.run_and_check(2)
        figures = parse_figures(job.console)
        # One worker: each per-thread average is the cluster total itself.
        for measurement in ("streams", "descriptors"):
            self.assertEqual(figures.average[measurement], figures.total[measurement])
        for measurement in ("bytewise_write", "bytewise_read", "block_read", "block_write"):
            self.assertEqual(figures.average_mb[measurement], figures.total_mb[measurement])

    def test_three_ranks(self):
        job = self.run_and_check(3)
        self.assertEqual(job.stdout.count("Multi-Thread Enabled:"), 3)
        self.assertEqual("\n".join(job.result_lines()).count("Multi-Thread Enabled:"), 3)

    def test_odd_sized_block_input_on_rank_zero(self):
        # The test binary can give rank 0's block input another size.
        job = self.run_job(1, hosts=HOSTS[:1], env={"STELVANE_TEST_BLOCK_INPUT_SIZE": "0:1001"})
        self.assertEqual(job.rc, 0, job.stderr)
        check_figures(self, job.console, 1, HOSTS, TEST_SIZES, block_input_size=1001)
        self.assertEqual(job.file("data64-sparc-single"), b"\x0b" * 1001)
        self.assertEqual(job.file("data64-sparc-single.tmp"), b"\x0b" * 1001)

    def test_a_second_run_in_the_same_second_rewrites_the_result_file(self):
        first = self.run_job(1, hosts=HOSTS[:1])
        second = self.run_job(1, hosts=HOSTS[:1])
        self.assertEqual(first.rc, 0)
        self.assertEqual(second.rc, 0)
        files = second.result_files()
        # The runs may straddle a second; then each has its own file.
        self.assertIn(len(files), (1, 2))
        for path in files:
            with open(path) as f:
                self.assertEqual(f.read().count("Force to be single thread."), 1)


if __name__ == "__main__":
    unittest.main()
