"""The Debian package and the RPM as a site installs them: built by CPack,
checked by lintian and rpmlint, unpacked and installed into scratch roots,
the module file loaded by Lmod, the man pages found and clean, and the
benchmark the RPM installed (byte for byte the Debian package's) run at the
shipped sizes on two ranks (the whole run checked end to end, every byte of
the byte-wise workload its own system call on rank 0) and read by its
stelvane-report. And a build folder set up again for the other MPI family
builds against that family."""
import filecmp
import glob
import os
import subprocess
import tempfile
import unittest

from harness import (BIN_DIR, FULL_SIZES, HERE, JobTestCase, check_successful_run, check_system_calls,
                     rank_zero_io)

SOURCE = os.path.join(HERE, "..", "..")
MAN_PAGES = os.path.join(SOURCE, "docs", "man")
LMOD_INIT = "/usr/share/lmod/lmod/init/bash"
RPMLINT_CONFIG = os.path.join(HERE, "..", "..", "packaging", "rpmlint.toml")
# rpmlint's warnings left, each for a reason: rpmlint 2.4 records a man
# page's section, not its name, so it finds no page for any program (the
# pages are listed below).
RPMLINT_WARNINGS_LEFT = {"no-manual-page-for-binary"}


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
        built = run(["cpack", "-G", "RPM", "-B", cls.folder, "--config", os.path.join(BIN_DIR, "CPackConfig.cmake")])
        assert built.returncode == 0, built.stdout + built.stderr
        [cls.rpm] = glob.glob(os.path.join(cls.folder, "*.rpm"))
        cls.rpm_root = os.path.join(cls.folder, "rpm-root")
        for command in (["--initdb"], ["--nodeps", "-i", cls.rpm]):
            installed = run(["rpm", "--root", cls.rpm_root] + command)
            assert installed.returncode == 0, installed.stderr

    def test_lintian_finds_no_error(self):
        checked = run(["lintian", "--no-tag-display-limit", self.deb])
        self.assertEqual([l for l in checked.stdout.splitlines() if l.startswith("E:")], [], checked.stdout)
        fields = run(["dpkg-deb", "-f", self.deb, "Depends"]).stdout
        for needed in ("libstdc++6", "libc6"):
            self.assertIn(needed, fields)
        self.assertRegex(fields, r"(openmpi-bin, .*libopenmpi)|(mpich, .*libmpich)")
        self.assertIn("python3", fields)

    def test_rpmlint_finds_no_error_and_the_rpm_holds_the_same_programs(self):
        checked = run(["rpmlint", "-c", RPMLINT_CONFIG, self.rpm])
        self.assertNotIn(": E: ", checked.stdout)
        self.assertLessEqual({line.split(": W: ")[1].split()[0] for line in checked.stdout.splitlines() if ": W: " in line},
                             RPMLINT_WARNINGS_LEFT, checked.stdout)
        name = os.path.basename(self.deb).split("_")[0]
        self.assertRegex(os.path.basename(self.rpm), r"^%s-1\.0\.0-1\.x86_64\.rpm$" % name)
        # Both packages under the project's licence; the RPM's changelog is the Debian one's.
        self.assertRegex(run(["rpm", "-qp", "--queryformat", "%{LICENSE}", self.rpm]).stdout, r"^BSD-3-Clause$")
        with open(os.path.join(self.root, "usr", "share", "doc", "stelvane-mpi", "copyright")) as f:
            self.assertIn("License: BSD-3-Clause\n Redistribution and use", f.read())
        self.assertIn("- Released under the BSD 3-Clause licence.", run(["rpm", "-qp", "--changelog", self.rpm]).stdout)
        listed = run(["rpm", "-qpl", self.rpm]).stdout.split()
        modules = sorted("/usr/share/stelvane-check/stelvane_check/" + m
                         for m in os.listdir(os.path.join(SOURCE, "tools", "stelvane-check", "stelvane_check")))
        examples = ["/usr/share/doc/stelvane-mpi/examples/stelvane-check." + e for e in ("service", "timer", "scrontab")]
        self.assertEqual(sorted(listed), sorted([
            "/usr/bin/stelvane-mpi", "/usr/bin/stelvane-report", "/usr/bin/stelvane-check",
            "/usr/share/doc/stelvane-mpi", "/usr/share/doc/stelvane-mpi/examples",
            "/usr/share/doc/stelvane-mpi/changelog.Debian.gz", "/usr/share/doc/stelvane-mpi/copyright",
            "/usr/share/man/man1/stelvane-mpi.1.gz", "/usr/share/man/man1/stelvane-report.1.gz",
            "/usr/share/man/man1/stelvane-check.1.gz", "/usr/share/stelvane-check",
            "/usr/share/stelvane-check/stelvane_check",
            "/usr/share/modulefiles/stelvane-mpi", "/usr/share/modulefiles/stelvane-mpi/1.0.0"] + modules + examples))
        requires = run(["rpm", "-qpR", self.rpm]).stdout.split()
        self.assertIn("mpich" if "mpich" in name else "openmpi", requires)
        self.assertIn("python3", requires)
        for program in ("stelvane-mpi", "stelvane-report", "stelvane-check"):
            self.assertTrue(filecmp.cmp(os.path.join(self.root, "usr", "bin", program),
                                        os.path.join(self.rpm_root, "usr", "bin", program), shallow=False), program)
        version = run([os.path.join(self.rpm_root, "usr", "bin", "stelvane-report"), "--version"])
        self.assertEqual((version.returncode, version.stdout.strip()), (0, "1.0.0"))

    def test_the_module_file_and_the_man_pages(self):
        loaded = run(["bash", "-c", 'source "$0" && module use "$1/usr/share/modulefiles" && module load stelvane-mpi && '
                      'command -v stelvane-mpi stelvane-report stelvane-check && '
                      'man -w stelvane-mpi stelvane-report stelvane-check && stelvane-check --help >/dev/null',
                      LMOD_INIT, self.root])
        self.assertEqual(loaded.returncode, 0, loaded.stderr)
        programs = ("stelvane-mpi", "stelvane-report", "stelvane-check")
        self.assertEqual(loaded.stdout.split(), [self.root + "/usr/bin/" + p for p in programs] +
                         [self.root + "/usr/share/man/man1/%s.1.gz" % p for p in programs])
        for page in ("stelvane-mpi.1", "stelvane-report.1", "stelvane-check.1"):
            linted = run(["mandoc", "-T", "lint", "-W", "warning", os.path.join(MAN_PAGES, page)])
            self.assertEqual((linted.returncode, linted.stdout), (0, ""), page)

    def test_the_check_s_systemd_units(self):
        # As shipped, but for the program's path: the unpacked package's.
        examples = os.path.join(self.root, "usr", "share", "doc", "stelvane-mpi", "examples")
        units = tempfile.mkdtemp(dir=self.folder)
        for unit in ("stelvane-check.service", "stelvane-check.timer"):
            with open(os.path.join(examples, unit)) as shipped, open(os.path.join(units, unit), "w") as copy:
                copy.write(shipped.read().replace("/usr/bin/stelvane-check", self.root + "/usr/bin/stelvane-check"))
        verified = run(["systemd-analyze", "verify", "--man=no"] + [os.path.join(units, u) for u in os.listdir(units)])
        self.assertEqual((verified.returncode, verified.stdout + verified.stderr), (0, ""))

    def test_the_installed_benchmark_at_full_size_and_its_report(self):
        # The RPM's, byte for byte the Debian package's (checked above).
        hosts = ["full-node0", "full-node1"]
        binary = os.path.join(self.rpm_root, "usr", "bin", "stelvane-mpi")
        job = self.run_job(2, binary=binary, hosts=hosts, at_prompt=lambda cwd: rank_zero_io(cwd, "stelvane-mpi"),
                           timeout=1200)
        check_successful_run(self, job, 2, hosts, FULL_SIZES)
        check_system_calls(self, job.at_prompt, FULL_SIZES)
        report = run([os.path.join(self.rpm_root, "usr", "bin", "stelvane-report"), job.result_files()[0]])
        self.assertEqual(report.returncode, 0, report.stderr)
        self.assertIn(": 2 ranks on 2 nodes", report.stdout)


if __name__ == "__main__":
    unittest.main()


class BuildFolder(unittest.TestCase):
    def test_a_build_folder_asked_for_the_other_family_builds_against_it(self):
        # What find_package cached for the first family must not outlive the
        # change: the binaries would start under the other launcher as one
        # job of one rank per process.
        source = os.path.join(HERE, "..", "..")
        with tempfile.TemporaryDirectory(prefix="stelvane-configure-") as folder:
            for family in ("mpich", "openmpi", "mpich"):
                done = run(["cmake", "-S", source, "-B", folder, "-DSTELVANE_MPI=" + family])
                self.assertEqual(done.returncode, 0, done.stderr)
                self.assertIn("-- MPI family: %s\n" % family, done.stdout)
