#!/usr/bin/python3
"""Mirrors folder SRC at MOUNT, writing no faster than MBPS megabytes a second, like a slow card.

Usage: slow-medium.py SRC MOUNT MBPS [--uncached] [--real BYTES]
  MBPS 0         writes at full speed
  --uncached     every read and write reaches this program (no page cache of MOUNT's files), as
                 every read of a card reaches the card
  --real BYTES   a counterfeit card: writes beyond BYTES of a file are accepted and dropped, and
                 reads there return zeros (implies --uncached, or the host would serve the lie's
                 truth from its cache)
Stays in the foreground; unmount MOUNT to end it.
"""
import argparse
import os
import threading
import time

from fusepy import FUSE, Operations

STAT_KEYS = ('st_mode', 'st_size', 'st_uid', 'st_gid', 'st_nlink',
             'st_atime', 'st_mtime', 'st_ctime')


class SlowFolder(Operations):
    def __init__(self, root, rate, real=None):
        self.root, self.rate, self.real = root, rate, real
        # Not "lock": that name is fusepy's file-lock operation.
        self.bandwidth, self.free_at = threading.Lock(), time.monotonic()

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
        data = os.pread(fh, size, offset)
        if self.real is not None and offset + len(data) > self.real:
            kept = max(0, self.real - offset)
            data = data[:kept] + bytes(len(data) - kept)
        return data

    def write(self, path, data, offset, fh):
        # One medium: each write waits for its turn on the shared bandwidth.
        if self.rate:
            with self.bandwidth:
                self.free_at = max(self.free_at, time.monotonic()) + len(data) / self.rate
                wait = self.free_at - time.monotonic()
            if wait > 0:
                time.sleep(wait)
        if self.real is not None and offset + len(data) > self.real:
            # The card says it took everything; only what lies below its real capacity stays.
            kept = max(0, self.real - offset)
            if kept:
                os.pwrite(fh, data[:kept], offset)
            return len(data)
        return os.pwrite(fh, data, offset)

    def truncate(self, path, length, fh=None):
        os.truncate(self._path(path), length)

    def fsync(self, path, datasync, fh):
        os.fdatasync(fh) if datasync else os.fsync(fh)

    def release(self, path, fh):
        os.close(fh)


if __name__ == '__main__':
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument('src')
    parser.add_argument('mount')
    parser.add_argument('mbps', type=float)
    parser.add_argument('--uncached', action='store_true')
    parser.add_argument('--real', type=int)
    args = parser.parse_args()
    if args.mbps < 0 or (args.real is not None and args.real < 0):
        parser.error('MBPS and BYTES must not be negative')
    FUSE(SlowFolder(os.path.realpath(args.src), args.mbps * 1e6, args.real), args.mount,
         foreground=True, big_writes=True,
         direct_io=args.uncached or args.real is not None)
