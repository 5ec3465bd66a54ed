"""The cgroups the virtual cluster uses to cap, freeze and slow its nodes,
in their v2 and v1 forms, chosen once from what the host mounts.

On cgroup v2 (a unified hierarchy at the root) every node has one group,
ROOT/stelvane-vcluster-ID/NODE, that carries its CPU cap, its I/O cap and
its freezer (built into v2). On v1 each controller has a hierarchy of its
own and the node a group in each that it needs. A controller this host
lacks is an error naming it; control files are opened, never created, so
that a missing group can never leave plain files anywhere."""
import os

from settings import Fail

# The v1 hierarchy of each controller, by its mount option.
V1_NAMES = {"cpu": "cpu", "freezer": "freezer", "io": "blkio"}
WHAT = {"cpu": "CPU bandwidth control (cgroup v2 cpu or v1 cpu)",
        "freezer": "cgroup freezer (cgroup v2 or v1 freezer)",
        "io": "I/O controller (cgroup v2 io or v1 blkio)"}


def write(path, text):
    """Writes a control file that must exist."""
    try:
        descriptor = os.open(path, os.O_WRONLY)
    except FileNotFoundError:
        raise Fail("no cgroup control file %s" % path) from None
    try:
        os.write(descriptor, text.encode())
    finally:
        os.close(descriptor)


def read(path):
    with open(path) as f:
        return f.read().strip()


class Cgroups:
    def __init__(self, cluster_name, root="/sys/fs/cgroup", mounts="/proc/mounts"):
        self.name = cluster_name
        self.root = root
        controllers = os.path.join(root, "cgroup.controllers")
        self.unified = os.path.isfile(controllers)
        self.v2_controllers = set(read(controllers).split()) if self.unified else set()
        self.v1 = {}
        with open(mounts) as f:
            for fields in (line.split() for line in f):
                if len(fields) > 3 and fields[2] == "cgroup":
                    for option in fields[3].split(","):
                        self.v1.setdefault(option, fields[1])

    # ---- where each controller lives ---------------------------------------

    def version(self, controller):
        """"v2", "v1", or None where the host lacks the controller."""
        if self.unified and (controller == "freezer" or controller in self.v2_controllers):
            return "v2"
        return "v1" if V1_NAMES[controller] in self.v1 else None

    def home(self, controller):
        """The cluster's own group in the controller's hierarchy."""
        version = self.version(controller)
        if version is None:
            return None
        top = self.root if version == "v2" else self.v1[V1_NAMES[controller]]
        return os.path.join(top, self.name)

    def need(self, controller, command):
        version, home = self.version(controller), self.home(controller)
        if version is None:
            raise Fail("%s: this kernel has no %s" % (command, WHAT[controller]))
        return version, home

    def node_group(self, controller, node, command, make=False):
        """NODE's group for the controller; made on v1 when asked, never on
        v2, where up made it."""
        version, home = self.need(controller, command)
        group = os.path.join(home, node)
        if make and version == "v1":
            os.makedirs(group, exist_ok=True)
        if not os.path.isdir(group):
            raise Fail("%s: %s has no cgroup (%s is missing; was the cluster brought up here?)" %
                       (command, node, group))
        return group

    # ---- up and down ---------------------------------------------------------

    def make_cluster(self):
        """The cluster's groups: on v2 always (the freezer needs no
        controller), with the cpu controller handed down where the host has
        it; on v1 in the cpu hierarchy. What it could not make is said."""
        made = []
        if self.unified:
            try:
                os.makedirs(self.home("freezer"), exist_ok=True)
                made.append("v2")
                if "cpu" in self.v2_controllers:
                    write(os.path.join(self.root, "cgroup.subtree_control"), "+cpu")
                    write(os.path.join(self.home("cpu"), "cgroup.subtree_control"), "+cpu")
            except (OSError, Fail) as error:
                return "cgroups cannot be made here (%s): throttle and freeze will not work" % error
        if self.version("cpu") == "v1":
            os.makedirs(self.home("cpu"), exist_ok=True)
        elif self.version("cpu") is None:
            return "no cgroup with CPU bandwidth control: throttle will not work"
        return None

    def make_node(self, node, anchor):
        """NODE's groups made at up, its anchor (and so all it starts) in them."""
        for group in self.groups_of(node, made_at_up=True):
            os.makedirs(group, exist_ok=True)
            write(os.path.join(group, "cgroup.procs"), str(anchor))

    def groups_of(self, node, made_at_up=False):
        """The groups a process entering NODE joins: v2's one group, v1's cpu
        and (once throttle-io made it) blkio groups."""
        homes = []
        if self.unified and os.path.isdir(self.home("freezer") or ""):
            homes.append(self.home("freezer"))
        if self.version("cpu") == "v1":
            homes.append(self.home("cpu"))
        if not made_at_up and self.version("io") == "v1":
            homes.append(self.home("io"))
        groups = [os.path.join(home, node) for home in homes]
        return groups if made_at_up else [g for g in groups if os.path.isdir(g)]

    def join(self, node, pid):
        for group in self.groups_of(node):
            self.join_group(group, pid)

    @staticmethod
    def join_group(group, pid):
        write(os.path.join(group, "cgroup.procs"), str(pid))

    def thaw_all(self):
        """Lets every frozen node go on, so that its processes can be stopped."""
        home = self.home("freezer")
        if home is None or not os.path.isdir(home):
            return
        for name in os.listdir(home):
            group = os.path.join(home, name)
            if os.path.isdir(group):
                for control, thawed in (("cgroup.freeze", "0"), ("freezer.state", "THAWED")):
                    if os.path.isfile(os.path.join(group, control)):
                        write(os.path.join(group, control), thawed)

    def remove_all(self):
        """Removes every group the cluster made; what could not go is said."""
        left = []
        for home in {self.home(c) for c in V1_NAMES} - {None}:
            if not os.path.isdir(home):
                continue
            for name in os.listdir(home):
                if os.path.isdir(os.path.join(home, name)):
                    try_rmdir(os.path.join(home, name))
            if not try_rmdir(home):
                left.append(home)
        return left

    # ---- caps and the freezer ------------------------------------------------

    def freezer_group(self, node):
        """NODE's freezer group; on v1 made here (also to thaw a node never
        frozen, which is then nothing to do)."""
        return self.node_group("freezer", node, "freeze", make=True)

    def set_frozen(self, group, frozen):
        if self.version("freezer") == "v2":
            write(os.path.join(group, "cgroup.freeze"), "1" if frozen else "0")
        else:
            write(os.path.join(group, "freezer.state"), "FROZEN" if frozen else "THAWED")

    def set_cpu_cap(self, group, quota, period):
        """Caps GROUP at QUOTA per PERIOD microseconds (a QUOTA of None: no cap)."""
        if self.version("cpu") == "v2":
            write(os.path.join(group, "cpu.max"), "%s %d" % ("max" if quota is None else quota, period))
        else:
            # A quota must fit the period it is set against: lift the quota first.
            write(os.path.join(group, "cpu.cfs_quota_us"), "-1")
            write(os.path.join(group, "cpu.cfs_period_us"), str(period))
            write(os.path.join(group, "cpu.cfs_quota_us"), str(-1 if quota is None else quota))

    def is_capped(self, node):
        group = os.path.join(self.home("cpu"), node)
        if self.version("cpu") == "v2":
            return read(os.path.join(group, "cpu.max")).split()[0] != "max"
        return int(read(os.path.join(group, "cpu.cfs_quota_us"))) >= 0

    def weigh_cluster(self, all_capped):
        """With every node capped, the cluster's group weighs the most the
        kernel allows, so that its nodes get their caps even when the host is
        busy: a node's share then hangs on its cap alone, as a real node's on
        its own cores. Otherwise it weighs as any other group."""
        home = self.home("cpu")
        if self.version("cpu") == "v2":
            write(os.path.join(home, "cpu.weight"), "10000" if all_capped else "100")
        else:
            write(os.path.join(home, "cpu.shares"), "262144" if all_capped else "1024")

    def own_share_group(self, node, pid):
        """A group of its own for one process of NODE, beside the nodes'
        groups (v2 keeps processes out of a group whose children it
        controls); there it leaves the reach of freeze and throttle-io."""
        _, home = self.need("cpu", "own-share")
        group = os.path.join(home, "%s.rank.%d" % (node, pid))
        os.makedirs(group, exist_ok=True)
        return group

    def remove_own_shares(self, node):
        home = self.home("cpu")
        if home and os.path.isdir(home):
            for name in os.listdir(home):
                if name.startswith(node + ".rank."):
                    try_rmdir(os.path.join(home, name))

    def io_group(self, node):
        return self.node_group("io", node, "throttle-io", make=True)

    def cap_io(self, group, device_number, limit):
        """Caps GROUP's reads and writes of a device at LIMIT bytes a second
        each (None: no cap)."""
        if self.version("io") == "v2":
            write(os.path.join(self.root, "cgroup.subtree_control"), "+io")
            write(os.path.join(self.home("io"), "cgroup.subtree_control"), "+io")
            each = "max" if limit is None else str(limit)
            write(os.path.join(group, "io.max"), "%s rbps=%s wbps=%s" % (device_number, each, each))
        else:
            for control in ("blkio.throttle.read_bps_device", "blkio.throttle.write_bps_device"):
                write(os.path.join(group, control), "%s %d" % (device_number, limit or 0))

def try_rmdir(path):
    try:
        os.rmdir(path)
        return True
    except OSError:
        return False
