"""A file system that fails like a dying disk: a passthrough over a backing
folder whose files hold LIMIT bytes; a write or read that reaches past them
gets EIO, as a failing sector would give. Runs in the foreground with direct
I/O, so every write and read of the program reaches it.

    /usr/bin/python3 eio_fs.py BACKING MOUNTPOINT LIMIT

With LIMIT "hang" it fails as a disk that stops answering: every request
but those on its root never returns, and a process that makes one waits in
the kernel, where no signal reaches it, until this process ends.
"""
import errno
import os
import sys
import threading

from fusepy import FUSE, FuseOSError, Operations


class FailingDisk(Operations):
    def __init__(self, backing, limit):
        self.backing, self.limit = backing, limit

    def _path(self, path):
        return os.path.join(self.backing, path.lstrip("/"))

    def getattr(self, path, fh=None):
        st = os.lstat(self._path(path))
        return {key: getattr(st, key) for key in ("st_mode", "st_nlink", "st_uid", "st_gid", "st_size",
                                                  "st_atime", "st_mtime", "st_ctime")}

    def readdir(self, path, fh):
        return [".", ".."] + os.listdir(self._path(path))

    def create(self, path, mode, fi=None):
        return os.open(self._path(path), os.O_WRONLY | os.O_CREAT | os.O_EXCL, mode)

    def open(self, path, flags):
        return os.open(self._path(path), flags & ~os.O_APPEND)

    def _check(self, offset, size):
        if offset + size > self.limit:
            raise FuseOSError(errno.EIO)

    def write(self, path, data, offset, fh):
        self._check(offset, len(data))
        return os.pwrite(fh, data, offset)

    def read(self, path, size, offset, fh):
        available = os.fstat(fh).st_size - offset
        self._check(offset, min(size, max(available, 0)))
        return os.pread(fh, size, offset)

    def truncate(self, path, length, fh=None):
        os.truncate(self._path(path), length)

    def unlink(self, path):
        os.unlink(self._path(path))

    def release(self, path, fh):
        os.close(fh)

    def flush(self, path, fh):
        return 0

    def chmod(self, path, mode):
        os.chmod(self._path(path), mode)

    def chown(self, path, uid, gid):
        os.chown(self._path(path), uid, gid)

    def utimens(self, path, times=None):
        os.utime(self._path(path), times)


class HungDisk(FailingDisk):
    def __call__(self, operation, path, *args):
        if path != "/":
            threading.Event().wait()
        return super().__call__(operation, path, *args)


if __name__ == "__main__":
    backing, mountpoint, limit = sys.argv[1], sys.argv[2], sys.argv[3]
    disk = HungDisk(backing, 0) if limit == "hang" else FailingDisk(backing, int(limit))
    FUSE(disk, mountpoint, foreground=True, nothreads=True, direct_io=True)
