"""virtual-cluster's cgroup layer against fake cgroup trees: the v2 and v1
forms chosen from what the host mounts, and a clear refusal, with nothing
written, where a controller or a node's group is missing. Needs no root."""
import os
import shutil
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))),
                                "scripts", "vcluster"))
from cgroups import Cgroups  # noqa: E402
from limits import cpu_quota  # noqa: E402
from settings import Fail, Settings  # noqa: E402

NAME = "stelvane-vcluster-tst"


def files_under(top):
    return sorted(os.path.relpath(os.path.join(folder, name), top)
                  for folder, _, names in os.walk(top) for name in names)


class FakeTree(unittest.TestCase):
    def setUp(self):
        self.top = tempfile.mkdtemp(prefix="stelvane-cgroups-")
        self.addCleanup(shutil.rmtree, self.top, True)
        self.root = os.path.join(self.top, "sys-fs-cgroup")
        os.makedirs(self.root)

    def tree(self, v2_controllers=None, v1=()):
        """A host: a v2 root with these controllers (None: no v2 root), and
        v1 hierarchies mounted for these controllers."""
        if v2_controllers is not None:
            self.kernel_file(self.root, "cgroup.controllers", " ".join(v2_controllers))
            self.kernel_file(self.root, "cgroup.subtree_control")
        mounts = os.path.join(self.top, "mounts")
        with open(mounts, "w") as f:
            f.write("proc /proc proc rw 0 0\n")
            for controller in v1:
                os.makedirs(os.path.join(self.top, controller))
                f.write("cgroup %s cgroup rw,%s 0 0\n" % (os.path.join(self.top, controller), controller))
        return Cgroups(NAME, root=self.root, mounts=mounts)

    def kernel_file(self, folder, name, text=""):
        """A control file, as the kernel makes it with its group."""
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, name), "w") as f:
            f.write(text)

    def test_v2_without_cpu_freezes_in_the_nodes_group_and_refuses_caps(self):
        cgroups = self.tree(v2_controllers=["memory", "io", "pids"])
        self.assertIn("CPU bandwidth", cgroups.make_cluster())
        before = files_under(self.top)
        with self.assertRaisesRegex(Fail, "node1 has no cgroup"):
            cgroups.freezer_group("node1")  # up could not make it
        self.assertEqual(files_under(self.top), before)  # no cgroup.freeze or cgroup.procs at any root

        group = os.path.join(self.root, NAME, "node1")
        for control in ("cgroup.procs", "cgroup.freeze"):
            self.kernel_file(group, control)
        self.assertEqual(cgroups.freezer_group("node1"), group)
        cgroups.set_frozen(group, True)
        with open(os.path.join(group, "cgroup.freeze")) as f:
            self.assertEqual(f.read(), "1")
        for command in ("throttle", "throttle-each"):
            with self.assertRaisesRegex(Fail, "%s: this kernel has no CPU bandwidth" % command):
                cgroups.need("cpu", command)

    def test_v1_hierarchies_each_carry_their_own_controller(self):
        cgroups = self.tree(v1=["cpu", "freezer", "blkio"])
        self.assertIsNone(cgroups.make_cluster())
        self.assertEqual((cgroups.version("cpu"), cgroups.version("freezer"), cgroups.version("io")),
                         ("v1", "v1", "v1"))
        group = cgroups.freezer_group("node2")
        self.assertEqual(group, os.path.join(self.top, "freezer", NAME, "node2"))
        with self.assertRaisesRegex(Fail, "no cgroup control file .*freezer.state"):
            cgroups.set_frozen(group, True)  # a plain folder, not a cgroup: nothing created
        self.assertEqual(os.listdir(group), [])
        self.assertEqual(cgroups.groups_of("node2", made_at_up=True), [os.path.join(self.top, "cpu", NAME, "node2")])

    def test_a_host_without_a_freezer_or_io_controller_says_which(self):
        cgroups = self.tree(v1=["cpu"])
        with self.assertRaisesRegex(Fail, "freeze: this kernel has no cgroup freezer"):
            cgroups.freezer_group("node1")
        with self.assertRaisesRegex(Fail, "throttle-io: this kernel has no I/O controller"):
            cgroups.io_group("node1")
        self.assertEqual(cgroups.groups_of("node1"), [])


class CpuQuota(unittest.TestCase):
    def test_shares_under_the_kernels_smallest_quota_get_a_longer_period(self):
        settings = Settings("virtual-cluster", {})
        self.assertEqual(cpu_quota(settings, 25.0), (2500, 10000))
        self.assertEqual(cpu_quota(settings, 5.0), (1000, 20000))
        self.assertEqual(cpu_quota(settings, 12.5), (1250, 10000))


if __name__ == "__main__":
    unittest.main()
