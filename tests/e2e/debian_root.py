# A clean Debian 12 system in a folder, to install the .deb into and run
# the installed app in.
#
# The minimal system (debootstrap --variant=minbase) is made once and kept as
# a tarball in the build folder; every run unpacks a fresh copy. Downloaded
# packages are kept too, so a second run installs without the network. Mounts
# are made in a mount namespace of this process's own, so that they vanish
# with it whatever happens.

import contextlib
import ctypes
import os
import shutil
import subprocess

from desktop import CheckFailed, log, mounts_under


def run(command, log_path, timeout=300, **kwargs):
    with open(log_path, "a", encoding="utf-8") as out:
        out.write(f"\n$ {' '.join(command)}\n")
        out.flush()
        done = subprocess.run(command, stdout=out, stderr=subprocess.STDOUT, timeout=timeout, **kwargs)
    if done.returncode != 0:
        with open(log_path, encoding="utf-8", errors="replace") as f:
            raise CheckFailed(f"{command[0]} failed with status {done.returncode}: {f.read()[-3000:]}")


@contextlib.contextmanager
def debian_system(folder, cache, log_path):
    # A fresh minimal system in `folder`, with /proc, /dev and the package
    # cache mounted; `system(command)` runs a shell command line in it as root.
    if ctypes.CDLL(None).unshare(0x00020000) != 0:  # CLONE_NEWNS
        raise CheckFailed("cannot make a mount namespace")
    run(["mount", "--make-rprivate", "/"], log_path)
    os.makedirs(os.path.join(cache, "archives"), exist_ok=True)
    tarball = os.path.join(cache, "debian12-minbase.tar")
    if not os.path.exists(tarball):
        log("making a minimal Debian 12 system with debootstrap (once per build folder)")
        made = os.path.join(cache, "debian12-minbase")
        shutil.rmtree(made, ignore_errors=True)
        run(["debootstrap", "--variant=minbase", "bookworm", made, "http://deb.debian.org/debian"], log_path, 1200)
        run(["tar", "-C", made, "-cf", tarball + ".part", "."], log_path)
        os.rename(tarball + ".part", tarball)
        shutil.rmtree(made)
    os.makedirs(folder)
    run(["tar", "-C", folder, "-xf", tarball], log_path)
    shutil.copy("/etc/resolv.conf", os.path.join(folder, "etc/resolv.conf"))
    with open(os.path.join(folder, "usr/sbin/policy-rc.d"), "w", encoding="utf-8") as f:
        f.write("#!/bin/sh\nexit 101\n")  # packages are set up, no service starts
    os.chmod(os.path.join(folder, "usr/sbin/policy-rc.d"), 0o755)

    def system(command, timeout=900):
        run(["chroot", folder, "/bin/sh", "-c", command], log_path, timeout, env={
            "PATH": "/usr/sbin:/usr/bin:/sbin:/bin", "DEBIAN_FRONTEND": "noninteractive", "LANG": "C.UTF-8"})

    def bind(source, where, *how):
        os.makedirs(folder + where, exist_ok=True)
        run(["mount", *(how or ["--bind", source]), folder + where], log_path)

    try:
        bind(os.path.join(cache, "archives"), "/var/cache/apt/archives")
        bind("proc", "/proc", "-t", "proc", "proc")
        bind("/dev", "/dev", "--rbind", "/dev")
        yield system, bind
    finally:
        for point in mounts_under(folder):
            subprocess.run(["umount", "--lazy", point], capture_output=True, timeout=30)
