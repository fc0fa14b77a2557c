#!/usr/bin/env python3
"""Runs the collector tool against fake root folders and checks what it
leaves behind with independent readers (zipfile, unzip, sha256sum)."""

import argparse
import hashlib
import os
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
        cls.leftovers = sorted(set(os.listdir(cls.out)) - set(zips))
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
        self.assertTrue(all(n.startswith(("files/", "listings/", "manifest.tsv", "collection.log")) for n in names))
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
        self.assertRegex(log, r"\d+\. Sudoers: 1 path\n")
        self.assertIn("not present: /etc/sudoers\n", log)
        self.assertRegex(log, r"\d+\. Shell histories: skipped, nothing found")
        for key in ("started: ", "finished: ", "tarnhollow ", "owner: 4321:8765", "manifest sha256: "):
            self.assertIn(key, log)
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
            self.assertRegex(archive.read("collection.log").decode(), r"/etc/shadow: unreadable: Permission denied")
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
        new = [n for n in os.listdir(self.out) if os.path.join(self.out, n) not in taken]
        self.assertEqual(len(new), 1)
        self.assertRegex(new[0], r"-2\.zip$")


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--tool", required=True)
    args, rest = parser.parse_known_args()
    TOOL = os.path.abspath(args.tool)
    if os.geteuid() != 0:
        print("SKIPPED: the collector tool's tests need root")
        sys.exit(0)
    unittest.main(argv=[sys.argv[0]] + rest)
