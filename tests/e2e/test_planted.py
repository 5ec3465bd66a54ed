"""Entries planted at the names a run writes, in a directory that others can
write (mode 1777, the kernel's link protection off): a link, a hard link or
a FIFO is never written through, never removed, and the run says what it
found and fails. The runner's own leftovers are replaced as before."""
import os
import shutil
import time
import unittest

from harness import JobTestCase, check_successful_run

NOBODY = 65534
PROTECTED_SYMLINKS = "/proc/sys/fs/protected_symlinks"
EARLIER = b"an earlier run's report"


def result_names(host, seconds):
    """The result-file names of a run started on `host` in the next `seconds` seconds."""
    now = int(time.time())
    return ["results_stelvane_lite_netbsd_sparc64_clusters @ %s time %s @ %s.txt"
            % (time.strftime("%Z"), time.asctime(time.localtime(t)), host) for t in range(now, now + seconds)]


class PlantedEntries(JobTestCase):
    def setUp(self):
        super().setUp()
        os.chmod(self.work, 0o1777)
        with open(PROTECTED_SYMLINKS) as f:
            saved = f.read().strip()
        self.addCleanup(self._set_protected_symlinks, saved)
        self._set_protected_symlinks("0")
        self.victims = os.path.join(os.path.dirname(self.work), os.path.basename(self.work) + "-victims")
        os.mkdir(self.victims, 0o700)
        self.addCleanup(shutil.rmtree, self.victims, True)

    @staticmethod
    def _set_protected_symlinks(value):
        with open(PROTECTED_SYMLINKS, "w") as f:
            f.write(value)

    def victim(self, name, exists):
        path = os.path.join(self.victims, name)
        if exists:
            with open(path, "w") as f:
                f.write("root's own " + name)
        return path

    def plant_link(self, name, target):
        link = os.path.join(self.work, name)
        os.symlink(target, link)
        os.lchown(link, NOBODY, NOBODY)

    def check_victims(self, planted):
        for target, existed in planted:
            if existed:
                with open(target) as f:
                    self.assertEqual(f.read(), "root's own " + os.path.basename(target))
            else:
                self.assertFalse(os.path.lexists(target), target)

    def test_a_link_at_every_name_class(self):
        names = ["data64-sparc-low.tmp", "data64-sparc-high.tmp", "data64-sparc-single.tmp",
                 "data64-sparc-single", "data64-sparc-1 @node1.tmp", "data64-sparc-1 @node1"]
        names += result_names("node0", 60)
        for existing in (True, False):
            planted = []
            for number, name in enumerate(names):
                target = self.victim("target-%d" % number, existing == (number % 2 == 0))
                self.plant_link(name, target)
                planted.append((target, os.path.exists(target)))
            job = self.run_job(2)
            self.assertEqual(job.rc, 1, job.stderr)
            self.check_victims(planted)
            for name in names[:6]:
                self.assertIn('"%s" is a symbolic link, not a file this program made; left alone' % name, job.stderr)
                self.assertTrue(os.path.islink(os.path.join(self.work, name)), name)
            self.assertIn("stelvane-mpi: the results could not be saved to", job.stderr)
            self.assertNotIn("Results have been saved", job.stdout)
            self.assertEqual(sorted(os.listdir(self.work)), sorted(names))
            for name in names:
                os.remove(os.path.join(self.work, name))
            for name in os.listdir(self.victims):
                os.remove(os.path.join(self.victims, name))

    def test_a_hard_link_and_a_fifo(self):
        target = self.victim("hard", True)
        os.link(target, os.path.join(self.work, "data64-sparc-single.tmp"))
        os.mkfifo(os.path.join(self.work, "data64-sparc-single"))
        job = self.run_job(1, timeout=60)
        self.assertEqual(job.rc, 1, job.stderr)
        self.check_victims([(target, True)])
        self.assertIn('"data64-sparc-single.tmp" is a regular file with 2 links', job.stderr)
        self.assertIn('"data64-sparc-single" is a FIFO', job.stderr)

    def test_own_leftovers_are_replaced(self):
        # A first run, then a second in the same directory whose result file
        # of the same second is already there (planted for every second it
        # may start in): both run as any run does.
        self.assertEqual(self.run_job(2).rc, 0)
        for name in os.listdir(self.work):
            if name.startswith("results_"):
                os.remove(os.path.join(self.work, name))
        for name in result_names("node0", 60):
            with open(os.path.join(self.work, name), "w") as f:
                f.write(EARLIER.decode())
        job = self.run_job(2)
        self.assertEqual(job.rc, 0, job.stderr)
        self.assertEqual(job.stderr.count("stelvane-mpi:"), 0)
        saved = [n for n in os.listdir(self.work) if n.startswith("results_") and job.file(n) != EARLIER]
        self.assertEqual(len(saved), 1)
        for name in os.listdir(self.work):
            if name.startswith("results_") and name not in saved:
                os.remove(os.path.join(self.work, name))
        check_successful_run(self, job, 2, ["node0", "node1"])


if __name__ == "__main__":
    unittest.main()
