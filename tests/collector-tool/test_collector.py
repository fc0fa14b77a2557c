#!/usr/bin/env python3
# Runs the collector tool against fake root folders and checks what it
# leaves behind with independent readers (zipfile, unzip, sha256sum).

import hashlib, inspect, os, pathlib, pwd, random, re, resource, shutil, socket, stat, subprocess, sys, tempfile, time
import unittest, zipfile

TOOL = None
OWNER = (4321, 8765)
OLD_MTIME = 1614834368  # 2021-03-04T05:06:08Z, an even second the zip's time field holds exactly
HOST = re.sub(r"[^A-Za-z0-9._-]", "_", socket.gethostname()).lstrip(".")[:64] or "host"


def run_tool(out, root, env=None, wrapper=(), preexec=None, args=()):
    full = {k: v for k, v in os.environ.items() if k not in ("SUDO_UID", "SUDO_GID")}
    full.update({"SUDO_UID": str(OWNER[0]), "SUDO_GID": str(OWNER[1])} if env is None else env)
    # Both streams share one file, as in the application.
    proc = subprocess.run(list(wrapper) + [TOOL, "-o", out, "--root", root, *args], stdin=subprocess.DEVNULL,
                          stdout=subprocess.PIPE, stderr=subprocess.STDOUT, env=full, timeout=120, preexec_fn=preexec)
    return proc.returncode, proc.stdout

# A disk that fails under two log files, as a bad sector would: reads end in
# EIO from a given offset on. Served through FUSE by Debian's python3.
FAILING = {"large.log": (40000, 700000), "small.log": (6000, 100000)}  # lines, the first bad byte


def lines(count):
    return b"".join(b"%07d kernel: a line of the log\n" % i for i in range(count))


FAILING_DISK = """
import errno, stat, sys, fusepy
files = {"/" + name: (lines(count), bad) for name, (count, bad) in FAILING.items()}
class Failing(fusepy.Operations):
    def getattr(self, path, fh=None):
        if path == "/":
            return {"st_mode": stat.S_IFDIR | 0o755, "st_nlink": 2}
        if path not in files:
            raise fusepy.FuseOSError(errno.ENOENT)
        return {"st_mode": stat.S_IFREG | 0o644, "st_nlink": 1, "st_size": len(files[path][0])}
    def readdir(self, path, fh):
        return [".", ".."] + [name[1:] for name in files]
    def read(self, path, size, offset, fh):
        data, bad = files[path]
        if offset + size > bad:
            raise fusepy.FuseOSError(errno.EIO)
        return data[offset:offset + size]
fusepy.FUSE(Failing(), sys.argv[1], foreground=True, ro=True, direct_io=True)
"""


def zips(out):
    return [os.path.join(out, n) for n in os.listdir(out) if n.endswith(".zip")]


def open_run(path):
    archive = zipfile.ZipFile(path)
    lines = archive.read("manifest.tsv").decode().rstrip("\n").split("\n")
    rows = {r["path"]: r for r in (dict(zip(lines[0].split("\t"), l.split("\t"))) for l in lines[1:])}
    return archive, rows, archive.read("collection.log").decode()


def write(path, data=b"", mode=0o644, size=None):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    pathlib.Path(path).write_bytes(data)
    os.truncate(path, len(data) if size is None else size)
    os.chmod(path, mode)
    return path


@unittest.skipUnless(os.geteuid() == 0, "runs the collector as root, as the app does")
class Folders(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="collector-")
        self.root, self.out = os.path.join(self.work, "root"), os.path.join(self.work, "out")
        write(os.path.join(self.root, "etc/hostname"), b"fake\n")
        os.makedirs(self.out)
        self.mounts = []

    def tearDown(self):
        for path in self.mounts:
            subprocess.run(["umount", "-l", path], capture_output=True)
        shutil.rmtree(self.work, ignore_errors=True)

    def mount(self, args, path):
        if subprocess.run(["mount"] + args + [path], capture_output=True).returncode == 0:
            return self.mounts.append(path) or True
        self.skipTest("cannot mount here")


class FullRun(Folders):
    # One run against a tree of awkward files, checked from many sides.

    def test_awkward_tree(self):
        r = self.root
        os.utime(write(r + "/etc/passwd", b"root:x:0:0::/root:/bin/bash\n"), (OLD_MTIME, OLD_MTIME))
        write(r + "/etc/os-release", b'NAME=Fake\nPRETTY_NAME="Fake Linux 12"\n')
        write(r + "/etc/ssh/sshd_config", b"PermitRootLogin no\n", 0o600)
        os.mkfifo(r + "/etc/ssh/fifo")
        with socket.socket(socket.AF_UNIX) as sock:
            sock.bind(r + "/etc/ssh/sock")
        os.mknod(r + "/etc/ssh/zero", stat.S_IFCHR | 0o666, os.makedev(1, 5))  # reading it never ends
        links = {"loop-a": "loop-b", "loop-b": "loop-a", "outside": "/etc/shadow", "up": "../.."}
        [os.symlink(target, r + "/etc/ssh/" + name) for name, target in links.items()]
        odd = {"name\nwith line feed": "name%0Awith line feed", b"bad\xff\xfe".decode("utf-8", "surrogateescape"):
               "bad%FF%FE", "100%": "100%25"}
        [write(r + "/etc/ssh/" + name, name.encode("utf-8", "surrogateescape")) for name in odd]
        os.makedirs(r + "/etc/sudoers.d")
        write(r + "/etc/ssh/suid", b"#!/bin/sh\n", 0o4755)
        write(r + "/etc/ssh/sticky", b"x", 0o3640)
        os.chown(write(r + "/etc/ssh/Collecting 収集は完了 (34/34)", b"", 0), 12345, 12345)  # printed as not collected
        os.makedirs(r + "/var/log")
        write(r + "/etc/ssh/hl-a", b"linked\n" * 1000)  # one inode under two names, in two items
        os.link(r + "/etc/ssh/hl-a", r + "/var/log/hl-c")
        with open(r + "/var/log/lastlog", "wb") as f:  # twelve records far apart: thirteen holes
            [(f.seek(uid * 292), f.write(b"\1" + b"user%d" % uid)) for uid in range(1000, 2200, 100)]
            f.truncate(3 << 20)
        os.chown(write(r + "/etc/shadow", b"secret\n", 0), 12345, 12345)
        write(r + "/var/log/syslog", b"Dec  6 08:00:00 fakehost kernel: hello\n" * 20000)
        write(r + "/tmp/sub/left-behind", b"x" * 100)
        os.mkfifo(r + "/tmp/pipe")
        grow = write(r + "/var/log/grow.log", b"start\n")
        grower = subprocess.Popen(["/bin/sh", "-c", 'while :; do echo more data as it is read; done >> "$0"', grow])
        try:
            # Root reads every file; without the capabilities that bypass permissions it does not.
            status, raw = run_tool(self.out, r, wrapper=["setpriv", "--bounding-set=-dac_override,-dac_read_search",
                                                          "--inh-caps=-all", "--"])
        finally:
            grower.kill()
            grower.wait()
        self.assertEqual(status, 0, raw)
        self.assertRegex(" ".join(sorted(os.listdir(self.out))), r"^([A-Za-z0-9._-]+-\d{8}T\d{6}Z\.zip) \1\.sha256$")
        path = zips(self.out)[0]
        owners = [(s.st_uid, s.st_gid, stat.S_IMODE(s.st_mode)) for s in map(os.stat, (path, path + ".sha256"))]
        self.assertEqual(owners, [OWNER + (0o600,)] * 2)
        extracted = self.work + "/x"
        for check in (["sha256sum", "-c", path + ".sha256"], ["unzip", "-tq", path], ["7z", "t", path],
                      ["7z", "x", "-o" + extracted, path], ["sh", "-c", 'bsdtar -tf - < "$0" > /dev/null', path]):
            self.assertEqual(subprocess.run(check, cwd=self.out, capture_output=True).returncode, 0, check)
        self.assertFalse([p for p in pathlib.Path(extracted).rglob("*") if p.is_symlink()])

        text = raw.decode("utf-8")  # raises on any invalid byte
        self.assertRegex(text.strip().split("\n")[-1], "^Archive written: " + re.escape(path) + r" \(2 paths skipped")
        progress = re.findall(r"Collecting (.+) \((\d+)/(\d+)\)", text)
        count = len(progress)
        self.assertEqual([(int(n), int(m)) for _, n, m in progress], [(i, count) for i in range(1, count + 1)])
        order = [name for name, _, _ in progress]  # what ends soonest first
        self.assertLess(order.index("Process list"), order.index("System logs"))

        archive, rows, log = open_run(path)
        names = archive.namelist()
        self.assertEqual(len(names), len(set(names)))  # a path met by two items is taken once
        self.assertIn("Login records: 1 path", log)  # /var/log/lastlog, before System logs meets it
        self.assertTrue(all(n.startswith(("files/", "listings/", "manifest.tsv", "collection.log", "timeline.body"))
                            and ".." not in n.split("/") for n in names), names)
        self.assertTrue(all(i.flag_bits & 0x800 or i.filename.isascii() for i in archive.infolist()))
        hashed = [row for row in rows.values() if row["sha256"] != "-" and row["entry"] != "-"]
        self.assertGreater(len(hashed), 5)
        self.assertEqual([(len(d), hashlib.sha256(d).hexdigest()) for d in (archive.read(x["entry"]) for x in hashed)],
                         [(int(row["size"]), row["sha256"]) for row in hashed])
        row, info = rows["/etc/passwd"], archive.getinfo("files/etc/passwd")
        self.assertEqual((row["mtime"], row["mode"], row["uid"], row["gid"]),
                         ("2021-03-04T05:06:08.000000000Z", "0644", "0", "0"))
        self.assertEqual((info.date_time, info.external_attr >> 16), (time.localtime(OLD_MTIME)[:6], 0o100644))
        for name, kind in (("fifo", "fifo"), ("sock", "socket"), ("zero", "char-device")):
            self.assertEqual([rows["/etc/ssh/" + name][k] for k in ("type", "entry", "note")], [kind, "-", "not read"])
        for name, target in links.items():  # plain members holding the target, never live links
            entry, row = "files/etc/ssh/" + name, rows["/etc/ssh/" + name]
            self.assertEqual((archive.read(entry), archive.getinfo(entry).external_attr >> 16, row["type"]),
                             (target.encode(), stat.S_IFREG | 0o777, "link"))
        # No setuid, setgid or sticky bit reaches an extractor; the row keeps the mode.
        self.assertEqual([(archive.getinfo("files/etc/ssh/" + n).external_attr >> 16, rows["/etc/ssh/" + n]["mode"])
                          for n in ("suid", "sticky")], [(0o100755, "4755"), (0o100640, "3640")])
        self.assertFalse([i.filename for i in archive.infolist() if i.flag_bits & 8])  # no data descriptors
        self.assertFalse([n for n in names if n.startswith("files/etc/ssh/up/") or "shadow" in n])
        self.assertEqual(re.findall(r"/etc/shadow.*", log), ["/etc/shadow: unreadable: Permission denied"])
        for name, escaped in odd.items():
            self.assertEqual(archive.read("files/etc/ssh/" + escaped), name.encode("utf-8", "surrogateescape"))
            self.assertIn("/etc/ssh/" + escaped, rows)
        lastlog = pathlib.Path(r + "/var/log/lastlog").read_bytes()  # zeros where the holes are
        self.assertEqual((archive.read("files/var/log/lastlog"), rows["/var/log/lastlog"]["sha256"]),
                         (lastlog, hashlib.sha256(lastlog).hexdigest()))
        linked = [rows[p] for p in ("/etc/ssh/hl-a", "/var/log/hl-c")]
        self.assertEqual(len({(row["entry"], row["sha256"]) for row in linked}), 1)
        self.assertEqual([n for n in names if n.split("/")[-1].startswith("hl-")], [linked[0]["entry"]])
        self.assertEqual(sum("hard link to " in row["note"] for row in linked), 1)
        data = archive.read("files/var/log/grow.log")  # a consistent prefix of the growing file
        self.assertTrue(pathlib.Path(grow).read_bytes().startswith(data))
        self.assertEqual((int(rows["/var/log/grow.log"]["size"]), rows["/var/log/grow.log"]["sha256"]),
                         (len(data), hashlib.sha256(data).hexdigest()))
        listing = archive.read("listings/tmp.tsv").decode()
        self.assertTrue("/tmp/sub/left-behind\tfile\t100\t" in listing and "/tmp/pipe\tfifo\t" in listing, listing)
        self.assertFalse([n for n in names if n.startswith("files/tmp/")])
        self.assertEqual(rows["/tmp"]["type"], "listing")
        for key in ("not present: /etc/sudoers\n", "Shell histories: skipped, nothing found", "owner: 4321:8765",
                    "running system: Linux", "os version: Fake Linux 12 (from the source root)\n",
                    "live commands skipped", "full disk access: not applicable",
                    "manifest sha256: " + hashlib.sha256(archive.read("manifest.tsv")).hexdigest(),
                    "timeline sha256: " + hashlib.sha256(archive.read("timeline.body")).hexdigest()):
            self.assertIn(key, log)
        st, birth = os.lstat(r + "/etc/hostname"), subprocess.check_output(["stat", "-c", "%W", r + "/etc/hostname"])
        body = [line.split("|") for line in archive.read("timeline.body").decode().splitlines()]
        self.assertTrue(all(len(f) == 11 and f[0] == "0" for f in body))
        (host,) = [f for f in body if f[1] == "/etc/hostname"]
        (link,) = [f for f in body if f[1].startswith("/etc/ssh/outside")]
        self.assertEqual(link[1:4:2], ["/etc/ssh/outside -> /etc/shadow", "l/lrwxrwxrwx"])
        self.assertNotIn("\tcut\t", archive.read("manifest.tsv").decode())  # nothing here meets a limit
        self.assertEqual([host[3]] + [int(x) for x in host[2:3] + host[7:11]],
                         ["r/rrw-r--r--", st.st_ino, int(st.st_atime), int(st.st_mtime), int(st.st_ctime), int(birth)])


class OutputFolder(Folders):
    def test_failures_name_cause_and_path_and_leave_nothing(self):
        for what, mount, words in (("read-only", "ro,size=1m", "読み取り専用"), ("disk full", "size=256k", "いっぱい"),
                                   ("missing", None, "見つからない")):
            with self.subTest(what):
                out = self.work + "/" + what
                if what != "missing":
                    os.mkdir(out)
                if mount:
                    self.mount(["-t", "tmpfs", "-o", mount, "tmpfs"], out)
                status, raw = run_tool(out, self.root)
                line = raw.decode().strip().split("\n")[-1]
                self.assertTrue(status != 0 and out in line and words in line and line.endswith("。"), line)
                self.assertTrue(what == "missing" or os.listdir(out) == [])

    def test_owner_left_to_root_when_ids_are_bad(self):
        for ids in ("", "4321", "12a:5", "-1:-1", "4294967295:1"):
            with self.subTest(ids=ids):
                env = dict(zip(("SUDO_UID", "SUDO_GID"), ids.split(":"))) if ids else {}
                self.assertEqual(run_tool(self.out, self.root, env=env)[0], 0)
                (path,) = zips(self.out)
                self.assertEqual((os.stat(path).st_uid, os.stat(path).st_gid), (0, 0))
                self.assertIn("the archive stays with root", open_run(path)[2])
                os.unlink(path)

    def test_inside_a_collected_folder_and_never_overwriting(self):
        self.out = os.path.join(self.root, "var/log/evidence")
        write(self.out + "/note.txt", b"was here before\n")
        now, taken = int(time.time()), []
        for t in range(now, now + 10):
            taken.append(write(time.strftime(self.out + "/" + HOST + "-%Y%m%dT%H%M%SZ.zip", time.gmtime(t)), b"keep"))
        self.assertEqual(run_tool(self.out, self.root)[0], 0)
        self.assertEqual({pathlib.Path(n).read_bytes() for n in taken}, {b"keep"})
        (path,) = set(zips(self.out)) - set(taken)
        self.assertRegex(path, r"-2\.zip$")
        # The archive being written is not collected; the folder's other files are.
        names = {n[23:] for n in open_run(path)[0].namelist() if n.startswith("files/var/log/evidence/")} - {""}
        self.assertEqual(names, {"note.txt"} | {os.path.basename(n) for n in taken})

    def test_medium_without_owners_is_noted(self):
        image = write(self.work + "/fat.img", size=32 << 20)
        if subprocess.run(["mkfs.vfat", image], capture_output=True).returncode != 0:
            self.skipTest("no mkfs.vfat")
        self.mount(["-o", "loop", image], self.out)
        status, raw = run_tool(self.out, self.root)
        self.assertTrue(status == 0 and b"does not keep file owners" in raw, raw)
        self.assertIn("instead of the ones set (a file system without Unix ownership", open_run(zips(self.out)[0])[2])


class OutputFull(Folders):
    # What cannot be written whole is kept in part, never thrown away.

    def fill(self, count):
        return {"/var/log/r%02d.bin" % i: write(self.root + "/var/log/r%02d.bin" % i, os.urandom(1 << 20))
                for i in range(count)}

    def check_archive(self, path):
        self.assertEqual(subprocess.run(["unzip", "-tq", path], capture_output=True).returncode, 0, path)
        archive, rows, log = open_run(path)
        kept = {p: r for p, r in rows.items() if p.startswith("/var/log/r")}
        for row in kept.values():
            self.assertEqual(hashlib.sha256(archive.read(row["entry"])).hexdigest(), row["sha256"])
        return kept, log

    def test_full_medium_keeps_complete_entries(self):
        self.mount(["-t", "tmpfs", "-o", "size=8m", "tmpfs"], self.out)
        self.fill(12)
        status, raw = run_tool(self.out, self.root)
        line = raw.decode().strip().split("\n")[-1]
        (path,) = zips(self.out)
        self.assertTrue(status != 0 and "いっぱい" in line and path in line and line.endswith("。"), line)
        self.assertRegex(path, r"-incomplete\.zip$")
        kept, log = self.check_archive(path)
        self.assertTrue(0 < len(kept) < 12, kept.keys())
        self.assertIn("stopped: the output medium is full", log)

    def test_file_size_limit_goes_on_in_next_archives(self):
        files = self.fill(8)
        write(self.root + "/var/log/big.bin", os.urandom(4 << 20))  # cannot fit any archive
        fsize = lambda: resource.setrlimit(resource.RLIMIT_FSIZE, (3 << 20, 3 << 20))
        status, raw = run_tool(self.out, self.root, preexec=fsize)
        self.assertEqual(status, 0, raw[-2000:])
        parts = sorted(zips(self.out), key=lambda p: int(re.search(r"-part(\d+)\.zip$", p).group(1)))
        self.assertGreater(len(parts), 2)
        taken, logs = {}, []
        for path in parts:
            self.assertEqual(subprocess.run(["sha256sum", "-c", path + ".sha256"], cwd=self.out,
                                            capture_output=True).returncode, 0)
            kept, log = self.check_archive(path)
            taken.update(kept)
            logs.append(log)
        self.assertEqual(sorted(taken), sorted(files))
        self.assertIn("/var/log/big.bin: larger than one archive may be", logs[-1])
        self.assertTrue(all(os.path.basename(p) in logs[-1] for p in parts[:-1]))
        self.assertTrue(all(os.path.basename(p) in raw.decode().strip().split("\n")[-1] for p in parts))

    def test_sidecar_that_does_not_fit_leaves_the_archive(self):
        for inodes in range(4, 16):  # the first count that leaves room for the archive but not its checksum
            out = tempfile.mkdtemp(dir=self.work)
            self.mount(["-t", "tmpfs", "-o", "size=4m,nr_inodes=%d" % inodes, "tmpfs"], out)
            status, raw = run_tool(out, self.root)
            if zips(out):
                break
        self.assertEqual((status, os.listdir(out)), (0, [os.path.basename(zips(out)[0])]))
        self.assertIn(b"could not be written", raw)
        self.check_archive(zips(out)[0])


PLANT = """
import os, sys, time
out, victim, absent, host = sys.argv[1:5]
# Every guessable name of the next ten minutes: a loaded machine may take
# long to start the collector, and a late start must not find a free one.
for t in range(int(time.time()) - 2, int(time.time()) + 600):
    for i in range(1, 21):
        base = os.path.join(out, host + time.strftime("-%Y%m%dT%H%M%SZ", time.gmtime(t)) + ("-%d" % i if i > 1 else ""))
        for suffix, target in ((".zip", victim), (".zip.part", victim), (".zip.sha256", absent)):
            os.symlink(target, base + suffix)
"""


class AnotherLocalUser(Folders):
    # What a second account plants in a shared output folder steers nothing root does.

    def test_planted_links_named_like_the_archive(self):
        name = "th-mallory-%d" % os.getpid()
        subprocess.run(["useradd", "-M", "-U", "-s", "/usr/sbin/nologin", name], check=True, capture_output=True)
        self.addCleanup(subprocess.run, ["groupdel", name], capture_output=True)
        self.addCleanup(subprocess.run, ["userdel", name], capture_output=True)
        user = pwd.getpwnam(name)
        os.chmod(self.work, 0o755)
        for mode in (0o1777, 0o777):  # a sticky team folder, and a plainly shared one
            with self.subTest(mode=oct(mode)):
                out, absent = self.work + "/shared-%o" % mode, self.work + "/created-by-root-%o" % mode
                os.mkdir(out)
                os.chmod(out, mode)
                victim = write(self.work + "/victim-%o" % mode, b"root's own file\n", 0o600)
                before = os.stat(victim)
                drop = lambda: (os.setgroups([]), os.setgid(user.pw_gid), os.setuid(user.pw_uid))
                subprocess.run(["/usr/bin/python3", "-c", PLANT, out, victim, absent, HOST], check=True,
                               preexec_fn=drop)
                self.assertEqual(run_tool(out, self.root)[0], 0)
                self.assertEqual(os.stat(victim), before)
                self.assertEqual(pathlib.Path(victim).read_bytes(), b"root's own file\n")
                self.assertFalse(os.path.lexists(absent))
                ours = sorted(n for n in os.listdir(out) if not os.path.islink(os.path.join(out, n)))
                self.assertEqual(len(ours), 2, ours)
                self.assertRegex(ours[0], r"-[0-9a-f]{12}\.zip$")  # past every guessable name
                self.assertEqual([(st.st_mode, st.st_uid, st.st_gid) for st in (os.lstat(out + "/" + n) for n in ours)],
                                 [(stat.S_IFREG | 0o600,) + OWNER] * 2)
                self.assertTrue(all(os.readlink(os.path.join(out, n)) in (victim, absent)
                                    for n in os.listdir(out) if n not in ours))


class HostileTree(Folders):
    # A home folder filled to stop, stall or bloat the run: it completes and notes every cut.

    def test_hostile_home(self):
        home = self.root + "/home/mallory"
        os.makedirs(home + "/.ssh/deep/" + "/".join(["d"] * 40))
        fd = os.open(home + "/.ssh", os.O_RDONLY)
        for _ in range(40):  # 255-byte names, far beyond any path a zip member holds
            os.mkdir("n" * 255, dir_fd=fd)
            fd, old = os.open("n" * 255, os.O_RDONLY, dir_fd=fd), fd
            os.close(old)
        os.close(fd)
        write(home + "/.ssh/" + "\udcff" * 200, b"long name\n")
        for i in range(20000):
            write(home + "/.ssh/many/%d/%d" % (i - i % 1000, i), b"k%d\n" % i)
        write(home + "/.bash_history", size=20 << 30)
        with open(write(home + "/.zsh_history", size=64 << 20), "r+b") as f:
            f.seek(32 << 20)
            f.write(b"hello")
        os.makedirs(self.root + "/proc")
        proc = subprocess.run(["mount", "--bind", "/proc", self.root + "/proc"]).returncode == 0
        self.mounts += [self.root + "/proc"] * proc
        churn = subprocess.Popen(["/bin/sh", "-c", "while :; do /bin/true & /bin/true & wait; done"])
        sharing = [subprocess.Popen([sys.executable, "-c", "import time; time.sleep(60)", "x" * 65536])
                   for _ in range(4)]  # one long command line, four processes
        before = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss
        status, raw = run_tool(self.out, self.root)
        peak = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss
        for process in [churn] + sharing:
            process.kill()
            process.wait()
        self.assertEqual(status, 0, raw[-2000:])
        if peak > before and b"__asan_init" not in pathlib.Path(TOOL).read_bytes():  # a sanitizer's memory counts
            self.assertLess(peak, 64 << 10)
        (path,) = zips(self.out)
        self.assertEqual(subprocess.run(["unzip", "-tq", path], capture_output=True).returncode, 0)
        archive, rows, log = open_run(path)
        self.assertTrue(all(len(n) <= 1100 for n in archive.namelist()))
        self.assertIn("/home/mallory/.ssh/many/19000/19999", rows)
        manifest = archive.read("manifest.tsv").decode()  # a cut folder has a row of its own too
        for words in ("more than 32 folder levels", "longer than 4096 bytes"):
            self.assertTrue(re.search("\tcut\t.*" + words, manifest) and words in log, words)
        self.assertFalse([p for p in rows if p.count("/d") > 32], "taken from below the cut")
        row = rows["/home/mallory/.ssh/" + "%FF" * 200]
        self.assertRegex(row["entry"], r"^long-names/[0-9a-f]{64}$")
        self.assertEqual(archive.read(row["entry"]), b"long name\n")
        huge, row = rows["/home/mallory/.bash_history"], rows["/home/mallory/.zsh_history"]
        self.assertEqual(huge["size"], str(1 << 30))  # its logical content, cut at the per-file cap
        self.assertIn("cut at 1073741824 bytes by the per-file cap", huge["note"])
        data = archive.read(row["entry"])
        self.assertEqual((len(data), data[32 << 20:(32 << 20) + 6], row["sha256"]),
                         (64 << 20, b"hello\0", hashlib.sha256(data).hexdigest()))
        shared = [rows["/proc/%d/cmdline" % p.pid] for p in sharing] if proc else []
        self.assertEqual(len({(row["entry"], row["sha256"]) for row in shared}), min(len(shared), 1))
        self.assertEqual(sum("same content as /proc/" in row["note"] for row in shared), len(shared[1:]))
        status = [r for p, r in rows.items() if re.fullmatch(r"/proc/\d+/status", p)]  # ended processes
        self.assertGreater(len(status), 3 * proc)
        for row in status:
            self.assertTrue(row["note"] == "vanished before it was read" if row["entry"] == "-" else row["size"] != "0")

    def test_one_worker_or_many_lay_down_the_same_archive(self):
        r = self.root
        for i in range(300):  # small files read ahead, among folders and a link
            write(r + "/var/log/app/%d/%d.log" % (i // 50, i), b"line %d of a log\n" % i * (i % 40 + 1))
        os.symlink("0.log", r + "/var/log/app/0/link")
        write(r + "/var/log/big.log", b"".join(b"%d session opened for user u%d\n" % (i, i % 97) for i in range(99999)))
        write(r + "/var/log/random.bin", random.Random(1).randbytes(600000))
        for path in pathlib.Path(r).rglob("*"):  # access times settle before the runs compare them
            path.is_file() and path.read_bytes()
        runs = []
        for jobs in ("1", "3"):
            out = os.path.join(self.work, "jobs" + jobs)
            os.makedirs(out)
            status, raw = run_tool(out, r, args=["--jobs", jobs])
            self.assertEqual(status, 0, raw)
            with zipfile.ZipFile(zips(out)[0]) as archive:
                self.assertIsNone(archive.testzip())
                runs.append([(i.filename, i.compress_type, i.CRC, i.compress_size) for i in archive.infolist()
                             if i.filename != "collection.log"] + [archive.read("manifest.tsv")])
        self.assertEqual(runs[0], runs[1])

    def test_read_errors_keep_what_was_read_and_everything_else(self):
        disk = self.root + "/var/log/disk"
        os.makedirs(disk)
        server = subprocess.Popen(["/usr/bin/python3", "-c", "FAILING = %r\n%s%s" % (
            FAILING, inspect.getsource(lines), FAILING_DISK), disk], stderr=subprocess.DEVNULL)
        try:
            deadline = time.time() + 5
            while not os.path.ismount(disk) and server.poll() is None and time.time() < deadline:
                time.sleep(0.05)
            if not os.path.ismount(disk):
                self.skipTest("cannot mount a FUSE file system here (root, /dev/fuse, python3-fusepy)")
            write(self.root + "/var/log/zz-after.log", lines(5000))
            status, raw = run_tool(self.out, self.root)
        finally:
            subprocess.run(["umount", "-l", disk], capture_output=True)
            server.kill()
            server.wait()
        self.assertEqual(status, 0, raw)
        archive, rows, log = open_run(zips(self.out)[0])
        self.assertIsNone(archive.testzip())
        for name, (count, bad) in FAILING.items():  # one read ahead, one in blocks
            row = rows["/var/log/disk/" + name]
            size, data = int(row["size"]), archive.read(row["entry"])
            self.assertIn("read failed after %d bytes: " % size, row["note"])
            self.assertIn("/var/log/disk/%s: read failed after %d bytes" % (name, size), log)
            self.assertTrue(bad - 4096 < size <= bad, row)  # read up to the bad page
            self.assertEqual((data, row["sha256"]), (lines(count)[:size], hashlib.sha256(data).hexdigest()))
        self.assertEqual(archive.read(rows["/var/log/zz-after.log"]["entry"]), lines(5000))

    def test_one_budget_per_account_across_items(self):
        names = ["/.bash_history", "/.ssh/known_hosts", "/.config/autostart/x.desktop",
                 "/.local/share/recently-used.xbel", "/.zsh_history"]  # four items, holes only
        for name in names:
            os.chown(write(self.root + "/home/eve" + name, size=2 << 30), 4242, 4242)
        self.assertEqual(run_tool(self.out, self.root)[0], 0)
        rows = open_run(zips(self.out)[0])[1]
        self.assertEqual(sum(int(rows["/home/eve" + name]["size"]) for name in names), 4 << 30)
        self.assertTrue(any("the budget of 4294967296 bytes for account 4242" in rows["/home/eve" + name]["note"]
                            for name in names))


if __name__ == "__main__":
    TOOL = os.path.abspath(sys.argv.pop(sys.argv.index("--tool") + 1))
    sys.argv.remove("--tool")
    unittest.main()
