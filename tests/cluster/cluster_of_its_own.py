"""A virtual cluster that one test class brings up for itself, beside any
other test's (its own folder, subnet and id), and takes down again, with
nothing of it left behind."""
import glob
import os
import subprocess

SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
VIRTUAL_CLUSTER = os.path.join(SOURCE, "scripts", "virtual-cluster")


class ClusterOfItsOwn:
    def __init__(self, folder, net, ident):
        self.folder, self.ident = folder, ident
        self.env = {"STELVANE_VCLUSTER_DIR": folder, "STELVANE_VCLUSTER_NET": net, "STELVANE_VCLUSTER_ID": ident}

    def __call__(self, *args, check=True):
        """virtual-cluster ARGS on this cluster."""
        return subprocess.run([VIRTUAL_CLUSTER] + list(args), env=self.environment(), capture_output=True, text=True,
                              timeout=120, check=check)

    def environment(self, **more):
        return dict(os.environ, **self.env, **more)

    def bring_up(self, test_class, *commands):
        """Up for TEST_CLASS (a leftover of an earlier run taken down first),
        each of COMMANDS run on it; down again when the class is done."""
        self("down", check=False)
        test_class.addClassCleanup(self.take_down)
        for command in commands:
            self(*command)

    def take_down(self):
        self("down")
        left = glob.glob("/sys/fs/cgroup/**/stelvane-vcluster-" + self.ident, recursive=True) + glob.glob(self.folder)
        if left:
            raise AssertionError("the virtual cluster left: %s" % left)
