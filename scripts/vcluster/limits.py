"""What slows or stops a node: CPU caps (on the node, or on each of its
processes), an I/O cap on a device, the freezer."""
import os
import re
import socket
import stat

import state
from nodes import move_processes
from settings import Fail


def percent_of(command, text):
    if not re.fullmatch(r"\d+(\.\d+)?", text) or not 1 <= float(text) <= 100:
        raise Fail("%s: PERCENT must be 1 to 100 or off, not '%s'" % (command, text))
    return float(text)


def cpu_quota(settings, percent):
    """(quota, period) in microseconds for PERCENT of one CPU: the kernel
    takes no quota under 1 ms, so small shares get a longer period."""
    period = settings.CPU_PERIOD_US
    quota = int(period * percent / 100)
    if quota < settings.MIN_CPU_QUOTA_US:
        quota = settings.MIN_CPU_QUOTA_US
        period = int(quota * 100 / percent)
    return quota, period


def each_node(held, node):
    """NODE, or every node for "all"; a clear error for a name not known."""
    if node == "all":
        return state.node_names(held)
    state.node_of(held, node)
    return [node]


def weigh(cgroups, held):
    capped = all(node in held["shares"] or cgroups.is_capped(node) for node in state.node_names(held))
    cgroups.weigh_cluster(capped)


def throttle(settings, cgroups, held_state, node, percent_text):
    held = held_state.read()
    cgroups.need("cpu", "throttle")
    percent = None if percent_text == "off" else percent_of("throttle", percent_text)
    for name in each_node(held, node):
        group = cgroups.node_group("cpu", name, "throttle")
        quota, period = (None, settings.CPU_PERIOD_US) if percent is None else cpu_quota(settings, percent)
        move_processes(held, name, group)
        cgroups.set_cpu_cap(group, quota, period)
        weigh(cgroups, held)
        print("%s: no CPU cap" % name if percent is None else "%s: capped at %s %% of one CPU" % (name, percent_text))


def throttle_each(settings, cgroups, held_state, node, percent_text):
    """Each process that starts on NODE through own-share gets PERCENT of one
    CPU in a group of its own: a node whose every core is slower, rather than
    one whose ranks share a cap. The share is kept in the state."""
    cgroups.need("cpu", "throttle-each")
    percent = None if percent_text == "off" else percent_of("throttle-each", percent_text)
    with held_state.changing() as held:
        for name in each_node(held, node):
            if percent is None:
                held["shares"].pop(name, None)
                cgroups.remove_own_shares(name)
            else:
                held["shares"][name] = percent
            weigh(cgroups, held)
            print("%s: no share per process" % name if percent is None else
                  "%s: each process at %s %% of one CPU" % (name, percent_text))


def own_share(settings, cgroups, held_state, command):
    """Inside a node: runs COMMAND under the share throttle-each gave it."""
    if not command:
        raise Fail("own-share: CMD...")
    node = socket.gethostname()
    share = held_state.read()["shares"].get(node)
    if share is not None:
        group = cgroups.own_share_group(node, os.getpid())
        cgroups.set_cpu_cap(group, *cpu_quota(settings, share))
        cgroups.join_group(group, os.getpid())
    os.execvp(command[0], command)


def throttle_io(settings, cgroups, held_state, node, device, limit_text):
    held = held_state.read()
    state.node_of(held, node)
    try:
        found = os.stat(device)
    except OSError:
        found = None
    if found is None or not stat.S_ISBLK(found.st_mode):
        raise Fail("throttle-io: %s is not a block device" % device)
    if limit_text != "off" and not re.fullmatch(r"[1-9]\d*", limit_text):
        raise Fail("throttle-io: BYTES must be a number or off, not '%s'" % limit_text)
    device_number = "%d:%d" % (os.major(found.st_rdev), os.minor(found.st_rdev))
    group = cgroups.io_group(node)
    move_processes(held, node, group)
    cgroups.cap_io(group, device_number, None if limit_text == "off" else int(limit_text))
    print("%s: %s (%s) at %s bytes/s each way" % (node, device, device_number, limit_text))


def freeze(settings, cgroups, held_state, node, switch):
    held = held_state.read()
    state.node_of(held, node)
    if switch not in ("on", "off"):
        raise Fail("freeze: on or off, not '%s'" % switch)
    group = cgroups.freezer_group(node)
    if switch == "on":
        move_processes(held, node, group)
    cgroups.set_frozen(group, switch == "on")
    print("%s: frozen" % node if switch == "on" else "%s: running" % node)
