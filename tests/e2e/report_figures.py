"""Reads the figures out of a benchmark report (console or result file):
rank 0's single-process figures, every worker's, and the cluster figures."""
import re
from collections import defaultdict

FILE_HANDLING = ("streams", "descriptors")
TRANSFER = ("bytewise_write", "bytewise_read", "block_read", "block_write")
SECTIONS = {
    "Power of Handling Files -- Lower": "streams",
    "Power of Handling Files -- Hihger": "descriptors",
    "Power of Handling Files -- Higher": "descriptors",
    "Low writing and reading speeds:": "bytewise",
    "High writing and reading speeds:": "block",
}


class Figures:
    """The figures of a report, by measurement: rank 0's (spent, rate), each
    worker's (rank, name, spent, rate), and the cluster figures. Transfer
    rates are rebuilt from their "Millions" figure."""

    def __init__(self):
        self.single, self.single_mb = {}, {}
        self.workers, self.worker_mb = defaultdict(list), defaultdict(list)
        self.total, self.total_mb, self.ratio, self.average_mb, self.average = {}, {}, {}, {}, {}


def parse_figures(lines):
    figures, section, multi, current = Figures(), None, False, None
    ratio_for = []
    for line in lines:
        if line == "Multi-Thread Enabled:":
            multi = True
            continue
        if line in SECTIONS:
            section = SECTIONS[line]
            multi = multi or (section == "descriptors" and "streams" in figures.workers)
            continue
        m = re.match(r"^Thread:(\d+) @(.*) The system spent: (\S+) Secs\.(?: to (Write|Read)\.)?$", line)
        if m:
            current = section if not m.group(4) else "%s_%s" % (section, m.group(4).lower())
            figures.workers[current].append([int(m.group(1)), m.group(2), float(m.group(3)), None])
            continue
        m = re.match(r"^Thread:\d+ @.* (?:The system could process (\S+) Files/sec\.|It was: (\S+) Millions Access(?:es)?/sec\.)$", line)
        if m:
            figures.workers[current][-1][3] = float(m.group(1)) if m.group(1) else float(m.group(2)) * 1e6
            continue
        m = re.match(r"^The system spent: (\S+) Secs\.(?: to (Write\.|Read:))?$", line)
        if m:
            current = section if not m.group(2) else "%s_%s" % (section, m.group(2)[:-1].lower())
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
            figures.total[section] = float(m.group(1))
            ratio_for = [section]
            continue
        m = re.match(r"^Overall, It was: (\S+) Millions Accesses/sec\.to (Write|Read)$", line)
        if m:
            key = "%s_%s" % (section, m.group(2).lower())
            figures.total[key] = float(m.group(1)) * 1e6
            ratio_for = [key]
            continue
        m = re.match(r"^Conventionally, total (writing|reading) speed was: (\S+) MB/sec\.$", line)
        if m:
            figures.total_mb["%s_%s" % (section, "write" if m.group(1) == "writing" else "read")] = float(m.group(2))
            continue
        m = re.match(r"^Multi-Thread Improvements: (\S+) times\.$", line)
        if m:
            figures.ratio[ratio_for.pop()] = float(m.group(1))
            continue
        m = re.match(r"^Among all nodes, the average process per thread was: (\S+) Files/sec\.$", line)
        if m:
            figures.average[section] = float(m.group(1))
            continue
        m = re.match(r"^Among all nodes, the average (?:low|high) (writing|reading) process per thread was: (\S+)  ?MB/sec\.$", line)
        if m:
            key = "%s_%s" % (section, "write" if m.group(1) == "writing" else "read")
            figures.average_mb[key] = float(m.group(2))
    return figures


def credited(size, rank):
    """Units a measurement credits: size x (1 + 1/d)."""
    divisor = 2 if rank == 0 else rank + 1
    return size * (1.0 + 1.0 / divisor)


def close(a, b, rel):
    return abs(a - b) <= rel * max(abs(a), abs(b))


