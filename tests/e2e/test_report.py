"""Whole runs on 1, 2 and 3 ranks: both streams line by line, every figure
consistent, the result file and the scratch files left."""
import os
import re
import time
import unittest

from harness import (TEST_SIZES, TESTSIZE, JobTestCase, check_figures, check_successful_run, check_system_calls,
                     rank_zero_io)

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
                return name, f.read(), holders, rank_zero_io(cwd, TESTSIZE.split("/")[-1])

        started = time.time()
        job = self.run_job(ranks, hosts=HOSTS[:ranks], at_prompt=at_prompt)
        check_successful_run(self, job, ranks, HOSTS)

        name, text_at_prompt, holders, io = job.at_prompt
        self.assertEqual(holders, [], "result file still open while the prompt waits")
        self.assertEqual(text_at_prompt.split("\n")[:-1], job.result_lines(), "result file incomplete at the prompt")
        found = NAME.match(name)
        self.assertIsNotNone(found, name)
        self.assertNotIn("\n", name)
        self.assertEqual(found.group(1), time.strftime("%Z"))
        stamp = time.mktime(time.strptime(found.group(2), "%a %b %d %H:%M:%S %Y"))
        self.assertTrue(started - 1 <= stamp <= time.time(), found.group(2))
        self.assertEqual(found.group(3), HOSTS[0])
        return job, io

    def test_one_rank(self):
        job, io = self.run_and_check(1)
        self.assertNotIn("Multi-Thread Enabled:", job.stdout)
        check_system_calls(self, io, TEST_SIZES)

    def test_three_ranks(self):
        job, _ = self.run_and_check(3)
        self.assertEqual(job.stdout.count("Multi-Thread Enabled:"), 3)
        self.assertEqual("\n".join(job.result_lines()).count("Multi-Thread Enabled:"), 3)

    def test_odd_sized_block_input_on_rank_zero(self):
        # The test binary can give rank 0's block input another size.
        job = self.run_job(1, hosts=HOSTS[:1], env={"STELVANE_TEST_BLOCK_INPUT_SIZE": "0:1001"})
        self.assertEqual(job.rc, 0, job.stderr)
        check_figures(self, job.result_lines(), 1, HOSTS, TEST_SIZES, block_input_size=1001)
        self.assertEqual(job.file("data64-sparc-single"), b"\x0b" * 1001)
        self.assertEqual(job.file("data64-sparc-single.tmp"), b"\x0b" * 1001)

    def test_a_run_rewrites_the_result_file_of_a_run_started_in_the_same_second(self):
        # The files an earlier run would have left, had it started in any of
        # the next 30 seconds: the run must empty and rewrite the one of its
        # own second and touch no other.
        earlier = "an earlier run's report\n" * 500
        now = int(time.time())
        names = []
        for second in range(now, now + 30):
            stamp = time.strftime("%a %b %e %H:%M:%S %Y", time.localtime(second))
            names.append("results_stelvane_lite_netbsd_sparc64_clusters @ %s time %s @ %s.txt"
                         % (time.strftime("%Z", time.localtime(second)), stamp, HOSTS[0]))
            with open(os.path.join(self.work, names[-1]), "w") as f:
                f.write(earlier)
        job = self.run_job(1, hosts=HOSTS[:1])
        self.assertEqual(job.rc, 0)
        rewritten = []
        for name in names:
            with open(os.path.join(self.work, name)) as f:
                if f.read() != earlier:
                    rewritten.append(name)
        self.assertEqual(len(rewritten), 1)
        with open(os.path.join(self.work, rewritten[0])) as f:
            text = f.read()
        self.assertNotIn("an earlier run", text)
        self.assertEqual(text.count("Force to be single thread."), 1)


if __name__ == "__main__":
    unittest.main()
