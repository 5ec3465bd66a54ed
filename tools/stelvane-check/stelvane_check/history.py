"""The history folder: one check at a time in it, each run's result file
kept whole or not at all, the newest runs kept and the oldest removed."""
import datetime
import fcntl
import pwd
import os
import re
import time

from .commands import CheckError

LOCK_NAME = ".stelvane-check.lock"
# The name the benchmark gives its result files; its time stamp is
# asctime's ("Wed Dec  9 23:01:26 2026"), so runs sort by it, not by name.
RESULT_NAME = re.compile(r"^results_stelvane_lite_netbsd_sparc64_clusters @ .* time (.+) @ .*\.txt$")
BUSY = 3  # the status of a check that leaves because another one runs


def usable_folder(folder):
    """Raises unless FOLDER is a folder we may read and write."""
    if not os.path.isdir(folder):
        raise CheckError("the history folder %s does not exist (make it first)" % folder)
    if not os.access(folder, os.R_OK | os.W_OK | os.X_OK):
        raise CheckError("the history folder %s is not readable and writable by %s" % (folder, user_name()))


def user_name():
    return pwd.getpwuid(os.geteuid()).pw_name


class Lock:
    """An exclusive lock on the folder, held while the check runs and let go
    by the kernel when the check ends, however it ends."""

    def __init__(self, folder):
        self.path = os.path.join(folder, LOCK_NAME)
        try:
            self.file = open(os.open(self.path, os.O_RDWR | os.O_CREAT | os.O_NOFOLLOW, 0o644), "r+")
        except OSError as error:
            raise CheckError("the history folder's lock %s: %s" % (self.path, error.strerror)) from None
        try:
            fcntl.flock(self.file, fcntl.LOCK_EX | fcntl.LOCK_NB)
        except BlockingIOError:
            holder = self.file.read().strip() or "another check"
            self.file.close()
            raise CheckError("another check is running in %s (%s); this one leaves" %
                             (os.path.dirname(self.path), holder), BUSY) from None
        self.file.seek(0)
        self.file.truncate()
        self.file.write("process %d on %s, since %s\n" % (os.getpid(), os.uname().nodename,
                                                            time.strftime("%Y-%m-%d %H:%M:%S")))
        self.file.flush()


def keep(folder, name, data):
    """Writes DATA into FOLDER as NAME: written and synced beside it under a
    name the report ignores, then linked to NAME, which never replaces a
    file already there. Returns the path."""
    if "/" in name or not RESULT_NAME.match(name):
        raise CheckError("the job's result file has a name no result file has: %r" % name)
    final = os.path.join(folder, name)
    incoming = os.path.join(folder, ".incoming.%d" % os.getpid())
    try:
        with open(os.open(incoming, os.O_WRONLY | os.O_CREAT | os.O_EXCL | os.O_NOFOLLOW, 0o644), "wb") as f:
            f.write(data)
            f.flush()
            os.fsync(f.fileno())
        os.link(incoming, final)
    except FileExistsError:
        raise CheckError("%s is already in the history; the run is not kept again" % name) from None
    except OSError as error:
        raise CheckError("keeping %s in %s: %s" % (name, folder, error.strerror)) from None
    finally:
        if os.path.lexists(incoming):
            os.unlink(incoming)
    sync_folder(folder)
    return final


def sync_folder(folder):
    descriptor = os.open(folder, os.O_RDONLY | os.O_DIRECTORY)
    try:
        os.fsync(descriptor)
    finally:
        os.close(descriptor)


def run_time(folder, name):
    """When the run began, from its name; its file's time when the name does
    not say (a file renamed by hand keeps its place by age)."""
    found = RESULT_NAME.match(name)
    try:
        return datetime.datetime.strptime(found.group(1), "%a %b %d %H:%M:%S %Y").timestamp()
    except ValueError:
        return os.lstat(os.path.join(folder, name)).st_mtime


def kept_runs(folder):
    """The result files in FOLDER, oldest first."""
    names = [n for n in os.listdir(folder) if RESULT_NAME.match(n) and
             os.path.isfile(os.path.join(folder, n)) and not os.path.islink(os.path.join(folder, n))]
    return sorted(names, key=lambda n: (run_time(folder, n), n))


def prune(folder, newest):
    """Removes all but the NEWEST runs; returns the names removed."""
    runs = kept_runs(folder)
    removed = runs[:max(0, len(runs) - newest)]
    for name in removed:
        os.unlink(os.path.join(folder, name))
    if removed:
        sync_folder(folder)
    return removed
