"""Waiting until something holds, and the processes in the cluster's own
namespaces."""
import os
import signal
import time


def wait_until(holds, seconds, step=0.05):
    """Asks holds() every step until it is true or seconds have passed;
    whether it came true."""
    deadline = time.monotonic() + seconds
    while not holds():
        if time.monotonic() >= deadline:
            return False
        time.sleep(step)
    return True


def network_namespace(pid="self"):
    try:
        return os.readlink("/proc/%s/ns/net" % pid)
    except OSError:
        return None


def processes_in(namespaces, candidates=None):
    """Of candidates (every live PID when None), those in one of the network
    namespaces: a recorded PID since reused by another process is never
    touched. This host's own namespace never counts, whatever a damaged
    state says."""
    ours = set(namespaces) - {network_namespace()}
    if not ours:
        return []
    if candidates is None:
        candidates = [int(p) for p in os.listdir("/proc") if p.isdigit()]
    me = os.getpid()
    return [pid for pid in candidates if pid != me and network_namespace(pid) in ours]


def alive(pid):
    try:
        os.kill(pid, 0)
        return True
    except ProcessLookupError:
        return False
    except PermissionError:
        return True


def signal_all(pids, number):
    for pid in pids:
        try:
            os.kill(pid, number)
        except ProcessLookupError:
            pass


def stop(pids):
    """Terminates the processes together, waits up to 5 s, kills what is left."""
    if not pids:
        return
    signal_all(pids, signal.SIGTERM)
    if not wait_until(lambda: not any(alive(p) for p in pids), 5):
        signal_all([p for p in pids if alive(p)], signal.SIGKILL)
        wait_until(lambda: not any(alive(p) for p in pids), 1)
