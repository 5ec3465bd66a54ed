"""The Debian package as a site installs it: built by CPack, checked by
lintian, unpacked into a scratch root, its module file loaded by Lmod, its
man pages found and clean, and its benchmark run at the shipped sizes on two
ranks (the whole run checked end to end, every byte of the byte-wise
workload its own system call on rank 0) and read by its stelvane-report."""
import glob
import os
import subprocess
import tempfile
import unittest

from harness import (BIN_DIR, FULL_SIZES, HERE, JobTestCase, check_successful_run, check_system_calls,
                     rank_zero_io)

MAN_PAGES = os.path.join(HERE, "..", "..", "docs", "man")
LMOD_INIT = "/usr/share/lmod/lmod/init/bash"


def run(command, **options):
    return subprocess.run(command, capture_output=True, text=True, timeout=600, **options)


class Package(JobTestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.mkdtemp(prefix="stelvane-package-")
        cls.addClassCleanup(subprocess.run, ["rm", "-rf", cls.folder])
        built = run(["cpack", "-G", "DEB", "-B", cls.folder, "--config", os.path.join(BIN_DIR, "CPackConfig.cmake")])
        assert built.returncode == 0, built.stdout + built.stderr
        [cls.deb] = glob.glob(os.path.join(cls.folder, "*.deb"))
        cls.root = os.path.join(cls.folder, "root")
        unpacked = run(["dpkg-deb", "-x", cls.deb, cls.root])
        assert unpacked.returncode == 0, unpacked.stderr

    def test_lintian_finds_no_error(self):
        checked = run(["lintian", "--no-tag-display-limit", self.deb])
        self.assertEqual([l for l in checked.stdout.splitlines() if l.startswith("E:")], [], checked.stdout)
        fields = run(["dpkg-deb", "-f", self.deb, "Depends"]).stdout
        for needed in ("libstdc++6", "libc6"):
            self.assertIn(needed, fields)
        self.assertRegex(fields, r"(openmpi-bin, .*libopenmpi)|(mpich, .*libmpich)")

    def test_the_module_file_and_the_man_pages(self):
        loaded = run(["bash", "-c", 'source "$0" && module use "$1/usr/share/modulefiles" && module load stelvane-mpi && '
                      'command -v stelvane-mpi stelvane-report && man -w stelvane-mpi stelvane-report',
                      LMOD_INIT, self.root])
        self.assertEqual(loaded.returncode, 0, loaded.stderr)
        self.assertEqual(loaded.stdout.split(), [self.root + "/usr/bin/stelvane-mpi",
                                                 self.root + "/usr/bin/stelvane-report",
                                                 self.root + "/usr/share/man/man1/stelvane-mpi.1.gz",
                                                 self.root + "/usr/share/man/man1/stelvane-report.1.gz"])
        for page in ("stelvane-mpi.1", "stelvane-report.1"):
            linted = run(["mandoc", "-T", "lint", "-W", "warning", os.path.join(MAN_PAGES, page)])
            self.assertEqual((linted.returncode, linted.stdout), (0, ""), page)

    def test_the_unpacked_benchmark_at_full_size_and_its_report(self):
        hosts = ["full-node0", "full-node1"]
        binary = os.path.join(self.root, "usr", "bin", "stelvane-mpi")
        job = self.run_job(2, binary=binary, hosts=hosts, at_prompt=lambda cwd: rank_zero_io(cwd, "stelvane-mpi"),
                           timeout=1200)
        check_successful_run(self, job, 2, hosts, FULL_SIZES)
        check_system_calls(self, job.at_prompt, FULL_SIZES)
        report = run([os.path.join(self.root, "usr", "bin", "stelvane-report"), job.result_files()[0]])
        self.assertEqual(report.returncode, 0, report.stderr)
        self.assertIn(": 2 ranks on 2 nodes", report.stdout)


if __name__ == "__main__":
    unittest.main()
