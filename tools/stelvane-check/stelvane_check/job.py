"""The check's job: an allocation of one task a node, and its steps: a
folder of the job's own in each node's scratch, the benchmark in it, rank
0's result file brought back, the folders removed. Everything comes back
through srun, so the history needs no file system the nodes share."""
import io
import os
import re
import tarfile

from . import slurm
from .commands import CheckError, first_line, run

FOLDER_PREFIX = "stelvane-check."
# Beyond the benchmark's own limit, the allocation's: the steps around it
# take seconds.
ALLOCATION_MARGIN_MINUTES = 5
# A step of a shell command on every node: seconds, unless a node or the
# controller does not answer.
STEP_BOUND = 300

# Run by every task before the benchmark: the scratch folder must be there
# and writable; folders of earlier checks whose jobs are gone are removed
# (a cancelled check cannot clean after itself); then the job's own.
PREPARE = r"""
scratch=$1 folder=$2; shift 2
if [ ! -d "$scratch" ] || [ ! -w "$scratch" ]; then
  echo "$(hostname): the scratch folder $scratch is missing or not writable" >&2; exit 1
fi
for old in "$scratch"/stelvane-check.*; do
  [ -d "$old" ] || continue
  case " $* " in *" ${old##*/stelvane-check.} "*) continue ;; esac
  rm -rf -- "$old"
done
mkdir -- "$scratch/$folder"
"""
# Rank 0's result file, as a tar stream (its name holds blanks and colons).
FETCH = r"""
cd -- "$1" && set -- results_stelvane_*.txt && [ -f "$1" ] && tar -cf - -- "$@"
"""


class Job:
    def __init__(self, names, minutes, reservation=None):
        self.names = names
        self.minutes = minutes
        self.reservation = reservation
        self.id = None
        # A name of this check's own: a check stopped while it waits for its
        # nodes knows no job id yet, and cancels its request by this name.
        self.name = "stelvane-check.%s.%d" % (os.uname().nodename, os.getpid())

    @property
    def folder(self):
        return FOLDER_PREFIX + self.id

    def allocate(self):
        """Waits for the nodes as any job does; one task and one CPU a node,
        so the rest of a node stays free for other jobs."""
        argv = ["salloc", "--no-shell", "--job-name=" + self.name, "--nodelist=" + ",".join(self.names),
                "--nodes=%d" % len(self.names), "--ntasks-per-node=1", "--cpus-per-task=1",
                "--time=%d" % (self.minutes + ALLOCATION_MARGIN_MINUTES)]
        if self.reservation:
            argv.append("--reservation=" + self.reservation)
        done = run(argv, "allocating %s" % slurm.compress(self.names), timeout=None)
        granted = re.search(r"Granted job allocation (\d+)", done.stderr)
        if done.returncode != 0 or not granted:
            raise CheckError("allocating %s: %s" % (slurm.compress(self.names), first_line(done)))
        self.id = granted.group(1)

    def step(self, argv, what, nodes=None, timeout=STEP_BOUND, **options):
        names = nodes or self.names
        command = ["srun", "--jobid=" + self.id, "--nodelist=" + ",".join(names),
                   "--nodes=%d" % len(names), "--ntasks-per-node=1", "--cpus-per-task=1", "--input=none",
                   "--kill-on-bad-exit=0"]
        return run(command + argv, what, timeout=timeout, **options)

    def prepare(self, scratch):
        """Raises with every node's own line when a scratch folder is not there."""
        done = self.step(["sh", "-c", PREPARE, "prepare", scratch, self.folder] + slurm.running_jobs(),
                         "preparing the scratch folders")
        if done.returncode != 0:
            said = [line for line in done.stderr.splitlines() if "scratch folder" in line or "mkdir" in line]
            raise CheckError("; ".join(said) or "preparing the scratch folders: " + first_line(done))

    def benchmark(self, scratch, command, plugin, console):
        """The benchmark, one rank a node, under its time limit (SIGTERM,
        on which it saves what it has). Its console goes to CONSOLE; its
        own lines to standard error are returned."""
        argv = ["--mpi=" + plugin, "--chdir=%s/%s" % (scratch, self.folder), "--time=%d" % self.minutes] + command
        done = self.step(argv, "running the benchmark", timeout=None, stdout=console)
        return done.returncode, done.stderr

    def fetch(self, scratch):
        """(name, bytes) of rank 0's result file, or None when there is none
        to fetch: rank 0 wrote none, or its node or the job is gone."""
        done = self.step(["sh", "-c", FETCH, "fetch", "%s/%s" % (scratch, self.folder)],
                         "fetching the result file", nodes=self.names[:1], text=False)
        if done.returncode != 0:
            return None
        try:
            with tarfile.open(fileobj=io.BytesIO(done.stdout)) as archive:
                members = [m for m in archive.getmembers() if m.isfile()]
                if len(members) != 1:
                    return None
                return members[0].name, archive.extractfile(members[0]).read()
        except tarfile.TarError:
            return None

    def clean(self, scratch):
        """True when every node's folder is gone."""
        done = self.step(["rm", "-rf", "--", "%s/%s" % (scratch, self.folder)], "removing the scratch folders")
        return done.returncode == 0

    def release(self):
        slurm.cancel(self.id or "--name=" + self.name)

    def alive(self):
        done = run(["squeue", "-h", "-j", self.id, "-o", "%T"], "asking Slurm for job %s" % self.id)
        return done.returncode == 0 and done.stdout.strip() in ("RUNNING", "CONFIGURING")


def sorted_for_rank_zero(names):
    """Slurm gives task 0 to the first node of the allocation in its own
    order (the host list's): that node holds the result file."""
    return slurm.expand(slurm.compress(names))

