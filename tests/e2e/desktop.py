# A private X display with the built app on it, driven the way a person
# drives it: keys and clicks through xdotool, pictures through ImageMagick's
# import, and the controls read as a screen reader reads them (pyatspi over a
# private D-Bus session).
#
# Everything started here ends with the Desktop, also when a check fails: the
# harness makes itself a child subreaper, so that what the app leaves behind
# (a runner, a collector) becomes its child and is found again.

import contextlib, ctypes, os, shutil, subprocess, tempfile, time
from collections import namedtuple

Screen = namedtuple("Screen", "headline detail bar_visible bar_value bar_max button button_enabled")


class CheckFailed(AssertionError):
    pass


def expect(condition, message):
    if not condition:
        raise CheckFailed(message)


def log(message):
    print(message, flush=True)


class Adopted:
    # The app as a child that its launcher left to us, found by its window.

    def __init__(self, window):
        self.pid, self.returncode = int(subprocess.check_output(["xdotool", "getwindowpid", window.split()[0]])), None

    def poll(self):
        if self.returncode is None and os.waitpid(self.pid, os.WNOHANG)[0]:
            self.returncode = -1
        return self.returncode

    def wait(self, timeout):
        for _ in range(int(timeout * 10)):
            if self.poll() is not None:
                return
            time.sleep(0.1)
        raise subprocess.TimeoutExpired("the app", timeout)


class Desktop:
    # Xvfb, a D-Bus session with the accessibility bus, and one app on them.

    def __init__(self, artifacts):
        self.artifacts = artifacts
        os.makedirs(artifacts, exist_ok=True)
        self.root = tempfile.mkdtemp(prefix="tarnhollow-e2e-")
        self.servers, self.app, self.window, self.controls = [], None, None, None
        self.slowest_read = 0.0

    def __enter__(self):
        ctypes.CDLL(None).prctl(36, 1, 0, 0, 0)  # PR_SET_CHILD_SUBREAPER
        runtime, home = os.path.join(self.root, "runtime"), os.path.join(self.root, "home")
        os.mkdir(runtime, 0o700)
        os.mkdir(home)
        os.environ.clear()
        os.environ.update(PATH="/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin",
                          HOME=home, LANG="C.UTF-8", XDG_RUNTIME_DIR=runtime)
        # Both servers pick a free address themselves and tell it through a
        # pipe, so that tests side by side never collide.
        os.environ["DISPLAY"] = ":" + self._server(
            "Xvfb -displayfd {} -screen 0 1024x768x24 -nolisten tcp -noreset")
        os.environ["DBUS_SESSION_BUS_ADDRESS"] = self._server(
            "dbus-daemon --session --nofork --print-address={}")
        global pyatspi
        import pyatspi
        pyatspi.setTimeout(30000, 30000)  # a slow answer is measured, not mistaken for none
        return self

    def _server(self, command):
        read_end, write_end = os.pipe()
        with open(os.path.join(self.artifacts, command.split()[0] + ".log"), "wb") as out:
            self.servers.append(subprocess.Popen(command.format(write_end).split(), pass_fds=(write_end,),
                                                 stdout=out, stderr=out, start_new_session=True))
        os.close(write_end)
        with os.fdopen(read_end, "rb") as f:
            address = f.readline().decode().strip()
        expect(address, f"{command.split()[0]} did not start")
        return address

    def __exit__(self, failed, *_):
        if failed and self.window:
            self.screenshot("at-failure")
        for _ in range(3):  # what a killed process leaves comes back to us, the subreaper
            subprocess.run(["pkill", "-KILL", "-P", str(os.getpid())])
            time.sleep(0.2)
        shutil.rmtree(self.root, ignore_errors=True)

    def start_app(self, bundle, tmpdir, launcher=None, cwd=None):
        # Starts the bundle's app, or has `launcher` start it, and waits for
        # its window and its accessible controls.
        self.controls = None
        with open(os.path.join(self.artifacts, "app.log"), "ab") as out:
            self.app = subprocess.Popen(
                launcher or [os.path.join(bundle, "Contents/MacOS/TarnhollowApp")], stdin=subprocess.DEVNULL,
                stdout=out, stderr=out, cwd=cwd or self.root, env=dict(
                    os.environ, TMPDIR=tmpdir, QT_QPA_PLATFORM="xcb", QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1"))
        if launcher:  # the launcher's child comes to us, the subreaper, once the launcher has gone
            expect(self.app.wait(30) == 0, f"{launcher[:2]} ended with status {self.app.returncode}; see app.log")
            self.app = Adopted(self.xdotool("search", "--sync", "--onlyvisible", "--name", "^Tarnhollow$"))
        self.window = self.xdotool("search", "--sync", "--onlyvisible", "--name", "^Tarnhollow$").split()[0]
        deadline = time.monotonic() + 30
        while not self.controls:
            expect(time.monotonic() < deadline, "the app on the accessibility bus")
            self.alive()
            pyatspi.Registry.getDesktop(0).clearCache()
            app = next((a for a in pyatspi.Registry.getDesktop(0) if a and a.get_process_id() == self.app.pid), None)
            bar = app and pyatspi.findDescendant(app, lambda a: a.getRole() == pyatspi.ROLE_PROGRESS_BAR)
            if bar:
                # Siblings, top to bottom; the detail text sits in a scrolling frame.
                self.controls = list(bar.parent)
                while self.controls[2].childCount:
                    self.controls[2] = self.controls[2][0]
            time.sleep(0.2)

    def alive(self):
        expect(self.app.poll() is None, f"the app ended with status {self.app.returncode}; see app.log")

    def xdotool(self, *args):
        return subprocess.run(["xdotool", *args], capture_output=True, text=True, timeout=30).stdout

    def press(self, key="Return"):
        self.alive()
        self.xdotool("windowfocus", "--sync", self.window, "key", "--clearmodifiers", key)

    def click_button(self):
        box = self.controls[3].queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
        self.xdotool("mousemove", "--sync", str(box.x + box.width // 2), str(box.y + box.height // 2),
                     "click", "1")

    def screenshot(self, name):
        with contextlib.suppress(subprocess.TimeoutExpired):
            subprocess.run(["import", "-window", self.window or "root",
                            os.path.join(self.artifacts, name + ".png")], capture_output=True, timeout=30)

    def read(self):
        # The four controls, read afresh; each read also times the window's
        # event loop, which answers every question.
        self.alive()
        began = time.monotonic()
        for control in self.controls:
            control.clearCache()
        headline, bar, detail, button = self.controls
        value = bar.queryValue()
        screen = Screen(headline.name, detail.name, bar.getState().contains(pyatspi.STATE_VISIBLE),
                        value.currentValue, value.maximumValue, button.name,
                        button.getState().contains(pyatspi.STATE_ENABLED))
        took = time.monotonic() - began
        self.slowest_read = max(self.slowest_read, took)
        return screen

    def wait(self, accept, what, timeout=30):
        # The first screen that `accept` takes, read twice alike (a read can
        # straddle a change of screen).
        deadline, last = time.monotonic() + timeout, None
        while time.monotonic() < deadline:
            screen = self.read()
            if accept(screen) and screen == last:
                return screen
            last = screen
            time.sleep(0.2)
        self.screenshot("timeout")
        raise CheckFailed(f"waited {timeout} s for {what}; last seen {str(last)[:600]}")
