"""Running the commands a check is made of: each with a bound on how long
it may take, and every way it can fail turned into one line that says what
did not work."""
import subprocess

# A Slurm command that asks the controller: it answers in a second; one
# that has not in a minute is not answering (its own retries take 60 s).
SLURM_BOUND = 90


def say(text):
    print("stelvane-check: " + text, flush=True)


class CheckError(Exception):
    """What stopped the check, in one line, and the status it exits with."""

    def __init__(self, message, status=1):
        super().__init__(message)
        self.status = status


def run(argv, what, timeout=SLURM_BOUND, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, text=True):
    """Runs ARGV and returns the finished process, whatever its status; a
    command that is missing or does not end in TIMEOUT seconds is a
    CheckError naming WHAT."""
    try:
        return subprocess.run(argv, stdin=stdin, stdout=stdout, stderr=subprocess.PIPE, text=text, timeout=timeout)
    except FileNotFoundError:
        raise CheckError("%s: %s is not installed or not on PATH" % (what, argv[0])) from None
    except subprocess.TimeoutExpired:
        raise CheckError("%s: %s did not answer within %d s" % (what, argv[0], timeout)) from None


def first_line(process):
    """The first line a failed command said, for the one line we say."""
    errors = process.stderr if isinstance(process.stderr, str) else process.stderr.decode(errors="replace")
    for line in errors.splitlines():
        if line.strip():
            return line.strip()
    return "exit status %d" % process.returncode


def checked(argv, what, **options):
    """Runs ARGV; a non-zero status is a CheckError naming WHAT and saying
    what the command said."""
    done = run(argv, what, **options)
    if done.returncode != 0:
        raise CheckError("%s: %s" % (what, first_line(done)))
    return done
