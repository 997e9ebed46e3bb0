#!/usr/bin/env python3
"""Reports which optional host features a folder's filesystem refuses, and with which errno.

Usage: scripts/fs-features.py [--markdown] LABEL=FOLDER ...
Each FOLDER must be writable; the probe works in a scratch subfolder it removes afterwards.
"""
import ctypes
import errno
import fcntl
import os
import shutil
import struct
import sys
import tempfile

libc = ctypes.CDLL(None, use_errno=True)
AT_FDCWD = -100
AT_EMPTY_PATH = 0x1000
AT_SYMLINK_FOLLOW = 0x400
RENAME_NOREPLACE = 1
RENAME_EXCHANGE = 2
O_TMPFILE = getattr(os, "O_TMPFILE", 0o20200000)
FICLONE = 0x40049409
FAT_IOCTL_GET_ATTRIBUTES = 0x80047210
FAT_IOCTL_SET_ATTRIBUTES = 0x40047211
SYS_RENAMEAT2 = 316
SYS_GETXATTRAT = 464  # x86_64, Linux 6.13+


def err(e):
    return errno.errorcode.get(e, str(e))


def call(fn, *args):
    """Runs a libc call; returns 'ok' or the errno name."""
    ctypes.set_errno(0)
    rc = fn(*args)
    return "ok" if rc >= 0 else err(ctypes.get_errno())


def attempt(fn):
    try:
        result = fn()
        return "ok" if result is None else result
    except OSError as e:
        return err(e.errno)


def write(path, data=b"probe"):
    with open(path, "wb") as f:
        f.write(data)


def renameat2(src, dst, flags):
    return call(libc.syscall, SYS_RENAMEAT2, AT_FDCWD, src.encode(), AT_FDCWD, dst.encode(), flags)


def probe_rename(d):
    write(f"{d}/r1"), write(f"{d}/r2")
    fresh = renameat2(f"{d}/r1", f"{d}/r3", RENAME_NOREPLACE)
    if fresh != "ok":
        return {"renameat2 NOREPLACE": fresh, "renameat2 EXCHANGE": renameat2(f"{d}/r1", f"{d}/r2", RENAME_EXCHANGE)}
    taken = renameat2(f"{d}/r3", f"{d}/r2", RENAME_NOREPLACE)
    return {"renameat2 NOREPLACE": "ok" if taken == "EEXIST" else f"ok, but onto a taken name: {taken}",
            "renameat2 EXCHANGE": renameat2(f"{d}/r3", f"{d}/r2", RENAME_EXCHANGE)}


def probe_replace(d):
    write(f"{d}/old", b"old"), write(f"{d}/new", b"new")
    over = attempt(lambda: os.rename(f"{d}/new", f"{d}/old"))
    if over == "ok" and open(f"{d}/old", "rb").read() != b"new":
        over = "ok, but old content kept"
    fd = os.open(f"{d}/old", os.O_RDONLY)
    os.unlink(f"{d}/old")
    left = [n for n in os.listdir(d) if n.startswith(".")]
    os.close(fd)
    return {"rename onto a taken name": over,
            "unlink while open": "ok" if not left else "leaves " + left[0][:12] + "… until closed"}


def probe_tmpfile(d):
    out = {}
    try:
        fd = os.open(d, os.O_WRONLY | O_TMPFILE, 0o600)
    except OSError as e:
        out["open O_TMPFILE"] = err(e.errno)
        write(f"{d}/plain")
        fd = os.open(f"{d}/plain", os.O_RDONLY)
        suffix = " (of a named file)"
    else:
        out["open O_TMPFILE"] = "ok"
        os.write(fd, b"tmp")
        suffix = ""
    dfd = os.open(d, os.O_RDONLY | os.O_DIRECTORY)
    out["linkat AT_EMPTY_PATH"] = call(libc.linkat, fd, b"", dfd, b"l1", AT_EMPTY_PATH) + suffix
    proc = f"/proc/self/fd/{fd}".encode()
    out["linkat /proc/self/fd"] = call(libc.linkat, AT_FDCWD, proc, dfd, b"l2", AT_SYMLINK_FOLLOW) + suffix
    os.close(dfd), os.close(fd)
    return out


def probe_data(d):
    write(f"{d}/src", b"x" * 8192)
    src = os.open(f"{d}/src", os.O_RDONLY)
    dst = os.open(f"{d}/dst", os.O_RDWR | os.O_CREAT, 0o644)
    out = {"ioctl FICLONE": attempt(lambda: fcntl.ioctl(dst, FICLONE, src) and None),
           "copy_file_range": attempt(lambda: copied(os.copy_file_range(src, dst, 8192, 0, 0))),
           "syncfs": call(libc.syncfs, dst),
           "sync_file_range": call(libc.sync_file_range, dst, ctypes.c_long(0), ctypes.c_long(0), 2),
           "fdatasync": attempt(lambda: os.fdatasync(dst))}
    os.close(src), os.close(dst)
    return out


def copied(n):
    return "ok" if n == 8192 else f"short: {n} of 8192"


def probe_xattr(d):
    path = f"{d}/src"
    out = {"setxattr user.*": attempt(lambda: os.setxattr(path, "user.probe", b"1"))}
    out["getxattr user.*"] = attempt(lambda: os.getxattr(path, "user.probe") and None)
    args = struct.pack("QII", 0, 0, 0)  # struct xattr_args asking only for the size
    out["getxattrat user.*"] = call(libc.syscall, SYS_GETXATTRAT, AT_FDCWD, path.encode(), 0, b"user.probe",
                                    args, ctypes.c_size_t(len(args)))
    out["system.ntfs_attrib_be"] = attempt(lambda: "ok " + os.getxattr(path, "system.ntfs_attrib_be").hex())
    return out


def probe_chmod(d):
    path = f"{d}/src"
    result = attempt(lambda: os.chmod(path, 0o444))
    if result == "ok":
        mode = os.stat(path).st_mode & 0o777
        result = "ok" if mode == 0o444 else f"ignored (mode stays {mode:o})"
        os.chmod(path, 0o644)
    return {"chmod": result}


def probe_fat_ioctl(d):
    fd = os.open(f"{d}/src", os.O_RDONLY)
    buf = bytearray(4)
    get = attempt(lambda: fcntl.ioctl(fd, FAT_IOCTL_GET_ATTRIBUTES, buf) and None)
    put = attempt(lambda: fcntl.ioctl(fd, FAT_IOCTL_SET_ATTRIBUTES, struct.pack("I", 0x20)) and None)
    os.close(fd)
    return {"FAT_IOCTL_GET_ATTRIBUTES": get, "FAT_IOCTL_SET_ATTRIBUTES": put}


def probe_names(d):
    write(f"{d}/MixedCase")
    case = "insensitive" if os.path.exists(f"{d}/mixedcase") else "sensitive"
    kept = os.listdir(d)
    case += ", kept" if "MixedCase" in kept else ", not kept: " + ",".join(n for n in kept if n.lower() == "mixedcase")
    nonascii = attempt(lambda: write(f"{d}/\u65e5\u672c.txt"))
    os.utime(f"{d}/src", ns=(1_000_000_001_123_456_789, 1_000_000_001_123_456_789))
    got = os.stat(f"{d}/src").st_mtime_ns
    return {"names: case": case, "names: non-ASCII": nonascii,
            "mtime kept (set …001.123456789)": f"{got // 10**9 % 100:02d}.{got % 10**9:09d}"}


def probe(folder):
    d = tempfile.mkdtemp(prefix="probe.", dir=folder)
    try:
        out = {"st_dev": f"{os.stat(d).st_dev:#x}"}
        for step in (probe_rename, probe_replace, probe_tmpfile, probe_data, probe_xattr, probe_chmod, probe_fat_ioctl, probe_names):
            try:
                out.update(step(d))
            except OSError as e:
                out[step.__name__] = "setup failed: " + err(e.errno)
        return out
    finally:
        shutil.rmtree(d, ignore_errors=True)


def main(argv):
    markdown = "--markdown" in argv
    places = [a.split("=", 1) for a in argv if a != "--markdown"]
    if not places:
        sys.exit(__doc__)
    results = [(label, probe(folder)) for label, folder in places]
    features = list(dict.fromkeys(k for _, r in results for k in r))
    if markdown:
        print("| feature | " + " | ".join(l for l, _ in results) + " |")
        print("|---" * (len(results) + 1) + "|")
        for f in features:
            print(f"| {f} | " + " | ".join(r.get(f, "-") for _, r in results) + " |")
    else:
        width = max(map(len, features))
        for label, r in results:
            print(f"== {label}")
            for f in features:
                print(f"  {f:<{width}}  {r.get(f, '-')}")


if __name__ == "__main__":
    main(sys.argv[1:])
