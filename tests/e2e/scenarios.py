# Whole runs of the built bundle under a private X display.
#
# Each scenario copies the bundle into a folder whose path holds a space, a
# quote and Japanese, starts TarnhollowApp there, presses Return and checks
# what a person would see on screen and find on disk. Some swap the bundle's
# collector or runner for a small script written here.
#
# usage: scenarios.py NAME BUNDLE BUILD_FOLDER ARTIFACTS_FOLDER

import glob, hashlib, os, re, shlex, shutil, signal, subprocess, sys, tempfile, time, zipfile

sys.dont_write_bytecode = True  # leave the source folder as it is
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "../support"))
import texts  # noqa: E402
from desktop import CheckFailed, Desktop, expect, log  # noqa: E402
from polkit import Polkit  # noqa: E402

# A runner that does what the real one does for root: run the command line.
RUN_COMMAND_LINE = 'exec /bin/sh -c "$3"\n'
EMPTY_ZIP = r"printf 'PK\005\006\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0'"
# Hang detectors, not speed targets: generous enough for a loaded machine.
WINDOW_ANSWERS_WITHIN, REFERENCE_RUN_ENDS_WITHIN = 20, 240
SKIPPED = 77


def ended(screen):
    return (screen.headline in (texts.doneHeadline, texts.failedHeadline, texts.cancelled)
            or screen.button in (texts.revealButton, texts.openFolderButton))


def expect_equal(actual, wanted, what):
    expect(actual == wanted, f"{what}: wanted {str(wanted)[:600]}, saw {str(actual)[:600]}")


class Kit:
    # The bundle as a responder carries it on a stick, in a hostile folder
    # (or where it lies already), and the app's own temporary folder.

    def __init__(self, desktop, bundle, copy=True):
        self.desktop, self.folder = desktop, os.path.dirname(bundle)
        if copy:
            self.folder = os.path.join(desktop.root, "e2e 証拠's kit")
            os.mkdir(self.folder)
            bundle = shutil.copytree(bundle, os.path.join(self.folder, "Tarnhollow.app"), symlinks=True)
        self.bundle, self.tmpdir = bundle, os.path.join(desktop.root, "tmp")
        self.scratch = os.path.join(desktop.root, "scratch")  # what the fakes leave
        os.makedirs(self.tmpdir)
        os.makedirs(self.scratch)
        self.collector = os.path.join(bundle, "Contents/MacOS/tarnhollow")
        self.runner = os.path.join(bundle, "Contents/Helpers/elevate")

    def start(self, launcher=None, cwd=None):
        self.desktop.start_app(self.bundle, self.tmpdir, launcher, cwd)
        self.ready(texts.readyHeadline)

    def ready(self, headline):
        screen = self.desktop.wait(lambda s: s.headline == headline, f"the screen headed {headline}")
        expect_equal((screen.detail, screen.bar_visible, screen.button, screen.button_enabled),
                     (texts.readyDetailIntro + "\n" + texts.savedTo + self.folder, False, texts.startButton, True),
                     f"the screen headed {headline}")

    def fake(self, path, body):
        with open(path, "w", encoding="utf-8") as f:
            f.write("#!/bin/sh\n" + body)
        os.chmod(path, 0o755)

    def gate(self, name):
        # Shell that waits (at most a minute) until the test opens the gate.
        return (f"i=0; while [ ! -e {shlex.quote(os.path.join(self.scratch, name))} ] && [ $i -lt 600 ]; "
                "do sleep 0.1; i=$((i + 1)); done\n")

    def open_gate(self, name):
        open(os.path.join(self.scratch, name), "w").close()

    def progress_files(self):
        return glob.glob(os.path.join(glob.escape(self.tmpdir), "tarnhollow-*", "tarnhollow-*.out"))

    def archives(self):
        return sorted(p for p in os.listdir(self.folder) if p.endswith(".zip"))

    def button_keeps_screen(self):
        # The button of a final screen hands the folder to the file manager;
        # the app and its screen stay.
        before = self.desktop.read()
        self.desktop.press()
        time.sleep(1)
        expect_equal(self.desktop.wait(lambda s: True, "a steady screen"), before, "the screen after the button")

    def quits(self):
        # The quit shortcut ends the app at once, whatever it is doing.
        self.desktop.press("ctrl+q")
        self.desktop.app.wait(15)


def reference_collection(kit):
    # A real run: the done screen names the one archive beside the bundle, no
    # progress file is left, and the archive's manifest lists the SHA-256 of
    # its members.
    kit.desktop.press()
    screen = kit.desktop.wait(ended, "the end of the run", REFERENCE_RUN_ENDS_WITHIN)
    expect(len(kit.archives()) == 1, f"one archive beside the bundle, found {kit.archives()}")
    archive = os.path.join(kit.folder, kit.archives()[0])
    expect_equal((screen.headline, screen.detail, screen.bar_visible, screen.bar_value == screen.bar_max > 0,
                  screen.button, screen.button_enabled, kit.progress_files()),
                 (texts.doneHeadline, texts.savedTo + archive, True, True, texts.revealButton, True, []),
                 "the done screen")
    with zipfile.ZipFile(archive) as z:
        expect(z.testzip() is None, "every member of the archive reads back intact")
        names = z.namelist()
        expect("manifest.tsv" in names and "collection.log" in names, f"a manifest and a log in {names[:20]}")
        listed = z.read("manifest.tsv").decode("utf-8")
        checked = sum(hashlib.sha256(z.read(n)).hexdigest() in listed for n in names if n != "manifest.tsv")
        expect(checked > 0, "the manifest lists the SHA-256 of the archive's files")


def running_then_quit(desktop, kit):
    # A run started with the mouse through a stand-in runner (the real one's
    # road is the package runs'); the collector waits on item 2 of 3 until
    # the test lets it go on, after the app quit.
    seen = os.path.join(kit.scratch, "collector-call")
    kit.fake(kit.runner, RUN_COMMAND_LINE)
    kit.fake(kit.collector, f"""{{ printf '%s\\0' "$@"; printf '%s\\0' "$SUDO_UID" "$SUDO_GID"; }} > {shlex.quote(seen)}
echo "Collecting /etc/hosts (1/3)"; echo "Collecting /var/log/syslog (2/3)"; echo "note: this takes a while"
{kit.gate("go")}{EMPTY_ZIP} > "$2/e2e.zip"
""")
    kit.start()
    desktop.click_button()
    counted = texts.collectingPrefix + "2" + texts.countSeparator + "3"
    running = desktop.wait(lambda s: s.headline == counted, "the running screen of item 2 of 3")
    expect_equal((running.detail, running.bar_visible, round(running.bar_value / running.bar_max, 2),
                  running.button, running.button_enabled, len(kit.progress_files())),
                 ("/var/log/syslog", True, 0.33, texts.runningButton, False, 1), "the running screen")
    desktop.screenshot("running")
    desktop.press()  # the disabled button ignores Return
    time.sleep(0.6)
    expect_equal(desktop.read(), running, "the running screen after Return")
    # The quit shortcut ends the app mid-run; the collector goes on alone.
    kit.quits()
    kit.open_gate("go")
    deadline = time.monotonic() + 30
    while kit.archives() != ["e2e.zip"]:
        expect(time.monotonic() < deadline, "the collector finishes after the app quit")
        time.sleep(0.2)
    # The shell took the quoted command line apart as it was meant.
    with open(seen, "rb") as f:
        expect_equal(f.read().decode().split("\0")[:-1], ["-o", kit.folder, str(os.getuid()), str(os.getgid())],
                     "the collector's arguments and the user it collects for")


ESSENTIAL_PACKAGES = {"libc6", "libstdc++6", "libgcc-s1"}


def cpack(root, build_dir, generator, pattern):
    out = os.path.join(root, "cpack")
    made = subprocess.run(["cpack", "--config", os.path.join(build_dir, "CPackConfig.cmake"),
                           "-G", generator, "-B", out], capture_output=True, text=True, timeout=300)
    found = glob.glob(os.path.join(out, pattern))
    expect(made.returncode == 0 and len(found) == 1, f"one {pattern} from cpack: {made.stdout[-2000:]}"
                                                     f" {made.stderr[-2000:]}")
    log(f"package: {os.path.basename(found[0])} ({os.path.getsize(found[0])} bytes)")
    return found[0]


def package(desktop, build_dir):
    # The .tar.gz unpacks into one folder with the bundle and a launcher,
    # the bundle needs no library outside the packages it names, and the
    # unpacked app collects.
    stick = os.path.join(desktop.root, "USB 証拠's stick")
    os.mkdir(stick)
    subprocess.run(["tar", "-xzf", cpack(desktop.root, build_dir, "TGZ", "*.tar.gz"), "-C", stick], check=True, timeout=120)
    expect(len(os.listdir(stick)) == 1, f"the package unpacks into one folder, found {os.listdir(stick)}")
    top = os.path.join(stick, os.listdir(stick)[0])
    expect(os.access(os.path.join(top, "Tarnhollow.desktop"), os.X_OK), f"a launcher in {os.listdir(top)}")
    with open(os.path.join(top, "runtime-packages.txt"), encoding="utf-8") as f:
        allowed = ESSENTIAL_PACKAGES | {line.strip() for line in f if line.strip() and not line.startswith("#")}
    bundle = os.path.join(top, "Tarnhollow.app")
    for program in ("MacOS/TarnhollowApp", "MacOS/tarnhollow", "Helpers/elevate"):
        check_needs_only(os.path.join(bundle, "Contents", program), allowed)
    # Started as people start the kit: gio launch in its folder (no %k then),
    # and a file manager's run, which gives %k as the folder, unquoted.
    launcher = os.path.join(top, "Tarnhollow.desktop")
    kit = Kit(desktop, bundle, copy=False)
    kit.start(["gio", "launch", launcher], cwd=top)
    reference_collection(kit)
    kit.button_keeps_screen()
    kit.quits()
    kit.start(["sh", "-c", '"$@" &', "sh", *file_manager_run(launcher, top)], cwd="/")
    kit.quits()


def file_manager_run(launcher, folder):
    # The entry's Exec as GLib reads it, with the folder split at its spaces
    # in place of %k, as pcmanfm hands it on (its own parse would stop at the
    # quote in this folder's name, which no entry can prevent).
    from gi.repository import GLib
    keys = GLib.KeyFile()
    keys.load_from_file(launcher, GLib.KeyFileFlags.NONE)
    argv = GLib.shell_parse_argv(keys.get_string("Desktop Entry", "Exec"))[1]
    return [word for arg in argv for word in (folder.split(" ") if arg == "%k" else [arg])]


def through_polkit(build_dir, artifacts):
    # The installed package, run by a user without rights through polkitd:
    # a rule that says yes reaches the done screen, one that says no the
    # ready screen with 「キャンセルしました」. Neither needs an agent.
    root = tempfile.mkdtemp(prefix="tarnhollow-e2e-")
    failed = []
    try:
        with Polkit(cpack(root, build_dir, "DEB", "*.deb"), artifacts) as polkit:
            for answer in ("yes", "no"):
                polkit.answer(answer == "yes")
                if polkit.run_as_user([sys.executable, os.path.abspath(__file__), "installed-" + answer, INSTALLED,
                                       build_dir, artifacts], os.path.join(artifacts, "installed-" + answer)):
                    failed.append(answer)
    finally:
        shutil.rmtree(root, ignore_errors=True)
    # An agent answers for a login session; polkitd sees none here without logind.
    log("dismissed dialog: skipped: no login session for a polkit agent (this test makes none)")
    expect(not failed, f"the runs answered {failed} failed; see their lines above")


def installed(desktop, kit, yes):
    kit.folder = os.path.join(os.environ["HOME"], "Desktop")  # where an installed copy writes
    os.mkdir(kit.folder)
    kit.start()
    if yes:
        reference_collection(kit)
    else:
        desktop.press()
        kit.ready(texts.cancelled)


def check_needs_only(program, allowed):
    # Every library the program asks for comes from an allowed Debian
    # package, and nothing points into a build folder.
    dynamic = subprocess.run(["readelf", "-d", program], capture_output=True, text=True, timeout=30).stdout
    expect(os.access(program, os.X_OK) and "RPATH" not in dynamic
           and "RUNPATH" not in dynamic, f"{program} is executable with no library search path of its own")
    sections = subprocess.run(["readelf", "-S", "-W", program], capture_output=True, text=True, timeout=30).stdout
    expect(".symtab" not in sections and ".debug_" not in sections, f"{program} ships without debugging sections")
    where = dict(re.findall(r"^\s*(\S+) => (/\S+)", subprocess.run(
        ["ldd", program], capture_output=True, text=True, timeout=30).stdout, re.M))
    for library in re.findall(r"\(NEEDED\)\s+Shared library: \[([^\]]+)\]", dynamic):
        expect(library in where, f"{program} finds {library}")
        path = os.path.realpath(where[library])
        # With a merged /usr, dpkg may know only the other spelling.
        owner = subprocess.run(["dpkg", "-S", path, path.replace("/usr/lib/", "/lib/", 1)],
                               capture_output=True, text=True, timeout=30).stdout.split(":", 1)[0]
        expect(owner in allowed, f"{program} needs {library} from {owner or 'no package'}, not a runtime package")


INSTALLED = "/opt/tarnhollow/Tarnhollow.app"
SCENARIOS = {"running": running_then_quit,
             # Run by through_polkit as its test user, on the installed bundle.
             "installed-yes": lambda desktop, kit: installed(desktop, kit, True),
             "installed-no": lambda desktop, kit: installed(desktop, kit, False)}
PACKAGES = {"package": package}


def main():
    name, bundle, build_dir, artifacts = sys.argv[1:]
    # Ends before the test runner's deadline, so that cleaning up still happens.
    for signum in (signal.SIGTERM, signal.SIGALRM):
        signal.signal(signum, lambda signum, _: expect(False, f"stopped by signal {signum}"))
    signal.alarm(900 if name == "polkit" else 420)  # that one makes two whole runs
    # A real collection needs root, as in CI: without it the runner would ask
    # for a password that no one is there to type.
    if (name in PACKAGES or name == "polkit") and os.geteuid() != 0:
        log("skipped: a real collection needs root, as in CI")
        return SKIPPED
    artifacts = os.path.join(artifacts, name)
    if not name.startswith("installed-"):
        shutil.rmtree(artifacts, ignore_errors=True)
        os.makedirs(artifacts)
    try:
        if name == "polkit":  # each run as the test user, on a desktop of its own
            through_polkit(build_dir, artifacts)
        else:
            with Desktop(artifacts) as desktop:
                if name in PACKAGES:
                    PACKAGES[name](desktop, build_dir)
                else:
                    SCENARIOS[name](desktop, Kit(desktop, bundle, copy=not name.startswith("installed-")))
                expect(desktop.slowest_read < WINDOW_ANSWERS_WITHIN,
                       f"the window answered within {WINDOW_ANSWERS_WITHIN} s all along (slowest read "
                       f"{desktop.slowest_read:.1f} s)")
    except (CheckFailed, subprocess.TimeoutExpired) as failed:
        log(f"FAILED: {failed}\nartifacts: {artifacts}")
        return 1
    log(f"passed; artifacts: {artifacts}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
