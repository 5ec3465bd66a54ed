"""What up and slurm made, in one file: the nodes (each one's anchor process,
network namespace and host-side link), the daemons, and the shares
throttle-each gave. Written whole under a lock, so that commands run at once
never lose each other's changes."""
import contextlib
import fcntl
import json
import os

from settings import Fail


def empty(count):
    return {"count": count, "nodes": {}, "links": [], "daemons": {}, "shares": {}}


class State:
    def __init__(self, settings):
        self.path = settings.state_file
        self.lock_path = settings.state_file + ".lock"

    def exists(self):
        return os.path.exists(self.path)

    def read(self):
        try:
            with open(self.path) as f:
                return json.load(f)
        except FileNotFoundError:
            raise Fail("the virtual cluster is not up (virtual-cluster up)") from None
        except ValueError as error:
            raise Fail("%s is damaged (%s): virtual-cluster down removes what it can" % (self.path, error)) from None

    @contextlib.contextmanager
    def changing(self, create=None):
        """The state to change, saved when the block ends, even by an error
        (what was made part way must be known to down)."""
        os.makedirs(os.path.dirname(self.path), exist_ok=True)
        with open(self.lock_path, "a") as lock:
            fcntl.flock(lock, fcntl.LOCK_EX)
            held = create if create is not None else self.read()
            try:
                yield held
            finally:
                temporary = self.path + ".new"
                with open(temporary, "w") as f:
                    json.dump(held, f, indent=1, sort_keys=True)
                os.replace(temporary, self.path)


def node_names(held):
    return ["node%d" % k for k in range(1, held["count"] + 1)]


def node_of(held, name):
    """NODE's record (head or a node), or a clear error naming the nodes."""
    if name not in held["nodes"]:
        raise Fail("no such node: %s (nodes: head %s)" % (name, " ".join(node_names(held))))
    return held["nodes"][name]
