#!/usr/bin/env python3
"""Runs the collector with each system's item table against a tree shaped
like that system, and checks artifact by artifact that each one lands in
the archive and in the manifest."""

import argparse
import hashlib
import os
import shutil
import subprocess
import sys
import tempfile
import unittest
import zipfile

TOOL = None

# (path below the root, where it must land). "files" is a copy under files/;
# a listing's name is where its metadata must appear.
MACOS = [
    ("System/Library/CoreServices/SystemVersion.plist", "files"),
    ("private/var/db/diagnostics/Persist/0000000000000001.tracev3", "files"),
    ("private/var/db/uuidtext/3F/0123456789ABCDEF0123456789ABCD", "files"),
    ("System/Volumes/Data/.fseventsd/00000000001a2b3c", "files"),
    ("Library/Application Support/com.apple.TCC/TCC.db", "files"),
    ("Users/alice/Library/Application Support/com.apple.TCC/TCC.db", "files"),
    ("private/var/db/CoreDuet/Knowledge/knowledgeC.db-wal", "files"),
    ("Users/alice/Library/Application Support/Knowledge/knowledgeC.db", "files"),
    ("Users/alice/Library/Biome/streams/restricted/App.InFocus/local/1", "files"),
    ("Users/alice/Library/Preferences/com.apple.LaunchServices.QuarantineEventsV2", "files"),
    ("Library/LaunchDaemons/com.example.updater.plist", "files"),
    ("Users/alice/Library/LaunchAgents/com.example.agent.plist", "files"),
    ("private/var/db/com.apple.xpc.launchd/disabled.plist", "files"),
    ("private/var/db/com.apple.backgroundtaskmanagement/BackgroundItems-v8.btm", "files"),
    ("Users/alice/Library/Application Support/com.apple.backgroundtaskmanagementagent/backgrounditems.btm",
     "files"),
    ("private/var/root/Library/Preferences/com.apple.loginwindow.plist", "files"),
    ("private/etc/emond.d/rules/example.plist", "files"),
    ("private/var/db/emondClients/example", "files"),
    ("private/var/at/tabs/alice", "files"),
    ("private/var/at/jobs/a0001201a2b3c4", "files"),
    ("private/etc/periodic/daily/999.local", "files"),
    ("Users/alice/Library/Preferences/com.apple.loginitems.plist", "files"),
    ("private/etc/rc.common", "files"),
    ("Library/Extensions/Example.kext/Contents/Info.plist", "files"),
    ("Library/SystemExtensions/db.plist", "files"),
    ("private/var/db/ConfigurationProfiles/Store/ConfigProfiles.binary", "files"),
    ("Library/Apple/System/Library/CoreServices/XProtect.bundle/Contents/Resources/XProtect.yara", "files"),
    ("Library/Managed Preferences/com.example.plist", "files"),
    ("private/var/protected/xprotect/XPdb", "files"),
    ("private/var/db/auth.db", "files"),
    ("private/etc/pf.conf", "files"),
    ("Library/Preferences/com.apple.networkextension.plist", "files"),
    ("private/var/db/SystemPolicy", "files"),
    ("private/var/db/SystemPolicyConfiguration/KextPolicy", "files"),
    ("Library/Preferences/com.apple.alf.plist", "files"),
    ("Library/Preferences/com.apple.wifi.known-networks.plist", "files"),
    ("Library/Preferences/SystemConfiguration/NetworkInterfaces.plist", "files"),
    ("private/var/db/dslocal/nodes/Default/users/alice.plist", "files"),
    ("private/var/db/dslocal/nodes/Default/groups/admin.plist", "files"),
    ("private/etc/sudoers.d/alice", "files"),
    ("private/etc/pam.d/sudo", "files"),
    ("private/etc/ssh/sshd_config", "files"),
    ("Users/alice/.ssh/authorized_keys", "files"),
    ("private/var/log/system.log", "files"),
    ("private/var/log/asl/2026.12.06.G80.asl", "files"),
    ("private/var/log/install.log", "files"),
    ("private/var/audit/20261206080000.not_terminated", "files"),
    ("Library/Logs/DiagnosticReports/Example-2026-12-06-080000.ips", "files"),
    ("Users/alice/Library/Logs/DiagnosticReports/Example.crash", "files"),
    ("Users/alice/Library/Logs/example/run.log", "files"),
    ("Users/alice/.zsh_history", "files"),
    ("Users/alice/.zsh_sessions/0D2E.session", "files"),
    ("private/var/root/.bash_history", "files"),
    ("Users/alice/Library/Safari/History.db", "files"),
    ("Users/alice/Library/Safari/History.db-wal", "files"),
    ("Users/alice/Library/Application Support/Google/Chrome/Default/History", "files"),
    ("Users/alice/Library/Application Support/Microsoft Edge/Profile 1/History", "files"),
    ("Users/alice/Library/Application Support/BraveSoftware/Brave-Browser/Default/History-journal", "files"),
    ("Users/alice/Library/Application Support/Firefox/Profiles/ab12.default-release/places.sqlite-wal", "files"),
    ("Library/Receipts/InstallHistory.plist", "files"),
    ("private/var/db/receipts/com.example.pkg.bom", "files"),
    ("Users/alice/Library/Preferences/com.apple.dock.plist", "files"),
    ("Users/alice/Library/Application Support/com.apple.sharedfilelist/"
     "com.apple.LSSharedFileList.RecentDocuments.sfl3", "files"),
    ("Library/Preferences/com.apple.TimeMachine.plist", "files"),
    ("Applications/Example.app/Contents/Info.plist", "listings/Applications.tsv"),
    ("Library/StagedExtensions/Library/Extensions/Example.kext", "listings/Library/StagedExtensions.tsv"),
    ("Library/Application Support/Example/helper", "listings/Library/Application Support.tsv"),
    ("Users/Shared/dropped/payload.bin", "listings/Users/Shared.tsv"),
    ("private/tmp/.hidden", "listings/private/tmp.tsv"),
    ("private/var/folders/zz/zyxvpxvq6csfxvn_n0000000000000/T/tmp.1", "listings/private/var/folders.tsv"),
]

LINUX = [
    ("etc/ld.so.preload", "files"),
    ("etc/pam.d/sshd", "files"),
    ("etc/xdg/autostart/example.desktop", "files"),
    ("home/bob/.config/autostart/example.desktop", "files"),
    ("etc/udev/rules.d/99-example.rules", "files"),
    ("var/log/audit/audit.log", "files"),
    ("var/spool/cron/crontabs/bob", "files"),
    ("home/bob/.mozilla/firefox/ab12.default/places.sqlite-wal", "files"),
    ("home/bob/.config/google-chrome/Default/History", "files"),
    ("home/bob/.config/BraveSoftware/Brave-Browser/Default/History", "files"),
    ("home/bob/.local/share/recently-used.xbel", "files"),
    ("dev/shm/payload", "listings/dev/shm.tsv"),
    ("usr/lib/x86_64-linux-gnu/security/pam_example.so", "listings/usr/lib/x86_64-linux-gnu/security.tsv"),
    ("opt/example/bin/tool", "listings/opt.tsv"),
]


class ItemTables(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="collector-tables-")
        self.addCleanup(shutil.rmtree, self.work, ignore_errors=True)

    def collect(self, system, artifacts):
        root = os.path.join(self.work, system + "-root")
        for rel, _ in artifacts:
            path = os.path.join(root, rel)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write(rel.encode())  # a distinct content, and so a distinct hash, per artifact
        return self.run_tool("--system", system, "--root", root)

    def run_tool(self, *args):
        out = tempfile.mkdtemp(dir=self.work)
        proc = subprocess.run([TOOL, "-o", out, *args], stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                              stderr=subprocess.STDOUT, timeout=300)
        self.assertEqual(proc.returncode, 0, proc.stdout.decode("utf-8", "replace"))
        (name,) = [n for n in os.listdir(out) if n.endswith(".zip")]
        archive = zipfile.ZipFile(os.path.join(out, name))
        self.addCleanup(archive.close)
        lines = archive.read("manifest.tsv").decode("utf-8").rstrip("\n").split("\n")
        header = lines[0].split("\t")
        rows = [dict(zip(header, line.split("\t"))) for line in lines[1:]]
        return archive, {row["path"]: row for row in rows}

    def check(self, system, artifacts):
        archive, rows = self.collect(system, artifacts)
        self.assertIn("item table: " + system, archive.read("collection.log").decode())
        for rel, place in artifacts:
            with self.subTest(artifact=rel):
                path = "/" + rel
                if place == "files":
                    self.assertEqual(archive.read("files" + path), rel.encode())
                    self.assertEqual(rows[path]["entry"], "files" + path)
                    self.assertEqual(rows[path]["sha256"], hashlib.sha256(rel.encode()).hexdigest())
                else:
                    listing = archive.read(place).decode()
                    self.assertIn("\n" + path + "\t", listing)
                    (row,) = [r for r in rows.values() if r["entry"] == place]
                    self.assertEqual(row["type"], "listing")
                    self.assertNotIn("files" + path, archive.namelist())

    def test_macos_tree(self):
        self.check("macos", MACOS)

    def test_linux_tree(self):
        self.check("linux", LINUX)

    def test_each_table_looks_only_for_its_own_system(self):
        archive, rows = self.collect("linux", MACOS)
        self.assertEqual([p for p in rows if p.startswith(("/private", "/Users", "/Library"))], [])

    @unittest.skipUnless(os.geteuid() == 0 and sys.platform.startswith("linux"), "collects this machine, as root")
    def test_live_commands_of_this_system(self):
        archive, rows = self.run_tool("--system", "linux")
        log = archive.read("collection.log").decode()
        for name, program in (("ss", "/bin/ss"), ("findmnt", "/bin/findmnt"), ("who", "/usr/bin/who"),
                              ("nft-ruleset", "/usr/sbin/nft"), ("iptables-save", "/usr/sbin/iptables-save")):
            with self.subTest(command=name):
                if os.path.exists(program):
                    data = archive.read("live/%s.txt" % name)
                    self.assertEqual(rows["live/" + name]["sha256"], hashlib.sha256(data).hexdigest())
                    self.assertIn("command %s: ran" % name, log)
                else:
                    self.assertNotIn("live/%s.txt" % name, archive.namelist())
                    self.assertIn("command %s: not on this system (no %s)" % (name, program), log)
        self.assertIn(b"TARGET", archive.read("live/findmnt.txt"))

    def test_unknown_system_refused(self):
        proc = subprocess.run([TOOL, "--system", "windows", "-o", self.work], capture_output=True, timeout=60)
        self.assertNotEqual(proc.returncode, 0)
        self.assertIn("windows", proc.stderr.decode().strip().split("\n")[-1])


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--tool", required=True)
    args, rest = parser.parse_known_args()
    TOOL = os.path.abspath(args.tool)
    unittest.main(argv=[sys.argv[0]] + rest)
