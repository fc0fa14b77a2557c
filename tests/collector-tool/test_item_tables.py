#!/usr/bin/env python3
# Runs the collector with each system's item table against a tree shaped
# like that system: each artifact lands in the archive and the manifest, or
# only in its folder's listing.

import hashlib, os, subprocess, sys, tempfile, unittest

from test_collector import open_run, write, zips

TOOL = None

# One artifact per item or more, ";" between them; "=> listing" where only metadata is kept.
MACOS = """System/Library/CoreServices/SystemVersion.plist; private/var/db/diagnostics/Persist/0000000000000001.tracev3
System/Volumes/Data/.fseventsd/00000000001a2b3c; Users/alice/Library/Application Support/com.apple.TCC/TCC.db
private/var/db/CoreDuet/Knowledge/knowledgeC.db-wal; Users/alice/Library/Biome/streams/restricted/App.InFocus/local/1
Users/alice/Library/Preferences/com.apple.LaunchServices.QuarantineEventsV2; private/etc/emond.d/rules/a.plist
Library/LaunchDaemons/com.example.updater.plist; private/var/db/com.apple.xpc.launchd/disabled.plist
private/var/db/com.apple.backgroundtaskmanagement/BackgroundItems-v8.btm; private/var/at/tabs/alice
private/var/root/Library/Preferences/com.apple.loginwindow.plist; Library/Extensions/Example.kext/Contents/Info.plist
private/var/db/ConfigurationProfiles/Store/ConfigProfiles.binary; private/var/protected/xprotect/XPdb
private/var/db/dslocal/nodes/Default/users/alice.plist; private/etc/pam.d/sudo; Users/alice/.ssh/authorized_keys
private/var/log/asl/2026.12.06.G80.asl; private/var/audit/20261206080000.not_terminated; Users/alice/.zsh_history
Library/Logs/DiagnosticReports/Example-2026-12-06-080000.ips; Users/alice/Library/Safari/History.db-wal
Users/alice/Library/Application Support/com.apple.sharedfilelist/com.apple.LSSharedFileList.RecentDocuments.sfl3
Library/Receipts/InstallHistory.plist; Library/Preferences/SystemConfiguration/NetworkInterfaces.plist
Applications/Example.app/Contents/Info.plist => Applications; Users/Shared/dropped/payload.bin => Users/Shared
Library/StagedExtensions/Library/Extensions/Example.kext => Library/StagedExtensions; private/tmp/.hidden => private/tmp
private/var/folders/zz/zyxvpxvq6csfxvn_n0000000000000/T/tmp.1 => private/var/folders; private/etc/rc.common"""

LINUX = """etc/ld.so.preload; etc/pam.d/sshd; home/bob/.config/autostart/example.desktop; var/spool/cron/crontabs/bob
etc/udev/rules.d/99-example.rules; var/log/audit/audit.log; home/bob/.mozilla/firefox/ab12.default/places.sqlite-wal
home/bob/.config/BraveSoftware/Brave-Browser/Default/History; home/bob/.local/share/recently-used.xbel
dev/shm/payload => dev/shm; opt/example/bin/tool => opt
usr/lib/x86_64-linux-gnu/security/pam_example.so => usr/lib/x86_64-linux-gnu/security"""


def artifacts(table):
    return [(part.split(" => ") + [None])[:2] for part in table.replace("\n", "; ").split("; ")]


class ItemTables(unittest.TestCase):
    def collect(self, *args, tree=None):
        work = tempfile.TemporaryDirectory()
        self.addCleanup(work.cleanup)
        for rel, _ in artifacts(tree) if tree else []:
            write(os.path.join(work.name, "root", rel), rel.encode())  # a distinct hash per artifact
        root = ("--root", work.name + "/root") if tree else ()
        proc = subprocess.run([TOOL, "-o", work.name, *args, *root], stdin=subprocess.DEVNULL, capture_output=True)
        self.assertEqual(proc.returncode, 0, proc.stderr)
        archive, rows, log = open_run(zips(work.name)[0])
        self.addCleanup(archive.close)
        return archive, rows, log

    def test_each_system_tree(self):
        for system, table in (("macos", MACOS), ("linux", LINUX)):
            archive, rows, log = self.collect("--system", system, tree=table)
            self.assertIn("item table: " + system, log)
            for rel, listing in artifacts(table):
                with self.subTest(artifact=rel):
                    if listing is None:
                        self.assertEqual(archive.read("files/" + rel), rel.encode())
                        self.assertEqual((rows["/" + rel]["entry"], rows["/" + rel]["sha256"]),
                                         ("files/" + rel, hashlib.sha256(rel.encode()).hexdigest()))
                    else:
                        self.assertIn("\n/%s\t" % rel, archive.read("listings/%s.tsv" % listing).decode())
                        self.assertEqual(rows["/" + listing]["type"], "listing")
                        self.assertNotIn("files/" + rel, archive.namelist())
        rows = self.collect("--system", "linux", tree=MACOS)[1]  # each table looks only for its own system
        self.assertEqual([p for p in rows if p.startswith(("/private", "/Users", "/Library"))], [])

    @unittest.skipUnless(os.geteuid() == 0 and sys.platform.startswith("linux"), "collects this machine, as root")
    def test_live_commands_of_this_system(self):
        archive, rows, log = self.collect("--system", "linux")
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
        for args in (["--system", "windows", "-o", "/tmp"], ["-o"], ["--root"], ["-x"]):
            proc = subprocess.run([TOOL, *args], capture_output=True, timeout=60)
            self.assertTrue(proc.returncode > 0 and proc.stderr.strip(), (args, proc))


if __name__ == "__main__":
    TOOL = os.path.abspath(sys.argv.pop(sys.argv.index("--tool") + 1))
    sys.argv.remove("--tool")
    unittest.main()
