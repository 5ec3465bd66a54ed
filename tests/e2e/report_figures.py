"""Reads the figures out of a benchmark report (console or result file):
rank 0's single-process figures, every worker's, and the cluster figures.
It parses the report's text on its own, to check stelvane-report against;
the measurements' names come from stelvane-report."""
import functools
import json
import os
import re
import subprocess
import tempfile
from collections import defaultdict

HERE = os.path.dirname(os.path.abspath(__file__))
BIN_DIR = os.environ.get("STELVANE_BIN_DIR", os.path.join(HERE, "..", "..", "build"))
REPORT = os.environ.get("STELVANE_REPORT_BIN", os.path.join(BIN_DIR, "tools", "stelvane-report", "stelvane-report"))
MAKE_RESULT_FILE = os.path.join(BIN_DIR, "tests", "tools", "make-result-file")


@functools.lru_cache(maxsize=None)
def measurements():
    """The six measurements in report order, as stelvane-report describes
    them: dicts with key, name (of failure lines), title and unit."""
    with tempfile.TemporaryDirectory() as folder:
        path = subprocess.run([MAKE_RESULT_FILE, folder, "--ranks", "1"], capture_output=True, text=True,
                              check=True).stdout.strip()
        document = json.loads(subprocess.run([REPORT, "--json", path], capture_output=True, text=True,
                                             check=True).stdout)
    return tuple(document["measurements"])


KEYS = tuple(m["key"] for m in measurements())
FILE_HANDLING = tuple(m["key"] for m in measurements() if m["unit"] == "files/s")
TRANSFER = tuple(k for k in KEYS if k not in FILE_HANDLING)

# Each heading of the report and the measurements under it, in report
# order: (writing or file handling, reading).
SECTIONS = {
    "Power of Handling Files -- Lower": (KEYS[0], KEYS[0]),
    "Power of Handling Files -- Hihger": (KEYS[1], KEYS[1]),
    "Power of Handling Files -- Higher": (KEYS[1], KEYS[1]),
    "Low writing and reading speeds:": (KEYS[2], KEYS[3]),
    "High writing and reading speeds:": (KEYS[5], KEYS[4]),
}


class Figures:
    """The figures of a report, by measurement key: rank 0's (spent, rate),
    each worker's [rank, name, spent, rate], and the cluster figures.
    Transfer rates are rebuilt from their "Millions" figure."""

    def __init__(self):
        self.single, self.single_mb = {}, {}
        self.workers, self.worker_mb = defaultdict(list), defaultdict(list)
        self.total, self.total_mb, self.ratio, self.average_mb, self.average = {}, {}, {}, {}, {}


def parse_figures(lines):
    figures, section, multi, current = Figures(), None, False, None
    ratio_for = []

    def key_of(direction):
        """The measurement of the current section: writing, reading or file handling."""
        return section[1] if direction in ("Read", "Read.", "Read:", "reading") else section[0]

    for line in lines:
        if line == "Multi-Thread Enabled:":
            multi = True
            continue
        if line in SECTIONS:
            section = SECTIONS[line]
            multi = multi or (section[0] == KEYS[1] and KEYS[0] in figures.workers)
            continue
        m = re.match(r"^Thread:(\d+) @(.*) The system spent: (\S+) Secs\.(?: to (Write|Read)\.)?$", line)
        if m:
            current = key_of(m.group(4))
            figures.workers[current].append([int(m.group(1)), m.group(2), float(m.group(3)), None])
            continue
        m = re.match(r"^Thread:\d+ @.* (?:The system could process (\S+) Files/sec\.|It was: (\S+) Millions Access(?:es)?/sec\.)$", line)
        if m:
            figures.workers[current][-1][3] = float(m.group(1)) if m.group(1) else float(m.group(2)) * 1e6
            continue
        m = re.match(r"^The system spent: (\S+) Secs\.(?: to (Write\.|Read:))?$", line)
        if m:
            current = key_of(m.group(2))
            figures.single[current] = [float(m.group(1)), None]
            continue
        m = re.match(r"^(?:The system could process  ?(\S+) Files/sec\.|It was: (\S+) Millions Accesses/sec\.)$", line)
        if m:
            figures.single[current][1] = float(m.group(1)) if m.group(1) else float(m.group(2)) * 1e6
            continue
        m = re.match(r"^Conventionally, it was: (\S+) MB/sec\.$", line)
        if m:
            (figures.worker_mb[current].append(float(m.group(1))) if multi
             else figures.single_mb.__setitem__(current, float(m.group(1))))
            continue
        m = re.match(r"^Overall, The system could process: (\S+) Files/sec\.$", line)
        if m:
            figures.total[section[0]] = float(m.group(1))
            ratio_for = [section[0]]
            continue
        m = re.match(r"^Overall, It was: (\S+) Millions Accesses/sec\.to (Write|Read)$", line)
        if m:
            key = key_of(m.group(2))
            figures.total[key] = float(m.group(1)) * 1e6
            ratio_for = [key]
            continue
        m = re.match(r"^Conventionally, total (writing|reading) speed was: (\S+) MB/sec\.$", line)
        if m:
            figures.total_mb[key_of(m.group(1))] = float(m.group(2))
            continue
        m = re.match(r"^Multi-Thread Improvements: (\S+) times\.$", line)
        if m:
            figures.ratio[ratio_for.pop()] = float(m.group(1))
            continue
        m = re.match(r"^Among all nodes, the average process per thread was: (\S+) Files/sec\.$", line)
        if m:
            figures.average[section[0]] = float(m.group(1))
            continue
        m = re.match(r"^Among all nodes, the average (?:low|high) (writing|reading) process per thread was: (\S+)  ?MB/sec\.$", line)
        if m:
            figures.average_mb[key_of(m.group(1))] = float(m.group(2))
    return figures


def credited(size, rank):
    """Units a measurement credits: size x (1 + 1/d)."""
    divisor = 2 if rank == 0 else rank + 1
    return size * (1.0 + 1.0 / divisor)


def close(a, b, rel):
    return abs(a - b) <= rel * max(abs(a), abs(b))
