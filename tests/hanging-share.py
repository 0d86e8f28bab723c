#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""A stand-in for a network share whose server stops answering.

Usage: hanging-share.py SOURCE MOUNTPOINT

Mounts SOURCE at MOUNTPOINT as a FUSE file system that the mount table shows
as an sshfs share (nas:/videos). Stopped (SIGSTOP), this process reads no
request, so every call on the share waits, as on a hard NFS mount whose server
is gone; continued (SIGCONT), it answers them all. The kernel keeps nothing:
each call reaches this process.

When its parent process ends, the share is continued and unmounted, so that a
test that dies cannot leave the machine's mounts hanging.
"""

import ctypes
import errno
import os
import signal
import subprocess
import sys
import threading
import time

import fusepy

PR_SET_PDEATHSIG = 1


class HangingShare(fusepy.Operations):
    def __init__(self, source):
        self.source = source

    def real(self, path):
        return os.path.join(self.source, path.lstrip('/'))

    def getattr(self, path, fh=None):
        st = os.lstat(self.real(path))
        return {key: getattr(st, key) for key in (
            'st_mode', 'st_nlink', 'st_size', 'st_uid', 'st_gid',
            'st_atime', 'st_mtime', 'st_ctime')}

    def access(self, path, mode):
        if not os.access(self.real(path), mode):
            raise fusepy.FuseOSError(errno.EACCES)

    def readdir(self, path, fh):
        return ['.', '..'] + os.listdir(self.real(path))

    def readlink(self, path):
        return os.readlink(self.real(path))

    def statfs(self, path):
        st = os.statvfs(self.real(path))
        return {key: getattr(st, key) for key in (
            'f_bavail', 'f_bfree', 'f_blocks', 'f_bsize', 'f_favail',
            'f_ffree', 'f_files', 'f_flag', 'f_frsize', 'f_namemax')}

    def open(self, path, flags):
        return os.open(self.real(path), flags)

    def read(self, path, size, offset, fh):
        os.lseek(fh, offset, os.SEEK_SET)
        return os.read(fh, size)

    def release(self, path, fh):
        os.close(fh)


def watch_parent(mountpoint):
    parent = os.getppid()
    while os.getppid() == parent:
        time.sleep(0.2)
    subprocess.run(['umount', '-l', mountpoint], check=False)
    os._exit(0)


def main():
    source, mountpoint = sys.argv[1:3]
    # A parent that dies while this process is stopped continues it.
    ctypes.CDLL(None, use_errno=True).prctl(PR_SET_PDEATHSIG, signal.SIGCONT)
    threading.Thread(target=watch_parent, args=(mountpoint,), daemon=True).start()
    fusepy.FUSE(HangingShare(os.path.abspath(source)), mountpoint, foreground=True,
                nothreads=False, fsname='nas:/videos', subtype='sshfs', entry_timeout=0,
                attr_timeout=0, negative_timeout=0, default_permissions=True, allow_other=True)


if __name__ == '__main__':
    main()
