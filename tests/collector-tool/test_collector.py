#!/usr/bin/env python3
"""Runs the collector tool against fake root folders and checks what it
leaves behind with independent readers (zipfile, unzip, sha256sum)."""

import argparse
import contextlib
import hashlib
import os
import pwd
import re
import resource
import shutil
import socket
import stat
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import zipfile

TOOL = None
PROGRESS = re.compile(r"Collecting (.+) \((\d+)/(\d+)\)")
OWNER = (4321, 8765)
# An even second, exactly representable in the zip's own time field.
OLD_MTIME = 1614834368  # 2021-03-04T05:06:08Z


def run_tool(out_dir, root, env_extra=None, wrapper=(), preexec=None, keep_env=True):
    env = {k: v for k, v in os.environ.items() if k not in ("SUDO_UID", "SUDO_GID")}
    if keep_env:
        env["SUDO_UID"], env["SUDO_GID"] = str(OWNER[0]), str(OWNER[1])
    env.update(env_extra or {})
    # The tool's two streams share one file, as in the application.
    with tempfile.TemporaryFile() as output:
        proc = subprocess.run(list(wrapper) + [TOOL, "-o", out_dir, "--root", root], stdin=subprocess.DEVNULL,
                              stdout=output, stderr=subprocess.STDOUT, env=env, timeout=120, preexec_fn=preexec)
        output.seek(0)
        return proc.returncode, output.read()


def last_line(raw):
    lines = [line for line in raw.decode("utf-8").split("\n") if line.strip()]
    return lines[-1] if lines else ""


def read_manifest(archive):
    text = archive.read("manifest.tsv").decode("utf-8")
    lines = text.rstrip("\n").split("\n")
    header = lines[0].split("\t")
    return [dict(zip(header, line.split("\t"))) for line in lines[1:]]


def make_tree(root):
    """A fake system with the awkward cases below /etc/ssh and /var/log."""
    def write(rel, data, mode=0o644):
        path = os.path.join(root, rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
        os.chmod(path, mode)
        return path

    write("etc/hostname", b"fakehost\n")
    os.utime(write("etc/passwd", b"root:x:0:0:root:/root:/bin/bash\n"), (OLD_MTIME, OLD_MTIME))
    ssh = os.path.join(root, "etc/ssh")
    os.makedirs(ssh)
    write("etc/ssh/sshd_config", b"PermitRootLogin no\n", 0o600)
    os.mkfifo(os.path.join(ssh, "fifo"))
    sock = socket.socket(socket.AF_UNIX)
    sock.bind(os.path.join(ssh, "sock"))
    sock.close()
    # /dev/zero's numbers: reading this node would never end.
    os.mknod(os.path.join(ssh, "zero"), stat.S_IFCHR | 0o666, os.makedev(1, 5))
    os.symlink("loop-b", os.path.join(ssh, "loop-a"))
    os.symlink("loop-a", os.path.join(ssh, "loop-b"))
    os.symlink("/etc/shadow", os.path.join(ssh, "outside"))
    os.symlink("../..", os.path.join(ssh, "up"))
    write("etc/ssh/name\nwith line feed", b"line feed\n")
    write(b"etc/ssh/bad\xff\xfename".decode("utf-8", "surrogateescape"), b"not utf-8\n")
    write("etc/ssh/100%", b"percent\n")
    os.makedirs(os.path.join(root, "etc/sudoers.d"))  # an item with nothing in it
    write("var/log/syslog", b"Dec  6 08:00:00 fakehost kernel: hello\n" * 20000)
    write("var/log/grow.log", b"start\n")
    os.makedirs(os.path.join(root, "tmp/sub"))
    write("tmp/sub/left-behind", b"x" * 100)
    os.mkfifo(os.path.join(root, "tmp/pipe"))


class CollectorRun(unittest.TestCase):
    """One full run against the awkward tree, checked from many sides."""

    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix="collector-test-")
        cls.root = os.path.join(cls.work, "root")
        cls.out = os.path.join(cls.work, "out")
        os.makedirs(cls.root)
        os.makedirs(cls.out)
        make_tree(cls.root)
        cls.started = time.time()
        grow = os.path.join(cls.root, "var/log/grow.log")
        done = threading.Event()

        def grower():
            with open(grow, "ab", buffering=0) as f:
                while not done.is_set():
                    f.write(b"more data while the tool reads\n" * 64)
                    time.sleep(0.0005)

        thread = threading.Thread(target=grower)
        thread.start()
        try:
            cls.status, cls.output = run_tool(cls.out, cls.root)
        finally:
            done.set()
            thread.join()
        zips = [n for n in os.listdir(cls.out) if n.endswith(".zip")]
        cls.leftovers = sorted(set(os.listdir(cls.out)) - set(zips) - {z + ".sha256" for z in zips})
        cls.path = os.path.join(cls.out, zips[0]) if len(zips) == 1 else None
        cls.zip_count = len(zips)
        cls.archive = zipfile.ZipFile(cls.path) if cls.path else None
        cls.manifest = read_manifest(cls.archive) if cls.archive else []
        cls.rows = {row["path"]: row for row in cls.manifest}

    @classmethod
    def tearDownClass(cls):
        if cls.archive:
            cls.archive.close()
        shutil.rmtree(cls.work, ignore_errors=True)

    def test_succeeds_with_one_archive_and_nothing_else(self):
        self.assertEqual(self.status, 0, self.output.decode("utf-8", "replace"))
        self.assertEqual(self.zip_count, 1)
        self.assertEqual(self.leftovers, [])
        st = os.stat(self.path)
        self.assertEqual((st.st_uid, st.st_gid), OWNER)
        self.assertEqual(stat.S_IMODE(st.st_mode), 0o600)
        self.assertGreaterEqual(st.st_mtime, self.started)
        self.assertRegex(os.path.basename(self.path), r"^[A-Za-z0-9._-]+-\d{8}T\d{6}Z\.zip$")
        # The sidecar: sha256sum's own format, owned like the archive.
        sidecar = self.path + ".sha256"
        self.assertEqual((os.lstat(sidecar).st_uid, os.lstat(sidecar).st_gid), OWNER)
        check = subprocess.run(["sha256sum", "-c", os.path.basename(sidecar)], cwd=self.out, capture_output=True)
        self.assertEqual(check.returncode, 0, check.stdout + check.stderr)

    def test_output_is_utf8_with_counted_progress_lines(self):
        text = self.output.decode("utf-8")  # raises on any invalid byte
        self.assertNotIn("\r", text)
        matches = PROGRESS.findall(text)
        self.assertGreater(len(matches), 3)
        total = int(matches[0][2])
        self.assertEqual([int(n) for _, n, _ in matches], list(range(1, total + 1)))
        self.assertTrue(all(int(m) == total for _, _, m in matches))
        self.assertTrue(all("\n" not in name and name for name, _, _ in matches))

    def test_archive_reads_back_with_independent_readers(self):
        self.assertIsNone(self.archive.testzip())
        check = subprocess.run(["unzip", "-tq", self.path], capture_output=True)
        self.assertEqual(check.returncode, 0, check.stdout + check.stderr)
        names = self.archive.namelist()
        self.assertIn("manifest.tsv", names)
        self.assertIn("collection.log", names)
        self.assertTrue(all(n.startswith(("files/", "listings/", "manifest.tsv", "collection.log", "timeline.body"))
                            for n in names), names)
        self.assertTrue(all(".." not in n.split("/") for n in names))

    def test_manifest_hashes_match_archive_and_sources(self):
        checked = 0
        for row in self.manifest:
            if row["entry"] == "-":
                continue
            data = self.archive.read(row["entry"])
            self.assertEqual(len(data), int(row["size"]), row["path"])
            if row["sha256"] != "-":
                self.assertEqual(hashlib.sha256(data).hexdigest(), row["sha256"], row["path"])
                checked += 1
        self.assertGreater(checked, 5)
        for rel in ("etc/passwd", "var/log/syslog", "etc/ssh/sshd_config"):
            out = subprocess.run(["sha256sum", os.path.join(self.root, rel)], capture_output=True, check=True)
            self.assertEqual(self.rows["/" + rel]["sha256"], out.stdout.split()[0].decode())

    def test_metadata_kept(self):
        row = self.rows["/etc/passwd"]
        self.assertEqual(row["mtime"], "2021-03-04T05:06:08.000000000Z")
        self.assertEqual((row["mode"], row["uid"], row["gid"]), ("0644", "0", "0"))
        info = self.archive.getinfo("files/etc/passwd")
        self.assertEqual(info.date_time, time.localtime(OLD_MTIME)[:6])
        self.assertEqual(info.external_attr >> 16, stat.S_IFREG | 0o644)
        self.assertEqual(self.archive.getinfo("files/etc/ssh/").external_attr >> 16 & 0o170000, stat.S_IFDIR)

    def test_special_files_recorded_never_read(self):
        for name, kind in (("fifo", "fifo"), ("sock", "socket"), ("zero", "char-device")):
            row = self.rows["/etc/ssh/" + name]
            self.assertEqual((row["type"], row["entry"], row["note"]), (kind, "-", "not read"))
            self.assertNotIn("files/etc/ssh/" + name, self.archive.namelist())

    def test_links_recorded_as_links(self):
        for name, target in (("loop-a", "loop-b"), ("loop-b", "loop-a"), ("outside", "/etc/shadow"), ("up", "../..")):
            entry = "files/etc/ssh/" + name
            self.assertEqual(self.archive.read(entry), target.encode())
            self.assertEqual(self.archive.getinfo(entry).external_attr >> 16, stat.S_IFLNK | 0o777)
            self.assertEqual(self.rows["/etc/ssh/" + name]["type"], "link")
        # Nothing was taken from where the links point.
        self.assertNotIn("/etc/shadow", self.rows)
        self.assertFalse(any(n.startswith("files/etc/ssh/up/") for n in self.archive.namelist()))

    def test_awkward_names_escaped_reversibly(self):
        self.assertEqual(self.archive.read("files/etc/ssh/name%0Awith line feed"), b"line feed\n")
        self.assertEqual(self.archive.read("files/etc/ssh/bad%FF%FEname"), b"not utf-8\n")
        self.assertEqual(self.archive.read("files/etc/ssh/100%25"), b"percent\n")
        self.assertIn("/etc/ssh/bad%FF%FEname", self.rows)
        for info in self.archive.infolist():
            self.assertTrue(info.flag_bits & 0x800 or info.filename.isascii(), info.filename)

    def test_growing_file_archived_as_consistent_prefix(self):
        row = self.rows["/var/log/grow.log"]
        data = self.archive.read("files/var/log/grow.log")
        with open(os.path.join(self.root, "var/log/grow.log"), "rb") as f:
            final = f.read()
        self.assertTrue(final.startswith(data))
        self.assertEqual(int(row["size"]), len(data))
        self.assertEqual(row["sha256"], hashlib.sha256(data).hexdigest())

    def test_empty_and_missing_items_logged(self):
        log = self.archive.read("collection.log").decode("utf-8")
        self.assertRegex(log, r"\d+\. Sudoers: started \d{4}-.*\n   Sudoers: 1 path, 0 bytes\n")
        self.assertIn("not present: /etc/sudoers\n", log)
        self.assertRegex(log, r"Shell histories: skipped, nothing found")
        for key in ("started: ", "finished: ", "tarnhollow ", "owner: 4321:8765", "manifest sha256: ",
                    "running system: Linux", "full disk access: not applicable"):
            self.assertIn(key, log)
        # What ends soonest comes first: /proc before the files on disk.
        order = [name for name, _, _ in PROGRESS.findall(self.output.decode())]
        self.assertLess(order.index("Process list"), order.index("System logs"))
        manifest_sha = hashlib.sha256(self.archive.read("manifest.tsv")).hexdigest()
        self.assertIn("manifest sha256: " + manifest_sha, log)

    def test_temporary_folders_listed_without_content(self):
        listing = self.archive.read("listings/tmp.tsv").decode("utf-8")
        self.assertIn("/tmp/sub/left-behind\tfile\t100\t", listing)
        self.assertIn("/tmp/pipe\tfifo\t", listing)
        self.assertFalse(any(n.startswith("files/tmp/") for n in self.archive.namelist()))
        self.assertEqual(self.rows["/tmp"]["type"], "listing")


def mount_tmpfs(path, options):
    result = subprocess.run(["mount", "-t", "tmpfs", "-o", options, "tmpfs", path], capture_output=True)
    return result.returncode == 0


class FreshFolders(unittest.TestCase):
    """A fake root with /etc/hostname and /var/log, and an empty output folder."""

    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="collector-case-")
        self.root = os.path.join(self.work, "root")
        self.out = os.path.join(self.work, "out")
        os.makedirs(os.path.join(self.root, "etc"))
        os.makedirs(os.path.join(self.root, "var/log"))
        os.makedirs(self.out)
        with open(os.path.join(self.root, "etc/hostname"), "w") as f:
            f.write("fake\n")
        self.mounted = False

    def tearDown(self):
        if self.mounted:
            subprocess.run(["umount", self.out], capture_output=True)
        shutil.rmtree(self.work, ignore_errors=True)


class Failures(FreshFolders):
    """Each failure names its cause and path in Japanese and leaves no archive."""

    def incompressible(self, size):
        with open(os.path.join(self.root, "var/log/random.bin"), "wb") as f:
            f.write(os.urandom(size))

    def assertFailed(self, status, raw, words):
        self.assertNotEqual(status, 0)
        line = last_line(raw)
        self.assertIn(self.out, line)
        self.assertIn(words, line)
        self.assertTrue(line.endswith("。"), line)
        self.assertFalse([n for n in os.listdir(self.out) if n.endswith(".zip")])

    def test_read_only_output_folder(self):
        if not mount_tmpfs(self.out, "ro,size=1m"):
            self.skipTest("cannot mount a read-only tmpfs here")
        self.mounted = True
        status, raw = run_tool(self.out, self.root)
        self.assertFailed(status, raw, "書き込めない")

    def test_disk_full(self):
        if not mount_tmpfs(self.out, "size=256k"):
            self.skipTest("cannot mount a small tmpfs here")
        self.mounted = True
        self.incompressible(2 << 20)
        status, raw = run_tool(self.out, self.root)
        self.assertFailed(status, raw, "いっぱい")
        self.assertEqual(os.listdir(self.out), [])

    def test_file_larger_than_the_output_allows(self):
        self.incompressible(1 << 20)
        limit = lambda: resource.setrlimit(resource.RLIMIT_FSIZE, (256 << 10, 256 << 10))
        status, raw = run_tool(self.out, self.root, preexec=limit)
        self.assertFailed(status, raw, "大きさ")
        self.assertEqual(os.listdir(self.out), [])

    def test_missing_output_folder(self):
        shutil.rmtree(self.out)
        status, raw = run_tool(self.out, self.root)
        self.assertNotEqual(status, 0)
        self.assertIn(self.out, last_line(raw))
        self.assertIn("見つからない", last_line(raw))


class Edges(FreshFolders):
    def only_zip(self):
        zips = [n for n in os.listdir(self.out) if n.endswith(".zip")]
        self.assertEqual(len(zips), 1)
        return os.path.join(self.out, zips[0])

    def test_unreadable_file_skipped_and_logged(self):
        secret = os.path.join(self.root, "etc/shadow")
        with open(secret, "w") as f:
            f.write("secret\n")
        os.chown(secret, 12345, 12345)
        os.chmod(secret, 0)
        # As root every file is readable; without the capabilities that
        # bypass permissions, this one is not.
        drop = ["setpriv", "--bounding-set=-dac_override,-dac_read_search", "--inh-caps=-all", "--"]
        if subprocess.run(drop + ["true"], capture_output=True).returncode != 0:
            self.skipTest("setpriv cannot drop capabilities here")
        status, raw = run_tool(self.out, self.root, wrapper=drop)
        self.assertEqual(status, 0, raw)
        with zipfile.ZipFile(self.only_zip()) as archive:
            self.assertNotIn("files/etc/shadow", archive.namelist())
            self.assertEqual(archive.read("files/etc/hostname"), b"fake\n")
            log = archive.read("collection.log").decode()
            self.assertRegex(log, r"/etc/shadow: unreadable: Permission denied")
            self.assertEqual(log.count("/etc/shadow"), 1, log)
        self.assertIn("/etc/shadow", raw.decode())

    def test_owner_left_to_root_when_ids_are_bad(self):
        for env in ({}, {"SUDO_UID": "12a", "SUDO_GID": "5"}, {"SUDO_UID": "-1", "SUDO_GID": "-1"},
                    {"SUDO_UID": "4294967295", "SUDO_GID": "1"}):
            with self.subTest(env=env):
                status, raw = run_tool(self.out, self.root, env_extra=env, keep_env=False)
                self.assertEqual(status, 0, raw)
                path = self.only_zip()
                self.assertEqual((os.stat(path).st_uid, os.stat(path).st_gid), (0, 0))
                with zipfile.ZipFile(path) as archive:
                    self.assertIn("the archive stays with root", archive.read("collection.log").decode())
                os.unlink(path)

    def test_output_folder_inside_a_collected_folder(self):
        # The archive being written must not be collected; the folder's other files are.
        self.out = os.path.join(self.root, "var/log/evidence")
        os.makedirs(self.out)
        with open(os.path.join(self.out, "note.txt"), "w") as f:
            f.write("was here before\n")
        status, raw = run_tool(self.out, self.root)
        self.assertEqual(status, 0, raw)
        with zipfile.ZipFile(self.only_zip()) as archive:
            names = archive.namelist()
            self.assertIn("files/var/log/evidence/note.txt", names)
            self.assertFalse([n for n in names if ".zip" in n], names)

    def test_never_overwrites_an_existing_archive(self):
        host = re.sub(r"[^A-Za-z0-9._-]", "_", socket.gethostname()).lstrip(".")[:64] or "host"
        now = int(time.time())
        taken = []
        for t in range(now, now + 10):
            name = os.path.join(self.out, host + "-" + time.strftime("%Y%m%dT%H%M%SZ", time.gmtime(t)) + ".zip")
            with open(name, "w") as f:
                f.write("keep me")
            os.utime(name, (now - 100, now - 100))
            taken.append(name)
        status, raw = run_tool(self.out, self.root)
        self.assertEqual(status, 0, raw)
        for name in taken:
            with open(name) as f:
                self.assertEqual(f.read(), "keep me")
        new = sorted(n for n in os.listdir(self.out) if os.path.join(self.out, n) not in taken)
        self.assertEqual(len(new), 2, new)
        self.assertRegex(new[0], r"-2\.zip$")
        self.assertEqual(new[1], new[0] + ".sha256")


@contextlib.contextmanager
def throwaway_user():
    """A second local account, as an attacker on the same machine has one."""
    name = "th-mallory-%d" % os.getpid()
    subprocess.run(["useradd", "-M", "-U", "-s", "/usr/sbin/nologin", name], check=True, capture_output=True)
    try:
        yield pwd.getpwnam(name)
    finally:
        subprocess.run(["userdel", name], capture_output=True)
        subprocess.run(["groupdel", name], capture_output=True)


def as_user(user, code, *args):
    def drop():
        os.setgroups([])
        os.setgid(user.pw_gid)
        os.setuid(user.pw_uid)
    python = "/usr/bin/python3" if os.path.exists("/usr/bin/python3") else sys.executable
    subprocess.run([python, "-c", code] + [str(a) for a in args], check=True, preexec_fn=drop)


PLANT = """
import os, socket, sys, time
out, victim, absent, host = sys.argv[1:5]
now = int(time.time())
for t in range(now - 2, now + 20):
    stamp = time.strftime("%Y%m%dT%H%M%SZ", time.gmtime(t))
    for i in range(1, 1002):
        base = os.path.join(out, host + "-" + stamp + ("-%d" % i if i > 1 else ""))
        os.symlink(victim, base + ".zip")
        if i <= 20:
            os.symlink(victim, base + ".zip.part")
            os.symlink(absent, base + ".zip.sha256")
"""


class AnotherLocalUser(FreshFolders):
    """What a second account can plant in a shared output folder steers nothing root does."""

    def test_planted_links_named_like_the_archive(self):
        host = re.sub(r"[^A-Za-z0-9._-]", "_", socket.gethostname()).lstrip(".")[:64] or "host"
        os.chmod(self.work, 0o755)
        with throwaway_user() as mallory:
            for mode in (0o1777, 0o777):  # a sticky team folder, and a plainly shared one
                with self.subTest(mode=oct(mode)):
                    out = os.path.join(self.work, "shared-%o" % mode)
                    os.mkdir(out)
                    os.chmod(out, mode)
                    victim = os.path.join(self.work, "victim-%o" % mode)
                    with open(victim, "wb") as f:
                        f.write(b"root's own file\n")
                    os.chmod(victim, 0o600)
                    before = os.stat(victim)
                    absent = os.path.join(self.work, "created-by-root-%o" % mode)
                    as_user(mallory, PLANT, out, victim, absent, host)
                    status, raw = run_tool(out, self.root)
                    self.assertEqual(status, 0, raw)
                    after = os.stat(victim)
                    with open(victim, "rb") as f:
                        self.assertEqual(f.read(), b"root's own file\n")
                    self.assertEqual((after.st_uid, after.st_gid, after.st_mode, after.st_mtime_ns, after.st_size),
                                     (before.st_uid, before.st_gid, before.st_mode, before.st_mtime_ns, before.st_size))
                    self.assertFalse(os.path.lexists(absent))
                    ours = [n for n in os.listdir(out) if not os.path.islink(os.path.join(out, n))]
                    self.assertEqual(len(ours), 2, ours)
                    archive = min(ours, key=len)
                    self.assertRegex(archive, r"-[0-9a-f]{12}\.zip$")  # past every guessable name
                    for name in ours:
                        st = os.lstat(os.path.join(out, name))
                        self.assertTrue(stat.S_ISREG(st.st_mode))
                        self.assertEqual((st.st_uid, st.st_gid, stat.S_IMODE(st.st_mode)), OWNER + (0o600,))
                    self.assertTrue(all(os.readlink(os.path.join(out, n)) in (victim, absent)
                                        for n in os.listdir(out) if n not in ours))

    def test_medium_without_owners_is_noted(self):
        image = os.path.join(self.work, "fat.img")
        with open(image, "wb") as f:
            f.truncate(32 << 20)
        made = subprocess.run(["mkfs.vfat", image], capture_output=True)
        if made.returncode != 0 or subprocess.run(["mount", "-o", "loop", image, self.out],
                                                  capture_output=True).returncode != 0:
            self.skipTest("cannot make and mount a FAT file system here")
        self.mounted = True
        status, raw = run_tool(self.out, self.root)
        self.assertEqual(status, 0, raw)
        self.assertIn("does not keep file owners", raw.decode())
        path = os.path.join(self.out, [n for n in os.listdir(self.out) if n.endswith(".zip")][0])
        with zipfile.ZipFile(path) as archive:
            self.assertIn("instead of the ones set (a file system without Unix ownership",
                          archive.read("collection.log").decode())



def write_file(path, data=b"", size=None):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)
        if size is not None:
            f.truncate(size)


class HostileTree(unittest.TestCase):
    """A home folder filled to stop, stall or bloat the run; the run completes and notes every cut."""

    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix="collector-hostile-")
        cls.root = os.path.join(cls.work, "root")
        cls.out = os.path.join(cls.work, "out")
        os.makedirs(cls.out)
        home = os.path.join(cls.root, "home/mallory")
        write_file(os.path.join(cls.root, "etc/hostname"), b"fake\n")
        # Folder names of 255 bytes, 40 deep: far beyond any path a zip member can hold.
        deep = os.path.join(home, ".ssh")
        os.makedirs(deep)
        fd = os.open(deep, os.O_RDONLY)
        for _ in range(40):
            os.mkdir("n" * 255, dir_fd=fd)
            fd2 = os.open("n" * 255, os.O_RDONLY, dir_fd=fd)
            os.close(fd)
            fd = fd2
        os.close(fd)
        os.makedirs(os.path.join(home, ".ssh/deep/" + "/".join(["d"] * 40)))
        write_file(os.path.join(home, ".ssh", "\udcff" * 200), b"long name\n")
        for i in range(3000):
            os.makedirs(os.path.join(home, ".ssh/wide/e%d" % i))
        for i in range(20000):
            if i % 1000 == 0:
                os.makedirs(os.path.join(home, ".ssh/many/%d" % i))
            write_file(os.path.join(home, ".ssh/many/%d/%d" % (i - i % 1000, i)), b"k%d\n" % i)
        write_file(os.path.join(home, ".bash_history"), size=20 << 30)
        with open(os.path.join(home, ".zsh_history"), "wb") as f:
            f.truncate(3 << 30)
            f.seek(1 << 30)
            f.write(b"hello")
        before = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss
        cls.status, cls.output = run_tool(cls.out, cls.root)
        cls.peak_kib = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss
        cls.peak_known = cls.peak_kib > before
        cls.path = os.path.join(cls.out, [n for n in os.listdir(cls.out) if n.endswith(".zip")][0])
        cls.archive = zipfile.ZipFile(cls.path)
        cls.manifest = read_manifest(cls.archive)
        cls.rows = {row["path"]: row for row in cls.manifest}
        cls.log = cls.archive.read("collection.log").decode()

    @classmethod
    def tearDownClass(cls):
        cls.archive.close()
        shutil.rmtree(cls.work, ignore_errors=True)

    def test_completes_with_a_readable_archive(self):
        self.assertEqual(self.status, 0, last_line(self.output))
        check = subprocess.run(["unzip", "-tq", self.path], capture_output=True)
        self.assertEqual(check.returncode, 0, check.stdout[-2000:])
        self.assertTrue(all(len(n) <= 1100 for n in self.archive.namelist()))
        self.assertIn("/home/mallory/.ssh/many/19000/19999", self.rows)

    def test_memory_stays_flat(self):
        with open(TOOL, "rb") as f:
            if b"__asan_init" in f.read():
                self.skipTest("the sanitizers' own memory would be counted")
        if self.peak_known:
            self.assertLess(self.peak_kib, 64 << 10)

    def test_cuts_noted_in_manifest_and_log(self):
        cuts = [row for row in self.manifest if row["type"] == "cut"]
        for words in ("more than 32 folder levels", "longer than 4096 bytes"):
            with self.subTest(words=words):
                self.assertTrue([row for row in cuts if words in row["note"]], cuts[:3])
                self.assertIn(words, self.log)

    def test_long_member_name_stored_under_a_hash(self):
        path = "/home/mallory/.ssh/" + "%FF" * 200
        row = self.rows[path]
        self.assertRegex(row["entry"], r"^long-names/[0-9a-f]{64}$")
        self.assertEqual(self.archive.read(row["entry"]), b"long name\n")

    def test_sparse_files_read_without_their_holes(self):
        empty = self.rows["/home/mallory/.bash_history"]
        self.assertEqual(empty["size"], "0")
        self.assertIn("sparse: 21474836480 bytes of holes left out", empty["note"])
        row = self.rows["/home/mallory/.zsh_history"]
        data = self.archive.read(row["entry"])
        self.assertTrue(data.startswith(b"hello"))
        self.assertLess(len(data), 1 << 20)
        self.assertIn("at offset+length 1073741824+%d" % len(data), row["note"])

    def test_timeline_and_times_recorded(self):
        st = os.lstat(os.path.join(self.root, "etc/hostname"))
        row = self.rows["/etc/hostname"]
        self.assertEqual(int(row["inode"]), st.st_ino)
        self.assertTrue(row["atime"].startswith(time.strftime("%Y-%m-%dT%H:%M:%S", time.gmtime(st.st_atime))))
        lines = self.archive.read("timeline.body").decode().splitlines()
        fields = [line.split("|") for line in lines]
        self.assertTrue(all(len(f) == 11 and f[0] == "0" for f in fields))
        hostname = [f for f in fields if f[1] == "/etc/hostname"][0]
        self.assertEqual([int(x) for x in hostname[2:3] + hostname[7:10]],
                         [st.st_ino, int(st.st_atime), int(st.st_mtime), int(st.st_ctime)])
        self.assertEqual(hostname[3], "r/rrw-r--r--")


class VanishingProcesses(FreshFolders):
    def test_ended_processes_are_not_archived_empty(self):
        os.makedirs(os.path.join(self.root, "proc"))
        if subprocess.run(["mount", "--bind", "/proc", os.path.join(self.root, "proc")],
                          capture_output=True).returncode != 0:
            self.skipTest("cannot bind /proc here")
        churn = subprocess.Popen(["/bin/sh", "-c", "while :; do /bin/true & /bin/true & wait; done"])
        try:
            status, raw = run_tool(self.out, self.root)
        finally:
            churn.kill()
            churn.wait()
            subprocess.run(["umount", "-l", os.path.join(self.root, "proc")], capture_output=True)
        self.assertEqual(status, 0, raw)
        path = os.path.join(self.out, [n for n in os.listdir(self.out) if n.endswith(".zip")][0])
        with zipfile.ZipFile(path) as archive:
            rows = read_manifest(archive)
        status_rows = [r for r in rows if re.fullmatch(r"/proc/\d+/status", r["path"])]
        self.assertGreater(len(status_rows), 3)
        for row in status_rows:
            if row["entry"] == "-":
                self.assertEqual(row["note"], "vanished before it was read")
            else:
                self.assertNotEqual(row["size"], "0", row)


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--tool", required=True)
    args, rest = parser.parse_known_args()
    TOOL = os.path.abspath(args.tool)
    if os.geteuid() != 0:
        print("SKIPPED: the collector tool's tests need root")
        sys.exit(0)
    unittest.main(argv=[sys.argv[0]] + rest)
