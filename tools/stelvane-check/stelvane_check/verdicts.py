"""The run judged by stelvane-report, and what a check does with its
verdict: which nodes to drain, in what words, within the site's limit."""
import json
import math
import statistics

from .commands import CheckError, run
from .slurm import OWN_PREFIX, REASON_LENGTH

# A history folder of 4,096-rank files is read from its index in seconds;
# a first report of a year of them, in a few minutes.
REPORT_BOUND = 1800
MIN_JUDGED = 3  # with fewer nodes the report judges nothing
# A few words of a probable cause, for a reason that must stay short.
CAUSE_WORDS = {"cpu": "CPU", "metadata": "metadata", "sync": "sync", "bandwidth": "bandwidth"}
MEASUREMENT_WORDS = {"streams": "streams", "descriptors": "descriptors", "bytewise_write": "byte-wise write",
                     "bytewise_read": "byte-wise read", "block_read": "block read", "block_write": "block write"}


def report_arguments(history, groups, slurm_nodes):
    argv = ["--history", history]
    if groups:
        argv += ["--groups", groups]
    elif slurm_nodes:
        argv += ["--slurm-nodes", slurm_nodes]
    return argv


def judge(report, arguments, prometheus, result_path):
    """(the report's text, its verdict as JSON) of the run in RESULT_PATH.
    The JSON is asked first, with the metrics file, so that it is written
    once."""
    metrics = ["--prometheus", prometheus] if prometheus else []
    asked = run([report, "--json"] + arguments + metrics + [result_path], "judging the run", timeout=REPORT_BOUND)
    if asked.returncode != 0:
        raise CheckError("stelvane-report could not judge the run: %s" % report_error(asked))
    text = run([report] + arguments + [result_path], "judging the run", timeout=REPORT_BOUND)
    try:
        return text.stdout, json.loads(asked.stdout)
    except ValueError:
        raise CheckError("stelvane-report's JSON could not be read") from None


def check_groups(report, groups, kept):
    """A groups file with an error fails the check before its run, where a
    kept run lets the report read it."""
    if groups and kept:
        tried = run([report, "--groups", groups, kept], "reading the groups file", timeout=REPORT_BOUND)
        if tried.returncode != 0:
            raise CheckError("stelvane-report could not take the groups file: %s" % report_error(tried))


def report_error(process):
    lines = [line for line in process.stderr.splitlines() if line.strip()]
    return lines[-1] if lines else "exit status %d" % process.returncode


def short(reason):
    return reason if len(reason) <= REASON_LENGTH else reason[:REASON_LENGTH - 3] + "..."


def listed(keys):
    return ", ".join(MEASUREMENT_WORDS.get(k, k) for k in keys)


def how_far(node):
    """The median of a slow node's ratios in the measurements it was low
    in, and against what: its own normal or its peers."""
    own = node.get("own_normal") or {}
    if node.get("by_peers") != "slow" and own.get("low_in"):
        ratios = [own["ratio"][k] for k in own["low_in"] if own["ratio"].get(k) is not None]
        return (statistics.median(ratios) if ratios else math.nan), "of its own normal"
    ratios = [node["ratios"][k] for k in node.get("slow_in", []) if node["ratios"].get(k) is not None]
    return (statistics.median(ratios) if ratios else math.nan), "of its peers"


def reason(node):
    """The drain reason: our prefix and a few words, within REASON_LENGTH:
    "stelvane: slow, probably CPU (0.62 of its own normal)". Our own words
    and figures only, nothing from a file or a node's name."""
    if node["verdict"] == "failed":
        if node.get("no_answer_in"):
            return short("%s no answer in %s" % (OWN_PREFIX, MEASUREMENT_WORDS.get(node["no_answer_in"], "a step")))
        return short("%s failed in %s" % (OWN_PREFIX, listed(node.get("failed_in", []))))
    cause = (node.get("cause") or {}).get("cause")
    fell = ", fell with others" if node.get("fell_together") else ""
    probably = ", probably " + CAUSE_WORDS[cause] if cause in CAUSE_WORDS else ""
    ratio, against = how_far(node)
    figure = "" if math.isnan(ratio) else " (%.2f %s)" % (ratio, against)
    whole = "%s slow%s%s%s" % (OWN_PREFIX, fell, probably, figure)
    # Where it all does not fit, the cause goes first: the figure says more.
    return short(whole if len(whole) <= REASON_LENGTH else "%s slow%s%s" % (OWN_PREFIX, fell, figure))


def severity(node):
    """Failed first, then the slowest: what a limit keeps drained first."""
    if node["verdict"] == "failed":
        return (0, 0.0)
    ratio, _ = how_far(node)
    return (1, 1.0 if math.isnan(ratio) else ratio)


def to_drain(verdict):
    return sorted((n for n in verdict["nodes"] if n["verdict"] in ("slow", "failed")), key=severity)


def limit_of(percent, judged):
    """How many nodes a check may drain: PERCENT of the nodes judged,
    rounded up, so that a small cluster can still lose its one slow node."""
    return math.ceil(percent * judged / 100.0 - 1e-9)


def run_failed_as_a_whole(verdict):
    """Why the run cannot be acted on, or None."""
    if not verdict.get("complete", False):
        return "its result file stops part way (%s)" % (verdict.get("truncation") or "truncated")
    judged = len(verdict.get("nodes", []))
    if judged < MIN_JUDGED:
        return "only %d nodes were judged, and at least %d are needed" % (judged, MIN_JUDGED)
    return None
