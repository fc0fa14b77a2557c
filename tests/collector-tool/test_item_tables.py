#!/usr/bin/env python3
# Runs the collector with each system's item table against a tree built from
# that table: every pattern of every item gets a file that it matches, so an
# item added, lost or narrowed shows here. Each artifact must land in the
# archive, the manifest and the timeline (or, for the items that only list,
# in a listing and the timeline), and every item must find its own.

import ast, hashlib, itertools, os, re, subprocess, sys, tempfile, unittest

from test_collector import open_run, write, zips

TOOL = None
TABLES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "../../collector-tool")
SOURCES = {"linux": "ItemsLinux.cpp", "macos": "ItemsMacOS.cpp"}


def item_table(system):
    # [(name, patterns, listing only)] read out of the C++ table: its braces
    # become Python's lists, a live item (no patterns) a tuple.
    with open(os.path.join(TABLES, SOURCES[system]), encoding="utf-8") as f:
        source = re.sub(r"(?m)^\s*//.*", "", f.read())
    body = source[source.index("items = {") + len("items = "):source.index("};") + 1]
    body = re.sub(r'"[^"]*"|[{}]', lambda m: {"{": "[", "}": "]"}.get(m.group(0), m.group(0)), body)
    values = ast.literal_eval(body.replace("liveItem(", "(").replace("true", "True"))
    return [(v[0], [], False) if isinstance(v, tuple) else (v[0], v[1], v[2:3] == [True]) for v in values]


def instances(pattern):
    # Relative paths that the pattern matches: each alternative of every
    # "{a,b}", a "*" as "1", a "[0-9]" as its first character.
    parts = re.split(r"(\{[^}]*\})", pattern)
    choices = [p[1:-1].split(",") if p.startswith("{") else [p] for p in parts]
    for chosen in itertools.product(*choices):
        yield re.sub(r"\[(.)[^\]]*\]", r"\1", "".join(chosen)).replace("*", "1").lstrip("/")


def fixture(items):
    # {relative path: listing only} of the files to make. A pattern that is
    # listed, or that other patterns reach into, is a folder with a file of
    # its own, so that its item finds something the narrower ones did not take.
    paths = {}
    for _, patterns, listing in items:
        for rel in (rel for pattern in patterns for rel in instances(pattern)):
            paths.setdefault(rel, listing)
    folders = {rel.rsplit("/", n)[0] for rel in paths for n in range(1, rel.count("/") + 1)}
    return {rel + "/own-file" if rel in folders or listing else rel: listing for rel, listing in paths.items()}


class ItemTables(unittest.TestCase):
    def collect(self, system, files=None):
        work = self.enterContext(tempfile.TemporaryDirectory())
        root = os.path.join(work, "root")
        for rel in files or {}:
            write(os.path.join(root, rel), rel.encode())  # a distinct hash per artifact
        proc = subprocess.run([TOOL, "-o", work, "--system", system] + ["--root", root] * (files is not None),
                              stdin=subprocess.DEVNULL, capture_output=True)
        self.assertEqual(proc.returncode, 0, proc.stderr)
        archive, rows, log = open_run(zips(work)[0])
        self.addCleanup(archive.close)
        return archive, rows, log, proc.stdout.decode(), root

    def test_each_system_tree(self):
        for system in SOURCES:
            with self.subTest(system=system):
                self.check_tree(system)

    def check_tree(self, system):
        items = item_table(system)
        archive, rows, log, progress, root = self.collect(system, files := fixture(items))
        self.assertIn("item table: " + system, log)
        self.assertEqual(sorted(re.findall(r"^Collecting (.+) \(\d+/%d\)$" % len(items), progress, re.M)),
                         sorted(name for name, _, _ in items), "one progress step per item of the table")
        for name, patterns, _ in items:
            self.assertTrue(not patterns or re.search(r"^   %s: [1-9]\d* paths?, " % re.escape(name), log, re.M),
                            "%s found nothing in its fixture" % name)
        self.assertEqual(re.findall(r"not present: .*", log), [])

        listed = "".join(archive.read(n).decode() for n in archive.namelist() if n.startswith("listings/"))
        timeline = {f[1]: f for f in (line.split("|") for line in archive.read("timeline.body").decode().splitlines())}
        for rel, listing in files.items():
            path, st = "/" + rel, os.lstat(os.path.join(root, rel))
            if listing:
                self.assertIn("\n%s\tfile\t%d\t" % (path, st.st_size), listed)
                self.assertNotIn("files/" + rel, archive.namelist())
            else:
                self.assertEqual(archive.read("files/" + rel), rel.encode())
                self.assertEqual((rows[path]["entry"], rows[path]["sha256"], rows[path]["inode"]),
                                 ("files/" + rel, hashlib.sha256(rel.encode()).hexdigest(), str(st.st_ino)))
            stamps = [str(int(x)) for x in (st.st_uid, st.st_gid, st.st_size, st.st_atime, st.st_mtime, st.st_ctime)]
            self.assertEqual(timeline[path][:-1], ["0", path, str(st.st_ino), "r/rrw-r--r--"] + stamps)

    @unittest.skipUnless(os.geteuid() == 0 and sys.platform.startswith("linux"), "collects this machine, as root")
    def test_live_commands_of_this_system(self):
        archive, rows, log = self.collect("linux")[:3]
        for name, program in (("ss", "/bin/ss"), ("findmnt", "/bin/findmnt"), ("who", "/usr/bin/who"),
                              ("nft-ruleset", "/usr/sbin/nft"), ("iptables-save", "/usr/sbin/iptables-save")):
            with self.subTest(command=name):
                ran = os.path.exists(program)
                self.assertIn("command %s: %s" % (name, "ran" if ran else "not on this system (no %s)" % program), log)
                data = archive.read("live/%s.txt" % name) if ran else b""
                self.assertEqual(rows["live/" + name]["sha256"] if ran else "live/%s.txt" % name in archive.namelist(),
                                 hashlib.sha256(data).hexdigest() if ran else False)
        self.assertIn(b"TARGET", archive.read("live/findmnt.txt"))

    def test_bad_command_lines_refused(self):
        for args in (["--system", "windows", "-o", "/tmp"], ["-o"], ["--root"], ["-x"], ["--jobs", "0", "-o", "/tmp"]):
            proc = subprocess.run([TOOL, *args], capture_output=True, timeout=60)
            self.assertTrue(proc.returncode > 0 and proc.stderr.strip(), (args, proc))


if __name__ == "__main__":
    TOOL = os.path.abspath(sys.argv.pop(sys.argv.index("--tool") + 1))
    sys.argv.remove("--tool")
    unittest.main()
