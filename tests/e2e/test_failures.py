"""Failed measurements: an unwritable directory, a full file system, a
missing block input, a processor name that is no valid file name, a worker
killed mid-run, and the faults of real disks (ext4 out of inodes or full part
way, a device that answers with I/O errors). A failed figure prints as nan,
its rank says why on standard error and ends with a non-zero status; the run
still goes to its end."""
import math
import os
import re
import shutil
import subprocess
import tempfile
import time
import unittest

from harness import (JobTestCase, TESTSIZE, TEST_SIZES, check_figures, check_report_lines, expected_report, match_lines,
                     measurements, rates, report_of, result_path)

READ_ONLY = 'd=$(pwd) && mount --bind "$d" "$d" && mount -o remount,bind,ro "$d" && cd "$d"'
TINY_TMPFS = 'd=$(pwd) && mount -t tmpfs -o size=32k stelvane-full "$d" && cd "$d"'
# The measurements' names in failure lines, in report order.
NAMES = [m["name"] for m in measurements()]
BYTEWISE_WRITE, BYTEWISE_READ, BLOCK_READ, BLOCK_WRITE = 2, 3, 4, 5  # their places in that order
CYCLES = TEST_SIZES["cycles"]


def byte_writes(rank):
    """Bytes the byte-wise write puts: the file, then size/d more."""
    size = TEST_SIZES["bytes"]
    return size + size // (2 if rank == 0 else rank + 1)


def failure_lines(stderr, rank):
    return [l for l in stderr.split("\n") if l.startswith("stelvane-mpi: rank %d " % rank)]


def without_unable_to_open(lines):
    return [l for l in lines if l != "Unable to open file"]


class Failures(JobTestCase):
    def assert_rank_failed_everything(self, job, rank, host, scratch, output, reason):
        prefix = "stelvane-mpi: rank %d (%s): " % (rank, host)
        self.assertEqual(failure_lines(job.stderr, rank), [
            prefix + '%s failed on "%s": %d of %d cycles failed, first: %s' % (NAMES[0], scratch[0], CYCLES, CYCLES, reason),
            prefix + '%s failed on "%s": %d of %d cycles failed, first: %s' % (NAMES[1], scratch[1], CYCLES, CYCLES, reason),
            prefix + '%s failed on "%s": %d of %d byte writes failed, first: %s'
            % (NAMES[2], scratch[2], byte_writes(rank), byte_writes(rank), reason),
            prefix + '%s failed on "%s": No such file or directory' % (NAMES[3], scratch[2]),
            prefix + '%s failed on "%s": No such file or directory' % (NAMES[4], scratch[2]),
            prefix + '%s failed on "%s": nothing to write: the block read failed' % (NAMES[5], output),
        ])

    def test_unwritable_directory_on_rank_zero(self):
        # Each rank's own status, as it leaves: the worker, whose work is done, must be gone with status 0 before
        # rank 0's non-zero status ends the job.
        statuses = tempfile.mkdtemp(prefix="stelvane-statuses-")
        self.addCleanup(shutil.rmtree, statuses, True)
        recorder = os.path.join(statuses, "record-status")
        with open(recorder, "w") as f:
            f.write('#!/bin/sh\n"%s" "$@"\nstatus=$?\necho $status > "%s/rank.${OMPI_COMM_WORLD_RANK:-$PMI_RANK}"\n'
                    'exit $status\n' % (TESTSIZE, statuses))
        os.chmod(recorder, 0o755)
        # The worker leaves only once rank 0's grace has begun (and a quarter of it more): under mpirun, a
        # rank 0 that does not wait for it has it killed every time, not only when it happens to be late (6 of
        # 10 without the hook); counted from rank 0's grace, its exit stays within it under any load. Hydra
        # lets a worker finish after rank 0's status, grace or not.
        job = self.run_job(2, binary=recorder, setup={0: READ_ONLY},
                           env={"STELVANE_TEST_LINGER_AFTER_FINALIZE": "1",
                                "STELVANE_TEST_GRACE_FLAG": os.path.join(statuses, "grace")})
        self.assertEqual(job.rc, 1)
        recorded = {}
        for name in os.listdir(statuses):
            if name.startswith("rank."):
                with open(os.path.join(statuses, name)) as f:
                    recorded[name] = f.read().strip()
        self.assertEqual(recorded, {"rank.0": "1", "rank.1": "0"})
        self.assert_rank_failed_everything(
            job, 0, "node0", ["data64-sparc-low.tmp", "data64-sparc-high.tmp", "data64-sparc-single.tmp"],
            "data64-sparc-single", "Read-only file system")
        self.assertEqual(failure_lines(job.stderr, 1), [])
        self.assertRegex(job.stderr, r'stelvane-mpi: the results could not be saved to "%s/results_stelvane_lite'
                         r'[^"]*@ node0\.txt": Read-only file system' % re.escape(os.path.realpath(self.work)))
        # The console report is whole; it only says where the file is not.
        expected = [l for l in expected_report("console", 2, ["node0", "node1"])
                    if not l.startswith("Results have been saved")]
        expected.insert(expected.index("The system spent: {N} Secs. to Read:"), "Unable to open file")
        match_lines(self, job.console, expected, "console")
        single, workers, _, ratios = rates(job.console)
        self.assertTrue(all(map(math.isnan, single + ratios)) and len(single) == len(ratios) == 6)
        self.assertFalse(any(map(math.isnan, workers)))
        self.assertEqual(sorted(os.listdir(self.work)), ["data64-sparc-1 @node1", "data64-sparc-1 @node1.tmp"])

    def test_full_file_system(self):
        # Each rank gets its own 32 KiB file system: the byte-wise file
        # (64 KiB) does not fit, the empty files of the cycles do.
        job = self.run_job(2, setup={0: TINY_TMPFS, 1: TINY_TMPFS})
        self.assertEqual(job.rc, 1)
        for rank, host, name, output in ((0, "node0", "data64-sparc-single.tmp", "data64-sparc-single"),
                                         (1, "node1", "data64-sparc-1 @node1.tmp", "data64-sparc-1 @node1")):
            lines = "\n".join(failure_lines(job.stderr, rank))
            self.assertRegex(lines, r'byte-wise write failed on "%s": \d+ of %d byte writes failed, first: '
                             r'No space left on device' % (re.escape(name), byte_writes(rank)))
            self.assertRegex(lines, r'byte-wise read failed on "%s": the file delivered \d+ and \d+ bytes'
                             % re.escape(name))
            self.assertRegex(lines, r'block write failed on "%s": No space left on device' % re.escape(output))
            self.assertNotIn("file handling", lines)
        single, workers, _, _ = rates(without_unable_to_open(job.console))
        for m in (BYTEWISE_WRITE, BYTEWISE_READ, BLOCK_WRITE):
            self.assertTrue(math.isnan(single[m]) and math.isnan(workers[m]), m)
        self.assertFalse(any(map(math.isnan, single[:2])))  # the file handling

    def test_missing_block_input(self):
        for ranks, rank, name, output in ((1, 0, "data64-sparc-single.tmp", "data64-sparc-single"),
                                          (3, 2, "data64-sparc-2 @node2.tmp", "data64-sparc-2 @node2")):
            job = self.run_job(ranks, env={"STELVANE_TEST_REMOVE_BLOCK_INPUT": str(rank)})
            self.assertEqual(job.rc, 1, job.stderr)
            self.assertEqual(failure_lines(job.stderr, rank), [
                'stelvane-mpi: rank %d (node%d): block read failed on "%s": No such file or directory'
                % (rank, rank, name),
                'stelvane-mpi: rank %d (node%d): block write failed on "%s": nothing to write: the block read failed'
                % (rank, rank, output)])
            hosts = ["node%d" % r for r in range(ranks)]
            match_lines(self, job.console, expected_report("console", ranks, hosts, result_path(job)), "console")
            single, workers, _, _ = rates(job.console)
            got = single if rank == 0 else workers[rank - 1::ranks - 1]  # one figure per measurement
            self.assertTrue(math.isnan(got[BLOCK_READ]) and math.isnan(got[BLOCK_WRITE]))
            self.assertFalse(math.isnan(got[BYTEWISE_READ]))
            self.assertFalse(os.path.exists(os.path.join(job.cwd, output)))
            for leftover in os.listdir(job.cwd):
                os.remove(os.path.join(job.cwd, leftover))

    def test_processor_name_that_is_no_valid_file_name(self):
        # Linux lets a hostname hold "/": the worker's scratch names then
        # point into a directory that does not exist.
        job = self.run_job(2, hosts=["node0", "bad/name"])
        self.assertEqual(job.rc, 1)
        self.assert_rank_failed_everything(
            job, 1, "bad/name", ["data64-sparc-1 @bad/name.tmp"] * 3, "data64-sparc-1 @bad/name",
            "No such file or directory")
        self.assertEqual(failure_lines(job.stderr, 0), [])
        left = sorted(os.listdir(self.work))
        self.assertEqual([n for n in left if not n.startswith("results_")],
                         ["data64-sparc-single", "data64-sparc-single.tmp"])


    def test_a_worker_killed_mid_run_ends_the_job(self):
        # Rank 1 raises a flag as it starts a measurement held for 20 s, and
        # is killed only then: inside the run, never while MPI starts up.
        # The launcher ends the job at once; when it signals before it kills
        # (mpirun, at times), rank 0 saves every figure it has, rank 1 given up.
        flag = os.path.join(self.work, "rank-1-measuring")
        job = self.run_job(3, setup={1: '(while [ ! -e "%s" ]; do sleep 0.05; done; kill -KILL $$) &' % flag},
                           env={"STELVANE_TEST_DELAY_RANK": "1", "STELVANE_TEST_DELAY_MS": "20000",
                                "STELVANE_TEST_DELAY_FLAG": flag}, timeout=60)
        self.assertNotEqual(job.rc, 0)
        if "Press Enter to Exit." in job.stdout:
            self.assertIn("stelvane-mpi: rank 1 (node1): no answer in ", job.stderr)
            self.assertTrue(report_of(job.result_lines())["complete"])

    def test_a_worker_that_hangs_after_its_last_report_is_named_and_the_job_ends(self):
        # Rank 2 stops once its last report has left: every figure is in, but
        # it never comes to the end. Rank 0 waits for it only the margin for
        # late starters, then names it and ends the job.
        job = self.run_job(3, env={"STELVANE_TEST_STOP_AT_END": "2"}, timeout=60)
        self.assertNotEqual(job.rc, 0)
        self.assertRegex(job.stderr, r"(?m)^stelvane-mpi: rank 2 \(node2\): did not come to the end of the run within "
                                     r"\d+ s of the report's end; the job is ended, and its figures are all in the "
                                     r"report$")
        self.assertEqual([l for l in job.stderr.split("\n") if l.startswith("stelvane-mpi:")][1:], [], job.stderr)
        check_report_lines(self, job, 3, ["node0", "node1", "node2"])
        check_figures(self, job.result_lines(), 3, ["node0", "node1", "node2"], TEST_SIZES)


# An ext4 file system of its own on the rank's working directory, on a loop
# device whose image lies in the test's folder; {fill} then uses some of it up.
EXT4 = 'd=$(pwd) && mount -o loop "{image}" "$d" && cd "$d" && {fill}'
# Every inode taken while most blocks stay free.
NO_INODES = 'mkdir fill && i=0 && while true > "fill/$i" 2>/dev/null; do i=$((i+1)); done; df -i . | grep -q " 0 *100%"'
# All but `free` bytes taken by one file.
LEAVE_FREE = 'head -c $(($(df --output=avail -B1 . | tail -n 1) - {free})) /dev/zero > fill'
# Debian's own Python, which holds the FUSE binding.
SYSTEM_PYTHON = "/usr/bin/python3"
HERE = os.path.dirname(os.path.abspath(__file__))


def stop_file_system(disk):
    """Waits for a FUSE file system to end once unmounted; one that has not ended within 30 s (its daemon
    is slow to hear of a lazy unmount on a loaded machine) is killed: the tests judge the benchmark, not it."""
    try:
        disk.wait(30)
    except subprocess.TimeoutExpired:
        disk.kill()
        disk.wait(30)


class RealDiskFaults(JobTestCase):
    """Each on worker rank 1, so that rank 0's report shows the worker's nan
    and the totals that include it, and every other figure intact."""

    def ext4_image(self, inodes=None):
        image = os.path.join(self.work, "..", os.path.basename(self.work) + ".ext4")
        self.addCleanup(os.remove, image)
        with open(image, "wb") as f:
            f.truncate(4 << 20)
        options = ["-N", str(inodes)] if inodes else []
        subprocess.run(["mkfs.ext4", "-q", "-F", "-m", "0"] + options + [image], check=True)
        return os.path.realpath(image)

    def check_worker_failed(self, job, measurements_failed):
        """Rank 1 failed these measurements: its figure and the cluster
        total are nan there and nowhere else; rank 0 failed nothing; the
        result file is complete."""
        self.assertEqual(job.rc, 1, job.stderr)
        self.assertEqual(failure_lines(job.stderr, 0), [])
        self.assertEqual(len(job.result_files()), 1)
        for m, figures in enumerate(report_of(job.result_lines())["measurements"]):
            failed = m in measurements_failed
            self.assertIsNotNone(figures["rank0"]["figure"], m)
            self.assertEqual(figures["workers"][0]["figure"] is None, failed, m)
            self.assertEqual(figures["cluster"]["total"] is None, failed, m)

    def test_out_of_inodes_while_blocks_are_free(self):
        image = self.ext4_image(inodes=64)
        job = self.run_job(2, setup={1: EXT4.format(image=image, fill=NO_INODES)})
        Failures.assert_rank_failed_everything(self, job, 1, "node1", ["data64-sparc-1 @node1.tmp"] * 3,
                                               "data64-sparc-1 @node1", "No space left on device")
        self.check_worker_failed(job, range(6))

    def test_full_part_way_through_the_bytewise_file(self):
        job = self.run_job(2, setup={1: EXT4.format(image=self.ext4_image(), fill=LEAVE_FREE.format(free=24576))})
        lines = "\n".join(failure_lines(job.stderr, 1))
        self.assertRegex(lines, r'byte-wise write failed on "data64-sparc-1 @node1.tmp": \d+ of %d byte writes '
                         r'failed, first: No space left on device' % byte_writes(1))
        self.assertRegex(lines, r'block write failed on "data64-sparc-1 @node1": No space left on device')
        self.check_worker_failed(job, (BYTEWISE_WRITE, BYTEWISE_READ, BLOCK_WRITE))

    def test_full_part_way_through_the_block_write(self):
        free = TEST_SIZES["bytes"] + TEST_SIZES["bytes"] // 2
        job = self.run_job(2, setup={1: EXT4.format(image=self.ext4_image(), fill=LEAVE_FREE.format(free=free))})
        self.assertEqual(failure_lines(job.stderr, 1), [
            'stelvane-mpi: rank 1 (node1): block write failed on "data64-sparc-1 @node1": No space left on device'])
        self.check_worker_failed(job, (BLOCK_WRITE,))

    def test_io_errors_from_a_failing_device(self):
        # Past its first 16 KiB every write and read of a file gets EIO.
        backing, mountpoint = tempfile.mkdtemp(dir=self.work), tempfile.mkdtemp(dir=self.work)
        disk = subprocess.Popen([SYSTEM_PYTHON, os.path.join(HERE, "eio_fs.py"), backing, mountpoint, "16384"])
        self.addCleanup(stop_file_system, disk)
        self.addCleanup(subprocess.run, ["umount", "-l", mountpoint])
        deadline = time.time() + 30
        while not os.path.ismount(mountpoint):
            self.assertIsNone(disk.poll(), "the failing file system did not start")
            self.assertLess(time.time(), deadline, "the failing file system was never mounted: waited 30 s for it")
            time.sleep(0.05)
        job = self.run_job(2, setup={1: 'cd "%s"' % mountpoint})
        self.assertEqual(failure_lines(job.stderr, 1), [
            'stelvane-mpi: rank 1 (node1): byte-wise write failed on "data64-sparc-1 @node1.tmp": %d of %d byte '
            'writes failed, first: Input/output error' % (byte_writes(1) - 16384, byte_writes(1)),
            'stelvane-mpi: rank 1 (node1): byte-wise read failed on "data64-sparc-1 @node1.tmp": the file delivered '
            '16384 and 0 bytes in its passes, expected %d and %d' % (TEST_SIZES["bytes"], TEST_SIZES["bytes"] // 2)])
        self.check_worker_failed(job, (BYTEWISE_WRITE, BYTEWISE_READ))


if __name__ == "__main__":
    unittest.main()
