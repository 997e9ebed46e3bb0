#!/usr/bin/python3
"""Mirrors folder SRC at MOUNT, writing no faster than MBPS megabytes a second, like a slow card.

Usage: slow-medium.py SRC MOUNT MBPS   (stays in the foreground; unmount MOUNT to end it)
"""
import os
import sys
import threading
import time

from fusepy import FUSE, Operations

STAT_KEYS = ('st_mode', 'st_size', 'st_uid', 'st_gid', 'st_nlink',
             'st_atime', 'st_mtime', 'st_ctime')


class SlowFolder(Operations):
    def __init__(self, root, rate):
        self.root, self.rate = root, rate
        self.lock, self.free_at = threading.Lock(), time.monotonic()

    def _path(self, path):
        return os.path.join(self.root, path.lstrip('/'))

    def getattr(self, path, fh=None):
        st = os.lstat(self._path(path))
        return {key: getattr(st, key) for key in STAT_KEYS}

    def readdir(self, path, fh):
        return ['.', '..'] + os.listdir(self._path(path))

    def open(self, path, flags):
        return os.open(self._path(path), flags)

    def create(self, path, mode, fi=None):
        return os.open(self._path(path), os.O_CREAT | os.O_RDWR, mode)

    def read(self, path, size, offset, fh):
        return os.pread(fh, size, offset)

    def write(self, path, data, offset, fh):
        # One medium: each write waits for its turn on the shared bandwidth.
        with self.lock:
            self.free_at = max(self.free_at, time.monotonic()) + len(data) / self.rate
            wait = self.free_at - time.monotonic()
        if wait > 0:
            time.sleep(wait)
        return os.pwrite(fh, data, offset)

    def truncate(self, path, length, fh=None):
        os.truncate(self._path(path), length)

    def fsync(self, path, datasync, fh):
        os.fdatasync(fh) if datasync else os.fsync(fh)

    def release(self, path, fh):
        os.close(fh)


if __name__ == '__main__':
    if len(sys.argv) != 4:
        sys.exit(__doc__.strip())
    src, mount, mbps = sys.argv[1], sys.argv[2], float(sys.argv[3])
    FUSE(SlowFolder(os.path.realpath(src), mbps * 1e6), mount, foreground=True, big_writes=True)
