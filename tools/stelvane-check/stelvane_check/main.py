"""The command line, and a check from start to end: the nodes chosen, the
job run, its result file kept, the run judged, the drains printed or
made (stelvane-check(1))."""
import argparse
import os
import shlex
import signal
import sys
import tempfile

from . import history, slurm, verdicts
from .actions import Actions
from .commands import CheckError, run, say
from .job import Job, sorted_for_rank_zero

RUN_FAILED = 2  # the status of a check whose run cannot be acted on: nothing drained


def options(here, plugin):
    parser = argparse.ArgumentParser(
        prog="stelvane-check",
        description="Run stelvane-mpi one rank a node under Slurm, keep its result file, judge it with "
                    "stelvane-report against the kept runs, and drain the slow and failed nodes (printed; "
                    "made with --apply).")
    where = parser.add_mutually_exclusive_group(required=True)
    where.add_argument("--partition", help="every node of this partition that takes jobs")
    where.add_argument("--nodes", help="these nodes (a Slurm host list)")
    parser.add_argument("--idle", action="store_true", help="with --partition: only its idle nodes")
    parser.add_argument("--scratch", required=True,
                        help="the node-local folder to measure, on every node (the run leaves nothing in it)")
    parser.add_argument("--history", default="/var/lib/stelvane/runs", help="the folder of kept runs")
    parser.add_argument("--keep", type=int, default=52, help="how many runs the history keeps (default 52)")
    parser.add_argument("--time", type=int, default=60, help="the benchmark's time limit in minutes (default 60)")
    parser.add_argument("--groups", help="a groups file for stelvane-report (default: Slurm's node features)")
    parser.add_argument("--prometheus", help="write the verdict as metrics to this file (written whole)")
    parser.add_argument("--apply", action="store_true", help="make the drains and resumes, not only print them")
    parser.add_argument("--resume-own", action="store_true",
                        help="resume a node a check drained that it would not drain now (with --retest)")
    parser.add_argument("--retest", action="store_true",
                        help="run on the nodes a check drained too, under a maintenance reservation (needs --apply)")
    parser.add_argument("--limit", type=float, default=10.0,
                        help="drain at most this percentage of the nodes judged, rounded up (default 10)")
    parser.add_argument("--benchmark", default=os.path.join(here, "stelvane-mpi"),
                        help="the benchmark as the nodes start it, a command (default: stelvane-mpi beside this)")
    parser.add_argument("--report", default=os.path.join(here, "stelvane-report"),
                        help="stelvane-report to judge with (default: the one beside this)")
    parser.add_argument("--mpi", default=plugin, help="srun's MPI plugin (default %s, for this build's MPI)" % plugin)
    return parser


def checked_options(parser, argv):
    args = parser.parse_args(argv)
    if args.idle and not args.partition:
        parser.error("--idle goes with --partition")
    if args.retest and not args.apply:
        parser.error("--retest resumes nodes and drains them again: give --apply with it")
    if args.resume_own and not args.retest:
        parser.error("--resume-own acts on the nodes a re-test ran: give --retest with it")
    if args.keep < 1 or args.time < 1 or not 0 <= args.limit <= 100:
        parser.error("--keep and --time must be at least 1, --limit between 0 and 100")
    if not os.path.isabs(args.scratch):
        parser.error("--scratch must be an absolute path, as every node sees it")
    if args.groups and not os.access(args.groups, os.R_OK):
        raise CheckError("the groups file %s cannot be read" % args.groups)
    args.benchmark = shlex.split(args.benchmark)
    return args


def chosen_nodes(args):
    """The nodes asked for and their states now."""
    names = slurm.partition_nodes(args.partition) if args.partition else slurm.expand(args.nodes)
    states = slurm.nodes(names)
    unknown = [n for n in names if n not in states]
    if unknown:
        raise CheckError("Slurm does not know %s" % slurm.compress(unknown))
    return names, states


def to_run(args, names, states):
    """The nodes the job runs on, and the re-tested ones among them."""
    taking = [n for n in names if (states[n].idle() if args.idle else states[n].usable())]
    retested = [n for n in names if args.retest and states[n].drained_by_a_check()]
    for name in names:
        if name not in taking and name not in retested:
            say("leaves out %s" % states[name].described())
    return taking + retested, retested


def stopped_by_signal(number, frame):
    raise CheckError("stopped by signal %d" % number, RUN_FAILED)


def main(here, plugin, argv):
    signal.signal(signal.SIGTERM, stopped_by_signal)
    signal.signal(signal.SIGINT, stopped_by_signal)
    signal.signal(signal.SIGHUP, stopped_by_signal)
    try:
        args = checked_options(options(here, plugin), argv)
        history.usable_folder(args.history)
        lock = history.Lock(args.history)
        status = check(args)
        del lock
        return status
    except CheckError as error:
        say(str(error))
        return error.status


def check(args):
    kept = history.kept_runs(args.history)
    verdicts.check_groups(args.report, args.groups, os.path.join(args.history, kept[-1]) if kept else None)
    names, states = chosen_nodes(args)
    running, retested = to_run(args, names, states)
    if args.retest and not retested:
        say("no node here is drained by a check: nothing to re-test")
        return 0
    if len(running) < verdicts.MIN_JUDGED:
        raise CheckError("only %d nodes can run (%s); a run needs %d to be judged" %
                         (len(running), slurm.compress(running) or "none", verdicts.MIN_JUDGED), RUN_FAILED)
    actions = Actions(args.apply, args.resume_own, retested, states)
    try:
        if retested:
            actions.open_retest(running, args.time + 10)
        found = run_job(args, sorted_for_rank_zero(running), actions.reservation)
        if found is None:
            return RUN_FAILED
        verdict = judge(args, found)
        if verdict is None:
            return RUN_FAILED
        actions.act(verdict, args.limit, running)
    finally:
        actions.close()
    return actions.status


def run_job(args, names, reservation):
    """Runs the job and keeps its result file: the kept path, or None (said
    why) when the run gave none to keep."""
    job = Job(names, args.time, reservation)
    found = None
    try:
        job.allocate()
        say("job %s on %s (%d nodes)" % (job.id, slurm.compress(names), len(names)))
        job.prepare(args.scratch)
        with tempfile.TemporaryFile() as console:
            status, errors = job.benchmark(args.scratch, args.benchmark, args.mpi, console)
        for line in errors.splitlines():
            if line.startswith("stelvane-mpi:"):
                say("the benchmark said: " + line)
        found = job.fetch(args.scratch)
        if found is None:
            say("no result file came back from rank 0's node %s (the benchmark ended with %d%s); "
                "nothing is drained" % (names[0], status, "" if job.alive() else ", and its job is gone"))
    finally:
        if job.id and job.alive() and not job.clean(args.scratch):
            say("could not remove %s/%s on every node; the next check removes it" % (args.scratch, job.folder))
        job.release()
    if found is None:
        return None
    path = history.keep(args.history, *found)
    say("kept %s" % path)
    for name in history.prune(args.history, args.keep):
        say("removed the oldest kept run %s" % name)
    return path


def judge(args, path):
    """The run's verdict, or None (said why) when it cannot be acted on."""
    with tempfile.NamedTemporaryFile("w", suffix=".txt") as slurm_nodes:
        if not args.groups:
            slurm_nodes.write(run(["scontrol", "show", "nodes"], "asking Slurm for its nodes' features").stdout)
            slurm_nodes.flush()
        arguments = verdicts.report_arguments(args.history, args.groups, None if args.groups else slurm_nodes.name)
        text, verdict = verdicts.judge(args.report, arguments, args.prometheus, path)
    sys.stdout.write(text)
    why = verdicts.run_failed_as_a_whole(verdict)
    if why:
        say("the run cannot be acted on: %s; nothing is drained" % why)
        return None
    return verdict
