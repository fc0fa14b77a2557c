"""End-to-end runs of the built bundle under a private X display.

Each scenario copies the bundle into a folder whose path holds a space, a
quote and Japanese, starts TarnhollowApp there, presses Return and checks
what a person would see on screen and find on disk. Some scenarios swap the
bundle's collector or runner for a small script written here.

usage: scenarios.py NAME --bundle PATH --artifacts FOLDER
"""

import argparse
import dataclasses
import glob
import hashlib
import os
import re
import shlex
import shutil
import signal
import subprocess
import sys
import time
import zipfile

sys.dont_write_bytecode = True  # leave the source folder as it is
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from desktop import CheckFailed, Desktop, log  # noqa: E402
import debian_root  # noqa: E402

READY_HEADLINE = "この Mac からフォレンジック調査用のアーティファクトを収集します"
CANCELLED = "キャンセルしました"
ASKING_PASSWORD = "管理者パスワードを入力してください…"
DONE = "収集が完了しました"
FAILED = "収集に失敗しました"
START = "収集を開始"
RUNNING = "収集中…"
REVEAL = "Finder で表示"
OPEN_FOLDER = "保存先を開く"
LAUNCH_FAILED = "収集を開始できませんでした: "
SAVED_TO = "保存先: "
LOG_HINT = "ログがあれば保存先を確認してください: "
PROMPT = ("Tarnhollow がこの Mac からフォレンジック調査用のアーティファクトを収集するため、"
          "管理者権限を求めています。")

# Hang detectors, not speed targets: generous enough for a loaded machine.
APP_ANSWERS_WITHIN = 20.0
RUN_ENDS_WITHIN = 120.0
REFERENCE_RUN_ENDS_WITHIN = 240.0


def ready_detail(folder):
    return "開始すると管理者パスワードを求めます。\n" + SAVED_TO + folder


def expect(condition, message):
    if not condition:
        raise CheckFailed(message)


def expect_detail(screen, check, what):
    """Runs `check` on the detail text, which the window must expose to
    assistive technology."""
    expect(screen.detail is not None, f"{what}: the detail text is not exposed to assistive technology")
    check(screen.detail)


def _short(value, limit=300):
    text = repr(value)
    return text if len(text) <= limit else text[:limit] + f"… ({len(text)} characters)"


def expect_equal(actual, wanted, what):
    if actual == wanted:
        return
    if dataclasses.is_dataclass(actual) and dataclasses.is_dataclass(wanted):
        differ = [f"{f.name}: wanted {_short(getattr(wanted, f.name))}, saw {_short(getattr(actual, f.name))}"
                  for f in dataclasses.fields(actual) if getattr(actual, f.name) != getattr(wanted, f.name)]
        raise CheckFailed(f"{what}: " + "; ".join(differ))
    raise CheckFailed(f"{what}: wanted {_short(wanted)}, saw {_short(actual)}")


class Kit:
    """A copy of the built bundle in a hostile folder, as a responder would
    carry it on a stick, and the app's own temporary folder."""

    def __init__(self, desktop, built_bundle=None, bundle=None):
        """Copies `built_bundle` into the hostile folder, or uses a bundle
        that already lies somewhere (`bundle`)."""
        self.desktop = desktop
        if bundle is None:
            self.folder = os.path.join(desktop.root, "e2e 証拠's kit")
            os.mkdir(self.folder)
            self.bundle = os.path.join(self.folder, "Tarnhollow.app")
            shutil.copytree(built_bundle, self.bundle, symlinks=True)
        else:
            self.bundle = bundle
            self.folder = os.path.dirname(bundle)
        self.tmpdir = os.path.join(desktop.root, "tmp")
        os.mkdir(self.tmpdir)
        self.scratch = os.path.join(desktop.root, "scratch")  # for the fakes
        os.mkdir(self.scratch)
        self.collector = os.path.join(self.bundle, "Contents", "MacOS", "tarnhollow")
        self.runner = os.path.join(self.bundle, "Contents", "Helpers", "elevate")

    def start(self, prefix=()):
        self.desktop.start_app(self.bundle, self.tmpdir, prefix)

    def write_script(self, path, body):
        with open(path, "w", encoding="utf-8") as f:
            f.write("#!/bin/sh\n" + body)
        os.chmod(path, 0o755)

    def scratch_path(self, name):
        return os.path.join(self.scratch, name)

    def progress_files(self):
        return sorted(glob.glob(os.path.join(glob.escape(self.tmpdir), "tarnhollow-*", "tarnhollow-*.out")))

    def archives(self):
        return sorted(p for p in os.listdir(self.folder) if p.endswith(".zip"))


# --- fakes written into the bundle --------------------------------------

def recording_runner(kit, then):
    """A runner that records its arguments (NUL-separated, one file a call)
    and then does `then`, a piece of shell."""
    calls = kit.scratch_path("runner-calls")
    os.mkdir(calls)
    kit.write_script(kit.runner, f"""
calls={shlex.quote(calls)}
n=$(ls "$calls" | wc -l)
n=$((n + 1))
for a in "$@"; do printf '%s\\0' "$a"; done > "$calls/$n"
{then}
""")
    return calls


def runner_calls(calls):
    found = []
    for name in sorted(os.listdir(calls), key=int):
        with open(os.path.join(calls, name), "rb") as f:
            found.append(f.read().decode().split("\0")[:-1])
    return found


# A runner that does what the real one does for root: run the command line.
RUN_COMMAND_LINE = 'exec /bin/sh -c "$3"'

# Without root the real runner would ask for a password through a dialog
# that nobody is there to answer.
SKIPPED = 77


class NeedsRoot(Exception):
    pass


def real_runner_when_root(kit):
    """Keeps the bundle's runner when the tests run as root (as in CI);
    otherwise puts a runner in its place that runs the command line as the
    real one does for root."""
    if os.geteuid() != 0:
        log("not root: a stand-in runs the command line in place of the bundle's runner")
        kit.write_script(kit.runner, RUN_COMMAND_LINE + "\n")


def zip_writing_collector(kit, before_zip=""):
    """A collector that records how it was called, reports two items and
    leaves a small archive in the folder it was given."""
    seen = kit.scratch_path("collector-call")
    kit.write_script(kit.collector, f"""
{{ printf '%s\\0' "$@"; printf 'SUDO_UID=%s\\0SUDO_GID=%s\\0' "$SUDO_UID" "$SUDO_GID"; }} > {shlex.quote(seen)}
echo "Collecting /etc/hosts (1/2)"
{before_zip}
echo "Collecting /var/log (2/2)"
printf 'PK\\005\\006\\0\\0\\0\\0\\0\\0\\0\\0\\0\\0\\0\\0\\0\\0\\0\\0' > "$2/tarnhollow-e2e.zip"
echo "Wrote $2/tarnhollow-e2e.zip"
""")
    return seen


# --- shared checks -------------------------------------------------------

def check_ready_screen(desktop, kit, headline):
    screen = desktop.wait_for_screen(lambda s: s.headline == headline, 30,
                                     f"the ready screen headed {headline!r}")
    expect_detail(screen, lambda d: expect_equal(d, ready_detail(kit.folder), "ready detail"),
                  "ready detail")
    expect(not screen.bar_visible, "the bar is hidden on the ready screen")
    expect_equal(screen.button_title, START, "ready button")
    expect(screen.button_enabled, "the ready button is enabled")
    return screen


def check_done_screen(desktop, kit, started, timeout):
    screen = desktop.wait_for_screen(lambda s: s.headline in (DONE, FAILED), timeout,
                                     "the end of the run")
    expect_equal(screen.headline, DONE, f"headline after the run ({screen.describe()})")
    fresh = [a for a in kit.archives()
             if os.path.getmtime(os.path.join(kit.folder, a)) >= started - 1]
    expect(len(fresh) == 1, f"one new archive beside the bundle, found {kit.archives()}")
    archive = os.path.join(kit.folder, fresh[0])
    expect_detail(screen, lambda d: expect_equal(d, SAVED_TO + archive, "done detail"),
                  "done detail")
    expect(screen.bar_visible and screen.bar_max > 0 and screen.bar_value == screen.bar_max,
           f"a full bar on the done screen ({screen.describe()})")
    expect_equal(screen.button_title, REVEAL, "done button")
    expect(screen.button_enabled, "the done button is enabled")
    expect_equal(kit.progress_files(), [], "progress files left in the temporary folder")
    return screen, archive


def check_failed_screen(desktop, kit, accept_message, timeout=RUN_ENDS_WITHIN):
    screen = desktop.wait_for_screen(lambda s: s.headline in (DONE, FAILED, CANCELLED),
                                     timeout, "the end of the run")
    expect_equal(screen.headline, FAILED, f"headline after the run ({screen.describe()})")
    hint = "\n" + LOG_HINT + kit.folder
    expect_detail(screen, lambda d: expect(d.endswith(hint), f"the failure detail ends with the "
                                                             f"log hint: {screen.describe()}"),
                  "failure detail")
    message = screen.detail[:-len(hint)]
    accept_message(message)
    expect(not screen.bar_visible, "the bar is hidden on the failure screen")
    expect_equal(screen.button_title, OPEN_FOLDER, "failure button")
    expect(screen.button_enabled, "the failure button is enabled")
    return screen, message


def check_button_keeps_screen(desktop, screen):
    """Pressing the button on a final screen hands the folder to the file
    manager; the app stays and so does its screen."""
    desktop.press_return()
    time.sleep(1)
    again = desktop.wait_for_screen(lambda s: True, 30, "a steady screen")
    expect_equal(again, screen, "the screen after pressing the button again")
    expect(desktop.app_running(), "the app is still running")


def check_answers(desktop):
    log(f"slowest answer of the window: {desktop.slowest_answer:.2f} s; "
        f"slowest whole screen read: {desktop.slowest_read:.2f} s")
    expect(desktop.slowest_answer < APP_ANSWERS_WITHIN,
           f"the window answered within {APP_ANSWERS_WITHIN} s all along "
           f"(slowest {desktop.slowest_answer:.1f} s)")


def check_quits(desktop, how):
    """Closing the window or the quit shortcut ends the app, whatever its
    state, without a question."""
    if how == "window":
        desktop.close_window()
    else:
        desktop.press_quit_shortcut()
    desktop.wait_for(lambda: not desktop.app_running(), 15, f"the app to quit ({how})")


# --- scenarios -----------------------------------------------------------

def success_with_reference_collector(desktop, kit):
    if os.geteuid() != 0:
        raise NeedsRoot()
    expect(os.access(kit.collector, os.X_OK), "the bundle holds the collector")
    expect(os.access(kit.runner, os.X_OK), "the bundle holds the runner")
    kit.start()
    ready = check_ready_screen(desktop, kit, READY_HEADLINE)
    expect_equal(ready.window_title, "Tarnhollow", "window title")
    desktop.screenshot("ready")

    seen_running = []

    def watch(screen):
        if not seen_running and screen.button_title == RUNNING:
            seen_running.append(screen)
            expect(not screen.button_enabled, "the button is disabled while running")
            desktop.screenshot("running-reference")

    started = time.time()
    desktop.press_return()
    desktop.wait_for_screen(lambda s: s.headline != READY_HEADLINE, 30, "the run to start",
                            on_screen=watch)
    screen, archive = check_done_screen(desktop, kit, started, REFERENCE_RUN_ENDS_WITHIN)
    desktop.screenshot("done")
    log(f"archive: {archive} ({os.path.getsize(archive)} bytes)")
    check_reference_archive(archive)
    check_button_keeps_screen(desktop, screen)
    check_quits(desktop, "window")


def check_reference_archive(archive):
    """The archive opens, and its manifest's checksums match its members."""
    with zipfile.ZipFile(archive) as z:
        expect(z.testzip() is None, "every member of the archive reads back intact")
        names = z.namelist()
        manifests = [n for n in names if os.path.basename(n).lower().startswith("manifest")]
        expect(manifests, f"the archive holds a manifest; it holds {names[:20]}")
        logs = [n for n in names if "log" in os.path.basename(n).lower()]
        expect(logs, f"the archive holds a collection log; it holds {names[:20]}")
        manifest = z.read(manifests[0]).decode("utf-8")
        checked = 0
        for name in names:
            if name in manifests or name.endswith("/"):
                continue
            digest = hashlib.sha256(z.read(name)).hexdigest()
            if digest in manifest:
                checked += 1
        expect(checked > 0, "the manifest lists the SHA-256 of the archive's files")
        log(f"archive: {len(names)} members, {checked} with their SHA-256 in the manifest")


def cancel_then_run_again(desktop, kit):
    dialog_closed = kit.scratch_path("dialog-closed")
    # The first call stands for a password dialog that stays up until the
    # test dismisses it (at most a minute); the second for one answered.
    calls = recording_runner(kit, f"""
if [ "$n" -eq 1 ]; then
  i=0
  while [ ! -e {shlex.quote(dialog_closed)} ] && [ $i -lt 600 ]; do sleep 0.1; i=$((i + 1)); done
  echo "0:94: execution error: ユーザによってキャンセルされました。 (-128)" >&2
  exit 1
fi
""" + RUN_COMMAND_LINE)
    seen = zip_writing_collector(kit)
    kit.start()
    check_ready_screen(desktop, kit, READY_HEADLINE)

    desktop.press_return()
    asking = desktop.wait_for_screen(lambda s: s.headline == ASKING_PASSWORD, 30,
                                     "the running screen while the password is asked")
    expect_detail(asking, lambda d: expect_equal(d, SAVED_TO + kit.folder, "running detail"),
                  "running detail")
    expect(asking.bar_visible, "the bar is shown while the password is asked")
    expect_equal(asking.button_title, RUNNING, "running button")
    expect(not asking.button_enabled, "the running button is disabled")
    desktop.screenshot("asking-password")
    open(dialog_closed, "w").close()
    check_ready_screen(desktop, kit, CANCELLED)
    desktop.screenshot("cancelled")
    expect_equal(kit.progress_files(), [], "progress files left after the cancellation")
    expect_equal(kit.archives(), [], "archives after the cancellation")

    # This time with the mouse.
    started = time.time()
    desktop.click_button()
    check_done_screen(desktop, kit, started, RUN_ENDS_WITHIN)

    # The runner was called twice, with the four agreed arguments, and each
    # run had its own progress file.
    made = runner_calls(calls)
    expect_equal(len(made), 2, "runner calls")
    for args in made:
        expect_equal(len(args), 4, "runner arguments")
        expect_equal(args[0], "-e", "the runner's first argument")
        expect(args[1].startswith("on run argv\n") and args[1].endswith("\nend run"),
               f"the runner script: {args[1]!r}")
        expect_equal(args[3], PROMPT, "the password prompt")
    expect(made[0][2] != made[1][2], "a new progress file for the second run")

    # The shell took the quoted paths apart correctly: the collector got the
    # kit folder as one argument, and the user's identity.
    with open(seen, "rb") as f:
        collector_args = f.read().decode().split("\0")[:-1]
    expect_equal(collector_args, ["-o", kit.folder, f"SUDO_UID={os.getuid()}",
                                  f"SUDO_GID={os.getgid()}"], "the collector's arguments")


def failure_from_collector(desktop, kit):
    go = kit.scratch_path("go")
    error_line = "エラー: /var/db/sudo を読めません: Permission denied"
    # Two items reported, then the collector waits (at most a minute) for
    # the test to look at the running screen before it fails.
    kit.write_script(kit.collector, f"""
echo "Collecting /etc/hosts (1/3)"
echo "Collecting /var/log/syslog (2/3)"
echo "note: this takes a while"
i=0
while [ ! -e {shlex.quote(go)} ] && [ $i -lt 600 ]; do sleep 0.1; i=$((i + 1)); done
echo "{error_line}"
echo ""
exit 3
""")
    real_runner_when_root(kit)
    kit.start()
    check_ready_screen(desktop, kit, READY_HEADLINE)
    desktop.press_return()

    running = desktop.wait_for_screen(lambda s: s.headline == "収集中… 2 / 3", 30,
                                      "the running screen of item 2 of 3")
    expect_detail(running, lambda d: expect_equal(d, "/var/log/syslog", "the item shown while running"),
                  "running detail")
    expect(running.bar_visible and running.bar_max > 0
           and abs(running.bar_value / running.bar_max - 1 / 3) < 0.01,
           f"one third of the bar filled ({running.describe()})")
    expect_equal(running.button_title, RUNNING, "running button")
    expect(not running.button_enabled, "the running button is disabled")
    expect_equal(len(kit.progress_files()), 1, "one progress file while running")
    desktop.screenshot("running")
    # Return does nothing while the run goes on.
    desktop.press_return()
    time.sleep(0.6)
    expect_equal(desktop.read_screen().button_title, RUNNING, "button after Return while running")

    open(go, "w").close()
    screen, _ = check_failed_screen(
        desktop, kit, lambda m: expect_equal(m, error_line, "the failure message"))
    desktop.screenshot("failed")
    expect_equal(kit.progress_files(), [], "progress files left after the failure")
    check_button_keeps_screen(desktop, screen)


def quit_while_running(desktop, kit):
    """The quit shortcut during a run ends the app at once; the collector
    is left to finish on its own."""
    go = kit.scratch_path("go")
    finished = kit.scratch_path("collector-finished")
    kit.write_script(kit.collector, f"""
echo "Collecting /etc/hosts (1/1)"
i=0
while [ ! -e {shlex.quote(go)} ] && [ $i -lt 600 ]; do sleep 0.1; i=$((i + 1)); done
touch {shlex.quote(finished)}
""")
    real_runner_when_root(kit)
    kit.start()
    check_ready_screen(desktop, kit, READY_HEADLINE)
    desktop.press_return()
    desktop.wait_for_screen(lambda s: s.headline == "収集中… 1 / 1", 30, "the running screen")
    check_quits(desktop, "shortcut")
    open(go, "w").close()
    desktop.wait_for(lambda: os.path.exists(finished), 30, "the collector to finish after the app quit")


def failure_from_runner(desktop, kit):
    recording_runner(kit, """
printf '\\n  elevate: 認証できませんでした\\t\\n\\n' >&2
exit 1
""")
    kit.write_script(kit.collector, "echo 'must not run' > /dev/null\n")
    kit.start()
    check_ready_screen(desktop, kit, READY_HEADLINE)
    desktop.press_return()
    check_failed_screen(desktop, kit, lambda m: expect_equal(
        m, "elevate: 認証できませんでした", "the trimmed error output"))
    desktop.screenshot("failed-runner")
    expect_equal(kit.progress_files(), [], "progress files left after the failure")


def launch_failure(desktop, kit):
    os.remove(kit.runner)
    kit.start()
    check_ready_screen(desktop, kit, READY_HEADLINE)
    desktop.press_return()

    def accept(message):
        expect(message.startswith(LAUNCH_FAILED) and len(message) > len(LAUNCH_FAILED),
               f"the launch message with the system's description: {message!r}")

    screen, message = check_failed_screen(desktop, kit, accept, timeout=30)
    log(f"launch failure reads: {message!r}")
    desktop.screenshot("launch-failed")
    check_button_keeps_screen(desktop, screen)


def flood(desktop, kit):
    """200 MiB of collector output, and more than 1 MiB of runner error
    output written before the runner runs the collector: the window answers
    all along and the run still ends."""
    chunk = kit.scratch_path("chunk")
    with open(chunk, "w") as f:
        line = "noise " * 20 + "\n"
        f.write(line * (1024 * 1024 // len(line)))
    recording_runner(kit, """
i=0
while [ $i -lt 1600 ]; do
  echo "runner warning $i: lorem ipsum dolor sit amet, consectetur adipiscing elit, sed do eiusmod tempor incididunt ut labore et dolore magna aliqua" >&2
  echo "runner warning $i: ut enim ad minim veniam, quis nostrud exercitation ullamco laboris nisi ut aliquip ex ea commodo consequat, duis aute" >&2
  echo "runner warning $i: irure dolor in reprehenderit in voluptate velit esse cillum dolore eu fugiat nulla pariatur, excepteur sint occaecat" >&2
  echo "runner warning $i: cupidatat non proident, sunt in culpa qui officia deserunt mollit anim id est laborum, sed ut perspiciatis unde omnis" >&2
  echo "runner warning $i: iste natus error sit voluptatem accusantium doloremque laudantium, totam rem aperiam, eaque ipsa quae ab illo invent" >&2
  echo "runner warning $i: ore veritatis et quasi architecto beatae vitae dicta sunt explicabo, nemo enim ipsam voluptatem quia voluptas sit as" >&2
  echo "runner warning $i: pernatur aut odit aut fugit, sed quia consequuntur magni dolores eos qui ratione voluptatem sequi nesciunt, neque por" >&2
  i=$((i + 1))
done
""" + RUN_COMMAND_LINE)
    kit.write_script(kit.collector, f"""
i=1
while [ $i -le 200 ]; do
  cat {shlex.quote(chunk)}
  echo "Collecting chunk $i (${{i}}/200)"
  i=$((i + 1))
done
printf 'PK\\005\\006\\0\\0\\0\\0\\0\\0\\0\\0\\0\\0\\0\\0\\0\\0\\0\\0' > "$2/flood.zip"
""")
    kit.start()
    check_ready_screen(desktop, kit, READY_HEADLINE)
    started = time.time()
    desktop.press_return()

    # Every screen read while waiting for the end is also a probe of the
    # window's event loop.
    check_done_screen(desktop, kit, started, RUN_ENDS_WITHIN + 60)
    check_answers(desktop)


def flood_of_runner_errors(desktop, kit):
    """More than 1 MiB of runner error output and a failed run: the whole
    text, trimmed, is the message, and the window still answers."""
    recording_runner(kit, """
printf '\\n\\n' >&2
i=0
while [ $i -lt 12000 ]; do
  echo "runner error $i: the quick brown fox jumps over the lazy dog, 素早い茶色の狐がのろまな犬を飛び越える" >&2
  i=$((i + 1))
done
printf '   \\n' >&2
exit 1
""")
    kit.start()
    check_ready_screen(desktop, kit, READY_HEADLINE)
    desktop.press_return()

    def accept(message):
        lines = message.split("\n")
        expect_equal(len(lines), 12000, "lines of runner error output shown")
        expect(lines[0].startswith("runner error 0: ") and lines[-1].startswith("runner error 11999: "),
               "the error output from its first line to its last")
        expect(len(message.encode()) > 1024 * 1024, "more than 1 MiB shown")

    screen, _ = check_failed_screen(desktop, kit, accept)
    desktop.screenshot("failed-flood")
    check_button_keeps_screen(desktop, screen)
    check_answers(desktop)


ESSENTIAL_PACKAGES = {"libc6", "libstdc++6", "libgcc-s1"}


def packaged(desktop, build_dir):
    """The .tar.gz that cpack makes: it unpacks into a folder with the
    bundle, the bundle needs no library outside the packages the README
    names, and the unpacked app collects."""
    if os.geteuid() != 0:
        raise NeedsRoot()
    out = os.path.join(desktop.root, "cpack")
    cpack(build_dir, "TGZ", out)
    tarballs = glob.glob(os.path.join(out, "*.tar.gz"))
    expect(len(tarballs) == 1, f"one .tar.gz from cpack, found {os.listdir(out)}")
    log(f"package: {os.path.basename(tarballs[0])} ({os.path.getsize(tarballs[0])} bytes)")

    stick = os.path.join(desktop.root, "USB 証拠's stick")
    os.mkdir(stick)
    subprocess.run(["tar", "-xzf", tarballs[0], "-C", stick], check=True, timeout=120)
    tops = os.listdir(stick)
    expect(len(tops) == 1, f"the package unpacks into one folder, found {tops}")
    top = os.path.join(stick, tops[0])
    expect(os.path.isdir(os.path.join(top, "Tarnhollow.app")), f"Tarnhollow.app in {os.listdir(top)}")
    listed = read_runtime_packages(os.path.join(top, "runtime-packages.txt"))
    expect(os.access(os.path.join(top, "Tarnhollow.desktop"), os.X_OK),
           f"an executable Tarnhollow.desktop launcher in {os.listdir(top)}")

    bundle = os.path.join(top, "Tarnhollow.app")
    for program in ("Contents/MacOS/TarnhollowApp", "Contents/MacOS/tarnhollow",
                    "Contents/Helpers/elevate"):
        path = os.path.join(bundle, program)
        expect(os.access(path, os.X_OK), f"{program} is executable in the package")
        check_needs_only(path, listed | ESSENTIAL_PACKAGES)

    # Run what was unpacked, nothing from the build folder.
    kit = Kit(desktop, bundle=bundle)
    kit.start()
    check_ready_screen(desktop, kit, READY_HEADLINE)
    started = time.time()
    desktop.press_return()
    _, archive = check_done_screen(desktop, kit, started, REFERENCE_RUN_ENDS_WITHIN)
    check_reference_archive(archive)
    check_quits(desktop, "shortcut")


def cpack(build_dir, generator, out):
    made = subprocess.run(["cpack", "--config", os.path.join(build_dir, "CPackConfig.cmake"),
                           "-G", generator, "-B", out], capture_output=True, text=True, timeout=300)
    expect(made.returncode == 0, f"cpack failed: {made.stdout[-2000:]} {made.stderr[-2000:]}")


INSTALLED_BUNDLE = "/opt/tarnhollow/Tarnhollow.app"


def debian_package(desktop, build_dir):
    """The .deb, installed with apt-get into a clean Debian 12 system that
    has nothing else: apt brings what it needs, the menu entry, icon and
    polkit action land where the desktop finds them, and the installed app
    collects onto the user's desktop."""
    if os.geteuid() != 0:
        raise NeedsRoot()
    debian_root.private_mounts()
    out = os.path.join(desktop.root, "cpack")
    cpack(build_dir, "DEB", out)
    packages = glob.glob(os.path.join(out, "tarnhollow_*.deb"))
    expect(len(packages) == 1, f"one tarnhollow_*.deb from cpack, found {os.listdir(out)}")
    log(f"package: {os.path.basename(packages[0])} ({os.path.getsize(packages[0])} bytes)")

    cache = os.path.join(build_dir, "tests", "e2e", "debian-cache")
    apt_log = os.path.join(desktop.artifacts, "apt.log")
    system = debian_root.DebianRoot(debian_root.minimal_system(cache, apt_log),
                                    os.path.join(desktop.root, "debian12"),
                                    os.path.join(cache, "archives"), apt_log)
    with system:
        installed_and_collecting(desktop, system, packages[0], apt_log)


def installed_and_collecting(desktop, system, deb, apt_log):
    shutil.copy(deb, system.inside("/root"))
    package = os.path.basename(deb)
    system.run("apt-get update -qq", "apt-get update")
    system.run(f"cd /root && apt-get install -y --no-install-recommends ./{package}",
               f"apt-get install ./{package}")
    log("apt-get install: done; " + subprocess.run(
        ["grep", "-c", "^Setting up ", apt_log], capture_output=True, text=True).stdout.strip()
        + " packages set up")
    for installed in (INSTALLED_BUNDLE + "/Contents/MacOS/TarnhollowApp",
                 INSTALLED_BUNDLE + "/Contents/MacOS/tarnhollow",
                 INSTALLED_BUNDLE + "/Contents/Helpers/elevate",
                 "/usr/share/applications/tarnhollow.desktop",
                 "/usr/share/icons/hicolor/48x48/apps/tarnhollow.png",
                 "/usr/share/icons/hicolor/scalable/apps/tarnhollow.svg",
                 "/usr/share/polkit-1/actions/org.tarnhollow.collect.policy"):
        expect(os.path.exists(system.inside(installed)), f"{installed} is installed")
    with open(system.inside("/usr/share/applications/tarnhollow.desktop"), encoding="utf-8") as f:
        entry = f.read()
    expect(f"Exec={INSTALLED_BUNDLE}/Contents/MacOS/TarnhollowApp\n" in entry and "Icon=tarnhollow\n" in entry,
           "the menu entry starts the installed app with its icon")

    # The desktop's sockets and this run's folders all lie in /tmp.
    system.bind("/tmp", "/tmp")
    kit = Kit(desktop, bundle=INSTALLED_BUNDLE)
    kit.folder = os.path.join(desktop.env["HOME"], "Desktop")
    os.mkdir(kit.folder)
    kit.start(system.prefix())
    check_ready_screen(desktop, kit, READY_HEADLINE)
    started = time.time()
    desktop.press_return()
    _, archive = check_done_screen(desktop, kit, started, REFERENCE_RUN_ENDS_WITHIN)
    check_reference_archive(archive)
    check_quits(desktop, "shortcut")


def read_runtime_packages(path):
    with open(path, encoding="utf-8") as f:
        return {line.strip() for line in f if line.strip() and not line.startswith("#")}


def check_needs_only(program, allowed):
    """Every shared library the program asks for comes from an allowed
    Debian package, and nothing points into a build folder."""
    dynamic = subprocess.run(["readelf", "-d", program], capture_output=True, text=True,
                             timeout=30).stdout
    expect("RPATH" not in dynamic and "RUNPATH" not in dynamic,
           f"{os.path.basename(program)} has no library search path of its own")
    needed = re.findall(r"\(NEEDED\)\s+Shared library: \[([^\]]+)\]", dynamic)
    ldd = subprocess.run(["ldd", program], capture_output=True, text=True, timeout=30).stdout
    where = dict(re.findall(r"^\s*(\S+) => (\S+)", ldd, re.M))
    for library in needed:
        path = where.get(library)
        expect(path and path != "not", f"{os.path.basename(program)} finds {library}")
        owner = subprocess.run(["dpkg", "-S", os.path.realpath(path)], capture_output=True,
                               text=True, timeout=30)
        if owner.returncode != 0:  # merged /usr: dpkg may know the other spelling
            other = os.path.realpath(path).replace("/usr/lib/", "/lib/", 1)
            owner = subprocess.run(["dpkg", "-S", other], capture_output=True, text=True, timeout=30)
        package = owner.stdout.split(":", 1)[0]
        expect(package in allowed,
               f"{os.path.basename(program)} needs {library} from {package or 'no package'}, "
               f"which the runtime packages do not name")


SCENARIOS = {
    "success": success_with_reference_collector,
    "cancel": cancel_then_run_again,
    "collector-failure": failure_from_collector,
    "runner-failure": failure_from_runner,
    "quit-while-running": quit_while_running,
    "launch-failure": launch_failure,
    "flood": flood,
    "runner-error-flood": flood_of_runner_errors,
    "package": packaged,
    "deb": debian_package,
}


class _Interrupted(Exception):
    pass


def _interrupt(signum, _frame):
    raise _Interrupted(f"stopped by signal {signum}")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("scenario", choices=sorted(SCENARIOS))
    parser.add_argument("--bundle", required=True)
    parser.add_argument("--artifacts", required=True)
    parser.add_argument("--build-dir", help="the build folder, for the package scenario")
    parser.add_argument("--deadline", type=int, default=420,
                        help="seconds before the scenario gives up and cleans up")
    args = parser.parse_args()

    # Our own deadline comes before the test runner's, so that cleaning up
    # still happens.
    signal.signal(signal.SIGTERM, _interrupt)
    signal.signal(signal.SIGALRM, _interrupt)
    signal.alarm(args.deadline)

    artifacts = os.path.join(args.artifacts, args.scenario)
    shutil.rmtree(artifacts, ignore_errors=True)
    desktop = Desktop(artifacts)
    try:
        desktop.open()
        if args.scenario in ("package", "deb"):
            SCENARIOS[args.scenario](desktop, args.build_dir)
        else:
            kit = Kit(desktop, args.bundle)
            log(f"kit: {kit.bundle}")
            SCENARIOS[args.scenario](desktop, kit)
    except NeedsRoot:
        log("skipped: a real collection needs root, as in CI")
        return SKIPPED
    except (CheckFailed, _Interrupted) as failure:
        if desktop.window:
            desktop.screenshot("at-failure")
        log(f"FAILED: {failure}")
        log(f"artifacts: {artifacts}")
        return 1
    finally:
        signal.alarm(0)
        desktop.close()
    log(f"passed; artifacts: {artifacts}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
