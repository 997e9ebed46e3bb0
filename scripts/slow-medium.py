#!/usr/bin/python3
"""Mirrors folder SRC at MOUNT, writing no faster than MBPS megabytes a second, like a slow card.

Usage: slow-medium.py SRC MOUNT MBPS [--read-mbps R] [--uncached] [--real BYTES]
                      [--fail-after BYTES]
  MBPS 0             writes at full speed
  --read-mbps R      reads no faster than R megabytes a second; reads and writes share one bus,
                     as a card's single interface does: each waits for what is in flight
  --uncached         every read and write reaches this program (no page cache of MOUNT's files),
                     as every read of a card reaches the card
  --real BYTES       a counterfeit card: writes beyond BYTES of a file are accepted and dropped,
                     and reads there return zeros
  --fail-after BYTES a dying card: once BYTES have been written in all, every write fails (EIO)
A read cap, a counterfeit and a dying card imply --uncached, or the host would answer reads from
its cache instead of the card. Stays in the foreground; unmount MOUNT to end it.
"""
import argparse
import errno
import os
import threading
import time

from fusepy import FUSE, FuseOSError, Operations

STAT_KEYS = ('st_mode', 'st_size', 'st_uid', 'st_gid', 'st_nlink',
             'st_atime', 'st_mtime', 'st_ctime')


class SlowFolder(Operations):
    def __init__(self, root, write_rate, read_rate=0, real=None, fail_after=None):
        self.root, self.real, self.fail_after = root, real, fail_after
        self.write_rate, self.read_rate = write_rate, read_rate
        # Not "lock": that name is fusepy's file-lock operation. One lock and one clock: the bus.
        self.bus, self.free_at, self.written = threading.Lock(), time.monotonic(), 0

    def _path(self, path):
        return os.path.join(self.root, path.lstrip('/'))

    def _transfer(self, size, rate):
        # Takes the next free slot on the bus and waits until the transfer would have ended.
        if not rate:
            return
        with self.bus:
            self.free_at = max(self.free_at, time.monotonic()) + size / rate
            wait = self.free_at - time.monotonic()
        if wait > 0:
            time.sleep(wait)

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
        self._transfer(size, self.read_rate)
        data = os.pread(fh, size, offset)
        if self.real is not None and offset + len(data) > self.real:
            kept = max(0, self.real - offset)
            data = data[:kept] + bytes(len(data) - kept)
        return data

    def write(self, path, data, offset, fh):
        if self.fail_after is not None:
            with self.bus:
                dead = self.written >= self.fail_after
                self.written += 0 if dead else len(data)
            if dead:
                raise FuseOSError(errno.EIO)
        self._transfer(len(data), self.write_rate)
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
    parser.add_argument('--read-mbps', type=float, default=0)
    parser.add_argument('--uncached', action='store_true')
    parser.add_argument('--real', type=int)
    parser.add_argument('--fail-after', type=int)
    args = parser.parse_args()
    if min(args.mbps, args.read_mbps, args.real or 0, args.fail_after or 0) < 0:
        parser.error('rates and byte counts must not be negative')
    uncached = (args.uncached or args.read_mbps > 0 or args.real is not None
                or args.fail_after is not None)
    FUSE(SlowFolder(os.path.realpath(args.src), args.mbps * 1e6, args.read_mbps * 1e6,
                    args.real, args.fail_after),
         args.mount, foreground=True, big_writes=True, direct_io=uncached)
