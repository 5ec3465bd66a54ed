"""Runs the real program under the real mpirun and reads what it leaves.

Every rank runs in its own UTS and mount namespaces (unshare, as root), so
each can have its own processor name and, where a test wants it, its own
mounts over the working directory. Every job has a timeout; a hang fails.
"""
import functools
import glob
import json
import os
import re
import shutil
import signal
import subprocess
import tempfile
import threading
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
BIN_DIR = os.environ.get("STELVANE_BIN_DIR", os.path.join(HERE, "..", "..", "build"))
# The report tools link no MPI: a build for the other family may use another build's.
TOOLS_DIR = os.environ.get("STELVANE_TOOLS_DIR", BIN_DIR)
REPORT = os.path.join(TOOLS_DIR, "tools", "stelvane-report", "stelvane-report")
MAKE_RESULT_FILE = os.path.join(TOOLS_DIR, "tools", "make-result-file", "make-result-file")
# How long one stelvane-report call may take before the test calls it hung.
# The longest, 4,096 ranks with the metrics under the sanitizers, takes 9 CPU
# seconds; under the test command's full load (a load of 13 on 2 cores) a
# process gets a sixth of a core, some 60 s: five times that.
REPORT_SECONDS = 300
TESTSIZE = os.path.join(BIN_DIR, "stelvane-mpi-testsize")
FULLSIZE = os.path.join(BIN_DIR, "stelvane-mpi")

# The test-size binary's counts and sizes, and the shipped ones.
TEST_SIZES = {"cycles": 512, "bytes": 65536, "max_ranks": 8}
FULL_SIZES = {"cycles": 131072, "bytes": 16777216, "max_ranks": 4096}

# The MPI family the binaries were built with (scripts/test sets it), and
# how its launcher is driven: the command, the flag that tags each line of
# output with its rank, the tag's form, and the variable that tells a rank
# its number.
MPI = os.environ.get("STELVANE_MPI", "openmpi")
LAUNCHERS = {
    "openmpi": {"command": ["mpirun", "--allow-run-as-root", "--oversubscribe", "-np"],
                "tag_output": ["--tag-output"], "tag": re.compile(r"^\[\d+,(\d+)\]<stdout>:"),
                "rank_variable": "OMPI_COMM_WORLD_RANK", "own_write_bytes": 0},
    "mpich": {"command": ["mpiexec.mpich", "-n"], "tag_output": ["-prepend-rank"],
              "tag": re.compile(r"^\[(\d+)\] "), "rank_variable": "PMI_RANK",
              # Debian's MPICH runs over UCX, whose shared-memory set-up in
              # MPI_Init writes its segments full of zeros: about 4.5 MB.
              "own_write_bytes": 8 << 20},
}
LAUNCHER = LAUNCHERS[MPI]
# The rank tags of both launchers' tagged output, as bytes: hydra puts its
# tag before every piece of output it forwards, even inside a line.
OUTPUT_TAG = re.compile(rb"\[\d+(?:,\d+\]<stdout>:|\] )")

RESULT_GLOB = "results_stelvane_lite_netbsd_sparc64_clusters @ *.txt"
PROMPT = "Press Enter to Exit."
FILL = b"\x0b"

WRAPPER = r"""#!/bin/sh
# One rank in its own UTS and mount namespaces, with its own hostname and an
# optional set-up line (mounts over the working directory, for instance).
rank="${OMPI_COMM_WORLD_RANK:-${PMI_RANK:?not started by mpirun or mpiexec}}"
host=$(sed -n "$((rank + 1))p" "$0.hosts")
setup=$(sed -n "$((rank + 1))p" "$0.setup")
exec unshare -u -m --propagation private /bin/sh -c '
  printf %s "$1" > /proc/sys/kernel/hostname || exit 97
  eval "$2" || exit 98
  shift 2
  exec "$@"' rank-wrapper "$host" "$setup" "$@"
"""


class Job:
    """What one run left: exit status, both streams, the working directory."""

    def __init__(self, rc, stdout, stderr, cwd, at_prompt):
        self.rc, self.stdout, self.stderr, self.cwd = rc, stdout, stderr, cwd
        self.at_prompt = at_prompt  # what the prompt callback returned

    @property
    def console(self):
        return self.stdout.split("\n")[:-1] if self.stdout.endswith("\n") else self.stdout.split("\n")

    def result_files(self):
        return sorted(glob.glob(os.path.join(glob.escape(self.cwd), RESULT_GLOB)))

    def result_lines(self):
        files = self.result_files()
        assert len(files) == 1, "expected one result file, found %r" % files
        with open(files[0], encoding="utf-8") as f:
            text = f.read()
        assert text.endswith("\n"), "result file does not end with a newline"
        return text[:-1].split("\n")

    def file(self, name):
        with open(os.path.join(self.cwd, name), "rb") as f:
            return f.read()


class JobTestCase(unittest.TestCase):
    """Gives each test a scratch directory and a way to run jobs in it."""

    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="stelvane-e2e-", dir="/dev/shm" if os.access("/dev/shm", os.W_OK) else None)
        self.addCleanup(shutil.rmtree, self.work, True)

    def run_job(self, ranks, binary=TESTSIZE, hosts=None, setup=None, env=None, stdin=b"",
                timeout=180, cwd=None, wrap=True, at_prompt=None, mpirun_args=()):
        """Runs `ranks` ranks; `setup` maps a rank to a shell line run in its
        namespaces before the program starts (in the working directory)."""
        hosts = hosts or ["node%d" % r for r in range(ranks)]
        command = LAUNCHER["command"] + [str(ranks)] + list(mpirun_args)
        command += [self._write_wrapper(hosts, setup or {})] if wrap else []
        return run_process(command + [binary], cwd or self.work, dict(os.environ, **(env or {})), stdin, timeout,
                           at_prompt)

    def _write_wrapper(self, hosts, setup):
        directory = tempfile.mkdtemp(prefix="stelvane-wrap-")
        self.addCleanup(shutil.rmtree, directory, True)
        path = os.path.join(directory, "rank-wrapper")
        with open(path, "w") as f:
            f.write(WRAPPER)
        os.chmod(path, 0o755)
        with open(path + ".hosts", "w") as f:
            f.write("".join(h + "\n" for h in hosts))
        with open(path + ".setup", "w") as f:
            f.write("".join(setup.get(r, ":") + "\n" for r in range(len(hosts))))
        return path


def run_process(command, cwd, env, stdin, timeout, at_prompt):
    """Runs a job; once the prompt shows (or the job ends) calls at_prompt,
    then writes stdin and closes it. Kills the whole job on timeout."""
    with tempfile.TemporaryFile() as err:
        process = subprocess.Popen(command, cwd=cwd, env=env, stdin=subprocess.PIPE,
                                   stdout=subprocess.PIPE, stderr=err, start_new_session=True)
        lines, prompt_seen = [], threading.Event()

        def read_stdout():
            recent = b""  # the output's end, without the tags a launcher may put anywhere in it
            for raw in process.stdout:
                lines.append(raw)
                recent = (recent + OUTPUT_TAG.sub(b"", raw))[-4 * len(PROMPT):]
                if recent.rstrip(b"\n").endswith(PROMPT.encode()):
                    prompt_seen.set()
            prompt_seen.set()

        reader = threading.Thread(target=read_stdout, daemon=True)
        reader.start()
        try:
            if not prompt_seen.wait(timeout):
                raise subprocess.TimeoutExpired(command, timeout)
            snapshot = at_prompt(cwd) if at_prompt else None
            try:
                process.stdin.write(stdin)
                process.stdin.close()
            except BrokenPipeError:
                pass
            process.wait(timeout)
        except subprocess.TimeoutExpired:
            os.killpg(process.pid, signal.SIGKILL)
            process.wait()
            raise AssertionError("job did not finish within %ss: %s\n%s" %
                                 (timeout, " ".join(command), b"".join(lines).decode(errors="replace")))
        reader.join(10)
        process.stdout.close()
        err.seek(0)
        stderr = err.read().decode()
        check_no_sanitizer_report(stderr)
        return Job(process.returncode, b"".join(lines).decode(), stderr, cwd, snapshot)


SANITIZER_MARKS = ("Sanitizer", "runtime error:")


def check_no_sanitizer_report(stderr):
    """In the sanitized builds (scripts/test-sanitized), a report on any
    standard error fails the test, whatever the exit status."""
    if os.environ.get("STELVANE_SANITIZED"):
        assert not any(mark in stderr for mark in SANITIZER_MARKS), "sanitizer report:\n" + stderr


# ---- Golden reports ---------------------------------------------------------

NUMBER = r"(\S+)"


def golden_lines(golden_name, substitutions):
    """The lines of a golden report, with {KEY} replaced by substitutions[KEY]
    and {N} left to stand for a number in the default format."""
    with open(os.path.join(HERE, "golden", golden_name), encoding="utf-8") as f:
        golden = f.read().split("\n")[:-1]
    for key, value in substitutions.items():
        golden = [line.replace("{%s}" % key, value) for line in golden]
    return golden


def match_lines(test, actual, expected, label):
    """Compares report lines with expected lines one by one, literal text
    exact, every {N} a number exactly as the stream's default format prints it.
    Returns the numbers, in order."""
    test.assertEqual(len(actual), len(expected),
                     "%s: %d lines, expected %d:\n%s" % (label, len(actual), len(expected), "\n".join(actual)))
    numbers = []
    for number, (want, line) in enumerate(zip(expected, actual), 1):
        pattern = "^" + re.escape(want).replace(re.escape("{N}"), NUMBER) + "$"
        found = re.match(pattern, line)
        test.assertIsNotNone(found, "%s line %d: %r does not match %r" % (label, number, line, want))
        for text in found.groups():
            test.assertEqual("%g" % float(text), text, "not in the default number format")
            numbers.append(float(text))
    return numbers


# ---- Checks shared by the suites ---------------------------------------------

def expected_report(stream, ranks, hosts, path=None):
    """The expected lines of a successful run's console or result file. The
    golden reports hold 1, 2 and 3 ranks; larger jobs repeat worker 2's line
    groups for every further worker."""
    substitutions = {"HOST%d" % r: h for r, h in enumerate(hosts)}
    if path is not None:
        substitutions["PATH"] = path
    if ranks <= 3:
        return golden_lines("%s-%d.txt" % (stream, ranks), substitutions)
    base = golden_lines("%s-3.txt" % stream, {})
    expanded, group = [], []

    def flush_group():
        expanded.extend(group)
        for rank in range(3, ranks):
            expanded.extend(l.replace("Thread:2 @{HOST2}", "Thread:%d @{HOST%d}" % (rank, rank)) for l in group)
        group.clear()

    for line in base:
        if "Thread:2 @{HOST2}" in line or (group and line.startswith("Conventionally, it was: ")):
            group.append(line)
            continue
        if group:
            flush_group()
        expanded.append(line.replace("Thread(s): 3", "Thread(s): %d" % ranks))
    flush_group()
    for key, value in substitutions.items():
        expanded = [l.replace("{%s}" % key, value) for l in expanded]
    return expanded


def result_path(job):
    files = job.result_files()
    return os.path.join(os.path.realpath(job.cwd), os.path.basename(files[0])) if files else None


def check_report_lines(test, job, ranks, hosts):
    """Both streams of a successful run, line by line, with the same figures."""
    console = match_lines(test, job.console, expected_report("console", ranks, hosts, result_path(job)), "console")
    test.assertEqual(console, match_lines(test, job.result_lines(), expected_report("file", ranks, hosts), "result file"))


# ---- Figures, as stelvane-report reads them ------------------------------------

def report_of(lines):
    """stelvane-report's JSON reading of the lines of a result file."""
    done = subprocess.run([REPORT, "--json", "-"], input="\n".join(lines) + "\n", capture_output=True, text=True,
                          timeout=REPORT_SECONDS)
    check_no_sanitizer_report(done.stderr)
    assert done.returncode == 0, done.stderr
    return json.loads(done.stdout)


@functools.lru_cache(maxsize=None)
def measurements():
    """The six measurements in report order, as stelvane-report describes
    them: key, name (in failure lines), title and unit."""
    with tempfile.TemporaryDirectory() as folder:
        path = subprocess.run([MAKE_RESULT_FILE, folder, "--ranks", "1"], capture_output=True, text=True,
                              check=True).stdout.strip()
        with open(path) as f:
            return tuple(report_of(f.read().split("\n")[:-1])["measurements"])


KEYS = tuple(m["key"] for m in measurements())
FILE_HANDLING = tuple(m["key"] for m in measurements() if m["unit"] == "files/s")


def credited(size, rank):
    """Units a measurement credits: size x (1 + 1/d)."""
    return size * (1.0 + 1.0 / (2 if rank == 0 else rank + 1))


def close(a, b, rel=3e-5):  # every printed figure is rounded to six significant digits
    return abs(a - b) <= rel * max(abs(a), abs(b))


def check_figures(test, lines, ranks, hosts, sizes, block_input_size=None):
    """Every figure of a result file agrees with the others: rates with counts
    and seconds, totals, ratios and averages with the workers' figures, each
    MB figure with the Millions figure above it. A worker's rate shows the
    pass divisor of its rank. Returns stelvane-report's reading."""
    report = report_of(lines)
    test.assertEqual((report["ranks"], report["complete"]), (ranks, True))

    def units(key, rank):
        if key in FILE_HANDLING:
            return sizes["cycles"]
        if key.startswith("block") and rank == 0 and block_input_size is not None:
            return credited(block_input_size, 0)
        return credited(sizes["bytes"], rank)

    for key, m in zip(KEYS, report["measurements"]):
        rank0, workers = m["rank0"], m["workers"]
        test.assertTrue(close(rank0["figure"], units(key, 0) / rank0["seconds"]), (key, rank0))
        test.assertEqual([(w["rank"], w["node"]) for w in workers], [(r, hosts[r]) for r in range(1, ranks)], key)
        for w in workers:
            test.assertTrue(close(w["figure"], units(key, w["rank"]) / w["seconds"]), (key, w))
        if ranks > 1:
            cluster = m["cluster"]
            test.assertTrue(close(cluster["total"], sum(w["figure"] for w in workers)), key)
            test.assertTrue(close(cluster["improvement"], cluster["total"] / rank0["figure"]), key)
            test.assertTrue(close(cluster["average"], cluster["total"] / (ranks - 1)), key)
    for above, line in zip(lines, lines[1:]):
        millions = re.search(r"It was: (\S+) Millions", above)
        megabytes = re.match(r"^Conventionally, (?:it|total \w+ speed) was: (\S+) MB/sec\.$", line)
        if millions and megabytes:
            test.assertTrue(close(float(megabytes.group(1)) * 1048576, float(millions.group(1)) * 1e6), line)
    return report


def rates(lines):
    """The rates of a report, console or file, in the order printed: rank 0's
    six, the workers' (measurement by measurement, rank by rank), the
    cluster totals and the improvement ratios (nan for a failed figure)."""
    def numbers(pattern):
        return [float(m.group(1)) for m in (re.match(pattern, line) for line in lines) if m]
    return (numbers(r"^(?:The system could process  ?|It was: )(\S+) "),
            numbers(r"^Thread:\d+ @.* (?:The system could process|It was:) (\S+) "),
            numbers(r"^Overall, .*?: (\S+) "), numbers(r"^Multi-Thread Improvements: (\S+) "))


def scratch_files(ranks, hosts):
    """The files a run leaves besides its result file, by name: the byte-wise
    files (.tmp) and the block outputs of rank 0 and of every worker."""
    names = ["data64-sparc-single.tmp", "data64-sparc-single"]
    for rank in range(1, ranks):
        names += ["data64-sparc-%d @%s.tmp" % (rank, hosts[rank]), "data64-sparc-%d @%s" % (rank, hosts[rank])]
    return names


def check_files_left(test, job, ranks, hosts, sizes):
    left = sorted(set(os.listdir(job.cwd)) - {os.path.basename(f) for f in job.result_files()})
    test.assertEqual(left, sorted(scratch_files(ranks, hosts)))
    for name in left:
        test.assertEqual(job.file(name), FILL * sizes["bytes"], name)


def check_successful_run(test, job, ranks, hosts, sizes=TEST_SIZES):
    test.assertEqual(job.rc, 0, job.stderr)
    test.assertNotIn("stelvane-mpi:", job.stderr)
    check_report_lines(test, job, ranks, hosts)
    check_figures(test, job.result_lines(), ranks, hosts, sizes)
    check_files_left(test, job, ranks, hosts, sizes)


def rank_zero_io(cwd, command_name):
    """Rank 0's system-call counters (/proc/PID/io), read while it waits at
    the prompt in `cwd`."""
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open("/proc/%s/comm" % pid) as f:
                if f.read().strip() != command_name[:15]:
                    continue
            with open("/proc/%s/environ" % pid, "rb") as f:
                if LAUNCHER["rank_variable"].encode() + b"=0\0" not in f.read():
                    continue
            if os.path.realpath(os.readlink("/proc/%s/cwd" % pid)) != os.path.realpath(cwd):
                continue
            with open("/proc/%s/io" % pid) as f:
                return {k: int(v) for k, v in (line.split(": ") for line in f.read().splitlines())}
        except OSError:
            continue
    return None


def check_system_calls(test, io, sizes):
    """Every byte of the byte-wise workload is one system call of its own,
    and every byte the workloads credit was written: rank 0 writes the file
    and half of it again a byte at a time, and writes it out again in two
    blocks. What else a run writes (report lines, and what the MPI library
    writes for itself) stays within a bound."""
    test.assertIsNotNone(io, "rank 0 not found at the prompt")
    byte_calls = sizes["bytes"] + sizes["bytes"] // 2
    test.assertGreaterEqual(io["syscw"], byte_calls)
    test.assertLessEqual(io["syscw"], byte_calls + 20000)
    test.assertGreaterEqual(io["syscr"], byte_calls + 1)  # the last read meets the end of the file
    test.assertLessEqual(io["syscr"], byte_calls + 1 + 20000)
    test.assertGreaterEqual(io["wchar"], 2 * byte_calls)
    test.assertLessEqual(io["wchar"], 2 * byte_calls + 20000 + LAUNCHER["own_write_bytes"])
