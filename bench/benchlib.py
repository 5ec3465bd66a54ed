"""What the benchmark scripts share: building, launching one rank, reading
rank 0's figures back, and paired ratios with their intervals."""
import collections
import json
import math
import os
import re
import statistics
import subprocess

SOURCE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BOOTSTRAP_SAMPLES = 10000
# A span's marks in the test-size builds (src/span_marks.h) as strace shows
# them, and any system call line of the same process.
SPAN_MARK = re.compile(r'^(\d+) +access\("stelvane-span-(begin|end):(\w+)"')
SYSTEM_CALL = re.compile(r'^(\d+) +(\w+)\(')


def build(build_dir, targets=(), options=("-DSTELVANE_BENCH=ON",)):
    """Configures and builds build_dir (only `targets`, when given)."""
    subprocess.run(["cmake", "-S", SOURCE, "-B", build_dir, "-DCMAKE_BUILD_TYPE=Release"] + list(options),
                   check=True, stdout=subprocess.DEVNULL)
    chosen = ["--target"] + list(targets) if targets else []
    subprocess.run(["cmake", "--build", build_dir, "-j", str(os.cpu_count() or 1)] + chosen, check=True,
                   stdout=subprocess.DEVNULL)


def mpirun_flags():
    return subprocess.run([os.path.join(SOURCE, "scripts", "mpirun-flags")], capture_output=True, text=True,
                          check=True).stdout.split()


def one_rank_launcher():
    """The launcher of a job of one rank, up to the program."""
    return ["mpirun"] + mpirun_flags() + ["-np", "1"]


def one_rank(binary):
    """The command that starts `binary` as a job of one rank."""
    return one_rank_launcher() + [binary]


def empty(folder):
    for name in os.listdir(folder):
        path = os.path.join(folder, name)
        if os.path.isdir(path) and not os.path.islink(path):
            for inner in os.listdir(path):
                os.remove(os.path.join(path, inner))
            os.rmdir(path)
        else:
            os.remove(path)


def run_program(binary, report, folder):
    """Rank 0's six figures of one run in an emptied folder, read back by
    stelvane-report: {key: figure}."""
    empty(folder)
    subprocess.run(one_rank(binary), cwd=folder, check=True, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)
    [result] = [n for n in os.listdir(folder) if n.startswith("results_")]
    document = json.loads(subprocess.run([report, "--json", os.path.join(folder, result)], capture_output=True,
                                         text=True, check=True).stdout)
    return {m["key"]: m["rank0"]["figure"] for m in document["measurements"]}


def geometric_mean(values):
    return math.exp(statistics.fmean(math.log(v) for v in values))


def bootstrap_interval(ratios, rng):
    """95 % percentile interval of the geometric mean of the paired ratios."""
    means = sorted(geometric_mean([rng.choice(ratios) for _ in ratios]) for _ in range(BOOTSTRAP_SAMPLES))
    return means[int(0.025 * BOOTSTRAP_SAMPLES)], means[int(0.975 * BOOTSTRAP_SAMPLES) - 1]


def wilson_interval(count, total, z=1.96):
    """95 % Wilson interval of a share of `count` in `total`, as (low, high)."""
    if not total:
        return 0.0, 1.0
    share = count / total
    centre = (share + z * z / (2 * total)) / (1 + z * z / total)
    half = z * math.sqrt(share * (1 - share) / total + z * z / (4 * total * total)) / (1 + z * z / total)
    return max(0.0, centre - half), min(1.0, centre + half)


def judgement(low, high, threshold):
    """met when the whole interval is at or above the threshold, MISSED when
    the whole of it is below, not resolved when it straddles it."""
    if low >= threshold:
        return "met"
    return "MISSED" if high < threshold else "not resolved"


def span_system_calls(command, folder):
    """Runs `command` (a test-size build, STELVANE_SPAN_MARKS set) under
    strace and returns the system calls between each span's marks, by name:
    {key: Counter}."""
    trace = os.path.join(folder, "strace.out")
    subprocess.run(["strace", "-f", "-qq", "-o", trace] + command, cwd=folder,
                   env=dict(os.environ, STELVANE_SPAN_MARKS="1"), stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, check=True)
    spans, open_spans = {}, {}
    with open(trace) as f:
        for text in f:
            mark = SPAN_MARK.match(text)
            if mark:
                pid, edge, key = mark.groups()
                if edge == "begin":
                    open_spans[pid] = key
                    spans[key] = collections.Counter()
                else:
                    open_spans.pop(pid, None)
                continue
            call = SYSTEM_CALL.match(text)
            if call and call.group(1) in open_spans:
                spans[open_spans[call.group(1)]][call.group(2)] += 1
    os.remove(trace)
    return spans
