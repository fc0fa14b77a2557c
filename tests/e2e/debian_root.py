"""A clean Debian 12 system in a folder, to install the .deb into and run
the installed app in.

The minimal system (debootstrap --variant=minbase) is made once and kept as
a tarball in the build folder; every run unpacks a fresh copy. Downloaded
packages are kept too, so a second run installs without the network.
Mounts are made in a mount namespace of this process's own, so that they
vanish with it whatever happens.
"""

import ctypes
import os
import shutil
import subprocess

from desktop import CheckFailed, log, mounts_under

MIRROR = "http://deb.debian.org/debian"
CLONE_NEWNS = 0x00020000


def _run(command, what, timeout, log_path=None, **kwargs):
    out = open(log_path, "a", encoding="utf-8") if log_path else subprocess.DEVNULL
    try:
        done = subprocess.run(command, stdout=out, stderr=subprocess.STDOUT, timeout=timeout, **kwargs)
    except subprocess.TimeoutExpired:
        raise CheckFailed(f"{what} did not end within {timeout} s")
    finally:
        if log_path:
            out.close()
    if done.returncode != 0:
        tail = ""
        if log_path:
            with open(log_path, encoding="utf-8", errors="replace") as f:
                tail = f.read()[-3000:]
        raise CheckFailed(f"{what} failed with status {done.returncode}: {tail}")


def private_mounts():
    """Moves this process into a mount namespace of its own."""
    libc = ctypes.CDLL(None, use_errno=True)
    if libc.unshare(CLONE_NEWNS) != 0:
        raise CheckFailed(f"unshare(CLONE_NEWNS): {os.strerror(ctypes.get_errno())}")
    _run(["mount", "--make-rprivate", "/"], "making the mounts private", 30)


def minimal_system(cache, log_path):
    """The tarball of a minimal Debian 12 system, made when missing."""
    tarball = os.path.join(cache, "debian12-minbase.tar")
    if os.path.exists(tarball):
        return tarball
    os.makedirs(cache, exist_ok=True)
    folder = os.path.join(cache, "debian12-minbase")
    shutil.rmtree(folder, ignore_errors=True)
    log("making a minimal Debian 12 system with debootstrap (once per build folder)")
    _run(["debootstrap", "--variant=minbase", "bookworm", folder, MIRROR], "debootstrap", 1200, log_path)
    _run(["tar", "-C", folder, "-cf", tarball + ".part", "."], "packing the minimal system", 300)
    os.rename(tarball + ".part", tarball)
    shutil.rmtree(folder)
    return tarball


class DebianRoot:
    def __init__(self, tarball, folder, package_cache, log_path):
        self.path = folder
        self.log_path = log_path
        self.package_cache = package_cache
        os.makedirs(folder)
        _run(["tar", "-C", folder, "-xf", tarball], "unpacking the minimal system", 300)
        shutil.copy("/etc/resolv.conf", os.path.join(folder, "etc", "resolv.conf"))
        # No services start in here: packages are only unpacked and set up.
        policy = os.path.join(folder, "usr", "sbin", "policy-rc.d")
        with open(policy, "w", encoding="utf-8") as f:
            f.write("#!/bin/sh\nexit 101\n")
        os.chmod(policy, 0o755)

    def __enter__(self):
        try:
            os.makedirs(self.package_cache, exist_ok=True)
            self.bind(self.package_cache, "/var/cache/apt/archives")
            self.mount(["-t", "proc", "proc"], "/proc")
            self.bind("/dev", "/dev", recursive=True)
        except BaseException:
            self.close()
            raise
        return self

    def __exit__(self, *_):
        self.close()

    def inside(self, path):
        return os.path.join(self.path, path.lstrip("/"))

    def mount(self, how, where):
        _run(["mount", *how, self.inside(where)], f"mounting {where}", 30)

    def bind(self, source, where, recursive=False):
        os.makedirs(self.inside(where), exist_ok=True)
        self.mount(["--rbind" if recursive else "--bind", source], where)

    def run(self, command, what, timeout=900):
        """Runs a shell command line as root inside the system."""
        env = {"PATH": "/usr/sbin:/usr/bin:/sbin:/bin", "DEBIAN_FRONTEND": "noninteractive",
               "LANG": "C.UTF-8"}
        with open(self.log_path, "a", encoding="utf-8") as f:
            f.write(f"\n$ {command}\n")
        _run(["chroot", self.path, "/bin/sh", "-c", command], what, timeout, self.log_path, env=env)

    def close(self):
        """Lets go of every mount inside the system, also busy ones."""
        for point in mounts_under(self.path):
            subprocess.run(["umount", "--lazy", point], stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=30)
        left = mounts_under(self.path)
        if left:
            raise CheckFailed(f"still mounted: {left}")

    def prefix(self):
        """What starts a program of the system's, by its path inside."""
        return ["chroot", self.path]
