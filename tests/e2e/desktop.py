"""A private X display with the built app on it, driven the way a person
drives it: keys through xdotool, the screen through screenshots, and the
labels' texts and the button's state read as assistive technology reads them
(AT-SPI over a private D-Bus session).

Everything started here is ended by Desktop.close(), also when a check fails
or the run is interrupted: the harness makes itself a child subreaper, so
even processes that the app leaves behind (a runner, a collector) become its
children and are found again.
"""

import ctypes
import os
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time
from dataclasses import dataclass

APP_WINDOW_TITLE = "Tarnhollow"
PR_SET_CHILD_SUBREAPER = 36


class CheckFailed(AssertionError):
    pass


def mounts_under(folder):
    """Mount points at or below `folder`, deepest first."""
    found = []
    with open("/proc/self/mountinfo", encoding="utf-8") as f:
        for line in f:
            # The mount point is the fifth field, with spaces as \040.
            point = line.split()[4].encode().decode("unicode_escape").encode("latin-1").decode()
            if point == folder or point.startswith(folder.rstrip("/") + "/"):
                found.append(point)
    return sorted(found, key=len, reverse=True)


def _read_line_from_fd(fd, timeout, what):
    """The first line written to `fd`, or CheckFailed after `timeout` seconds."""
    deadline = time.monotonic() + timeout
    data = b""
    while b"\n" not in data:
        left = deadline - time.monotonic()
        if left <= 0:
            raise CheckFailed(f"{what} did not start within {timeout} s")
        ready, _, _ = select.select([fd], [], [], left)
        if ready:
            chunk = os.read(fd, 4096)
            if not chunk:
                raise CheckFailed(f"{what} ended before it was ready")
            data += chunk
    return data.split(b"\n", 1)[0].decode()


def _descendants(root_pid):
    """Every live process below `root_pid`, deepest first."""
    children = {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/stat", "rb") as f:
                stat = f.read()
        except OSError:
            continue
        # The command name is in parentheses and may hold spaces.
        fields = stat[stat.rfind(b")") + 2:].split()
        children.setdefault(int(fields[1]), []).append(int(entry))
    found = []

    def walk(pid):
        for child in children.get(pid, []):
            walk(child)
            found.append(child)

    walk(root_pid)
    return found


class _ClientMessage(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", ctypes.c_ulong),
                ("message_type", ctypes.c_ulong), ("format", ctypes.c_int),
                ("data", ctypes.c_long * 5)]


class _XEvent(ctypes.Union):
    _fields_ = [("xclient", _ClientMessage), ("pad", ctypes.c_long * 24)]


def send_delete_window(display_name, window):
    x11 = ctypes.CDLL("libX11.so.6")
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x11.XInternAtom.restype = ctypes.c_ulong
    x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
    x11.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long,
                               ctypes.POINTER(_XEvent)]
    x11.XFlush.argtypes = [ctypes.c_void_p]
    x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
    display = x11.XOpenDisplay(display_name.encode())
    if not display:
        raise CheckFailed(f"cannot open display {display_name}")
    try:
        event = _XEvent()
        event.xclient.type = 33  # ClientMessage
        event.xclient.window = window
        event.xclient.message_type = x11.XInternAtom(display, b"WM_PROTOCOLS", 0)
        event.xclient.format = 32
        event.xclient.data[0] = x11.XInternAtom(display, b"WM_DELETE_WINDOW", 0)
        event.xclient.data[1] = 0  # CurrentTime
        x11.XSendEvent(display, window, 0, 0, ctypes.byref(event))
        x11.XFlush(display)
    finally:
        x11.XCloseDisplay(display)


@dataclass
class Screen:
    """What the window shows, as assistive technology reads it."""
    window_title: str
    headline: str
    detail: str | None  # None: the window does not expose it
    bar_visible: bool
    bar_value: float
    bar_max: float
    button_title: str
    button_enabled: bool

    def describe(self):
        bar = (f"shown {self.bar_value:g}/{self.bar_max:g}" if self.bar_visible else "hidden")
        detail = self.detail
        if detail is not None and len(detail) > 400:
            detail = detail[:400] + "…"
        return (f"headline={self.headline!r} detail={detail!r} bar={bar} "
                f"button={self.button_title!r} {'enabled' if self.button_enabled else 'disabled'}")


class Desktop:
    """Xvfb, a D-Bus session with the accessibility bus, and one app on them."""

    def __init__(self, artifacts):
        self.artifacts = artifacts
        os.makedirs(artifacts, exist_ok=True)
        self.root = tempfile.mkdtemp(prefix="tarnhollow-e2e-")
        self.env = {}
        self.xvfb = None
        self.dbus = None
        self.app = None
        self.app_log = None
        self.window = None
        self._atspi = None
        self._app_accessible = None
        self.slowest_read = 0.0
        self.slowest_answer = 0.0
        self._reads_log = None
        self._controls = None
        self._opened = time.monotonic()

    # --- start and stop -------------------------------------------------

    def open(self):
        libc = ctypes.CDLL(None, use_errno=True)
        libc.prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0)

        runtime = os.path.join(self.root, "runtime")
        os.mkdir(runtime, 0o700)
        home = os.path.join(self.root, "home")
        os.mkdir(home)
        self.env = {
            "PATH": "/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin",
            "HOME": home,
            "LANG": "C.UTF-8",
            "XDG_RUNTIME_DIR": runtime,
        }

        # -displayfd lets the server pick a free display number itself, so
        # tests running side by side never collide.
        read_end, write_end = os.pipe()
        self.xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24",
             "-nolisten", "tcp", "-noreset"],
            pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=self._log("xvfb.log"),
            env=self.env, start_new_session=True)
        os.close(write_end)
        try:
            self.env["DISPLAY"] = ":" + _read_line_from_fd(read_end, 30, "Xvfb")
        finally:
            os.close(read_end)

        read_end, write_end = os.pipe()
        self.dbus = subprocess.Popen(
            ["dbus-daemon", "--session", "--nofork", f"--print-address={write_end}"],
            pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=self._log("dbus.log"),
            env=self.env, start_new_session=True)
        os.close(write_end)
        try:
            self.env["DBUS_SESSION_BUS_ADDRESS"] = _read_line_from_fd(read_end, 30, "dbus-daemon")
        finally:
            os.close(read_end)

        # The AT-SPI client library reads the bus address from the
        # environment of this process.
        os.environ.update(self.env)
        import gi
        gi.require_version("Atspi", "2.0")
        from gi.repository import Atspi
        self._atspi = Atspi
        Atspi.init()
        # Long per-call limits: a slow answer is measured, not mistaken for
        # a missing one.
        Atspi.set_timeout(30000, 30000)
        Atspi.get_desktop(0).get_child_count()  # starts the accessibility bus
        return self

    def close(self):
        for f in (self.app_log, self._reads_log):
            if f:
                f.close()
        # Our own children first, gently, then whatever is left below us.
        for proc in (self.app, self.dbus, self.xvfb):
            if proc and proc.poll() is None:
                proc.terminate()
        deadline = time.monotonic() + 5
        for proc in (self.app, self.dbus, self.xvfb):
            if proc:
                try:
                    proc.wait(max(0.1, deadline - time.monotonic()))
                except subprocess.TimeoutExpired:
                    pass
        for _ in range(3):
            left = _descendants(os.getpid())
            if not left:
                break
            for pid in left:
                try:
                    os.kill(pid, signal.SIGKILL)
                except ProcessLookupError:
                    pass
            for pid in left:
                try:
                    os.waitpid(pid, 0)
                except ChildProcessError:
                    pass
        # Never delete through a mount (a system's /tmp bound into a chroot).
        if mounts_under(self.root):
            log(f"left {self.root} in place: it still holds mounts")
        else:
            shutil.rmtree(self.root, ignore_errors=True)

    def __enter__(self):
        return self.open()

    def __exit__(self, *exc):
        self.close()
        return False

    def _log(self, name):
        return open(os.path.join(self.artifacts, name), "wb")

    # --- the app --------------------------------------------------------

    def start_app(self, bundle, tmpdir, prefix=()):
        """Starts the bundle's GUI, through `prefix` (such as a chroot) when
        given, and waits for its window and its accessibility tree."""
        env = dict(self.env)
        env.update({
            "TMPDIR": tmpdir,
            "QT_QPA_PLATFORM": "xcb",
            "QT_LINUX_ACCESSIBILITY_ALWAYS_ON": "1",
        })
        self.app_log = self._log("app.log")
        self.app = subprocess.Popen(
            [*prefix, os.path.join(bundle, "Contents", "MacOS", "TarnhollowApp")],
            stdin=subprocess.DEVNULL, stdout=self.app_log, stderr=subprocess.STDOUT,
            env=env, cwd=self.root)
        self.window = self.wait_for(self._find_window, 30, "the app's window")
        self._app_accessible = self.wait_for(self._find_accessible_app, 30,
                                             "the app in the accessibility tree")
        return self.app

    def app_running(self):
        return self.app is not None and self.app.poll() is None

    def _xdotool(self, *args, timeout=10):
        try:
            return subprocess.run(["xdotool", *args], env=self.env, capture_output=True,
                                  text=True, timeout=timeout)
        except subprocess.TimeoutExpired:
            raise CheckFailed(f"xdotool {' '.join(args)} did not answer within {timeout} s")

    def _find_window(self):
        self._require_app_alive()
        found = self._xdotool("search", "--onlyvisible", "--name", f"^{APP_WINDOW_TITLE}$")
        ids = found.stdout.split()
        return ids[0] if ids else None

    def _find_accessible_app(self):
        self._require_app_alive()
        desktop = self._atspi.get_desktop(0)
        desktop.clear_cache()
        for i in range(desktop.get_child_count()):
            child = desktop.get_child_at_index(i)
            try:
                if child is not None and child.get_process_id() == self.app.pid:
                    return child
            except Exception:
                continue
        return None

    def _require_app_alive(self):
        if self.app is not None and self.app.poll() is not None:
            raise CheckFailed(f"the app ended (exit status {self.app.returncode}); see app.log")

    # --- what a person does ---------------------------------------------

    def press_return(self):
        """Gives the window the keyboard focus and presses Return."""
        self._require_app_alive()
        self._xdotool("windowfocus", "--sync", self.window)
        self._xdotool("key", "--clearmodifiers", "Return")

    def click_button(self):
        """Moves the pointer to the middle of the button and clicks."""
        self._require_app_alive()
        if self._controls is None:
            self.read_screen()
        button = self._controls[-1]
        button.clear_cache()
        box = button.get_extents(self._atspi.CoordType.SCREEN)
        x, y = box.x + box.width // 2, box.y + box.height // 2
        self._xdotool("mousemove", "--sync", str(x), str(y))
        self._xdotool("click", "1")

    def close_window(self):
        """What a window manager does when a person clicks the close box:
        a WM_DELETE_WINDOW message to the window (there is no window
        manager on this display to send it)."""
        send_delete_window(self.env["DISPLAY"], int(self.window))

    def press_quit_shortcut(self):
        self._require_app_alive()
        self._xdotool("windowfocus", "--sync", self.window)
        self._xdotool("key", "--clearmodifiers", "ctrl+q")

    def screenshot(self, name):
        """The window as a PNG in the artifacts folder."""
        path = os.path.join(self.artifacts, name + ".png")
        target = self.window if self.window else "root"
        try:
            subprocess.run(["import", "-window", target, path], env=self.env,
                           capture_output=True, timeout=30)
        except subprocess.TimeoutExpired:
            pass
        return path

    # --- what a person sees ---------------------------------------------

    def read_screen(self):
        """The four controls and the window title, read afresh."""
        self._require_app_alive()
        Atspi = self._atspi
        app = self._app_accessible
        app.clear_cache()
        began = time.monotonic()

        def ask(method, *args):
            # Each question is one round trip through the app's event loop:
            # the slowest is how long a person would have waited for the
            # window to react.
            asked = time.monotonic()
            answer = method(*args)
            self.slowest_answer = max(self.slowest_answer, time.monotonic() - asked)
            return answer

        def role(node):
            return ask(node.get_role)

        def children(node):
            return [ask(node.get_child_at_index, i) for i in range(ask(node.get_child_count))]

        if self._controls is None:
            self._controls = self._find_controls(ask, role, children)
        window, headline, bar, detail, detail_is_label, button = self._controls
        for node in (window, headline, bar, detail, button):
            if node is not None:
                node.clear_cache()
        # A text drawn by a widget of its own is exposed through its name.
        detail_text = ask(detail.get_name) if detail is not None else ""
        if detail is not None and not detail_is_label and not detail_text:
            detail_text = None
        screen = Screen(
            window_title=ask(window.get_name) if window is not None else "",
            headline=ask(headline.get_name),
            detail=detail_text,
            bar_visible=ask(bar.get_state_set).contains(Atspi.StateType.VISIBLE),
            bar_value=ask(bar.get_current_value),
            bar_max=ask(bar.get_maximum_value),
            button_title=ask(button.get_name),
            button_enabled=ask(button.get_state_set).contains(Atspi.StateType.ENABLED),
        )
        took = time.monotonic() - began
        self.slowest_read = max(self.slowest_read, took)
        if self._reads_log is None:
            self._reads_log = self._log("screens.log")
        self._reads_log.write(f"{time.monotonic() - self._opened:8.2f} s  read in {took:5.2f} s  "
                              f"slowest answer so far {self.slowest_answer:5.2f} s  "
                              f"{screen.describe()}\n".encode())
        self._reads_log.flush()
        return screen

    def _find_controls(self, ask, role, children):
        """The window and its four controls; they live as long as the app."""
        Atspi = self._atspi
        app = self._app_accessible

        def find(node, wanted, depth=0):
            if node is None or depth > 12:
                return None
            if role(node) == wanted:
                return node
            for child in children(node):
                found = find(child, wanted, depth + 1)
                if found:
                    return found
            return None

        # The four controls are siblings, in the window's top-to-bottom order.
        bar = find(app, Atspi.Role.PROGRESS_BAR)
        if bar is None:
            raise CheckFailed("no progress bar in the window")
        controls = children(ask(bar.get_parent))
        roles = [role(c) for c in controls]
        labels = [c for c, r in zip(controls, roles) if r == Atspi.Role.LABEL]
        buttons = [c for c, r in zip(controls, roles) if r == Atspi.Role.PUSH_BUTTON]
        others = [c for c, r in zip(controls, roles) if r not in
                  (Atspi.Role.LABEL, Atspi.Role.PUSH_BUTTON, Atspi.Role.PROGRESS_BAR)]
        if len(controls) != 4 or not labels or len(buttons) != 1:
            raise CheckFailed("expected a headline, a bar, a detail text and a button; found "
                              + ", ".join(f"{c.get_role_name()} {c.get_name()!r}" for c in controls))
        detail = labels[1] if len(labels) > 1 else others[0] if others else None
        # A text of its own may sit inside a scrolling frame: the innermost
        # element is the text itself.
        while detail is not None and detail not in labels and ask(detail.get_child_count) > 0:
            detail = ask(detail.get_child_at_index, 0)
        window = ask(app.get_child_at_index, 0)
        return window, labels[0], bar, detail, len(labels) > 1, buttons[0]

    def wait_for(self, probe, timeout, what, interval=0.2):
        """Calls `probe` until it answers something other than None/False."""
        deadline = time.monotonic() + timeout
        while True:
            answer = probe()
            if answer:
                return answer
            if time.monotonic() > deadline:
                raise CheckFailed(f"waited {timeout} s for {what}")
            time.sleep(interval)

    def wait_for_screen(self, accept, timeout, what, on_screen=None):
        """Reads the screen until `accept(screen)` holds; `on_screen` sees
        every screen read on the way."""
        last = [None]

        def probe():
            screen = self.read_screen()
            last[0] = screen
            if on_screen:
                on_screen(screen)
            if not accept(screen):
                return None
            # The controls are read one after the other; while the app is
            # busy a read can straddle a change of screen. Only a screen
            # read twice alike counts.
            again = self.read_screen()
            last[0] = again
            return again if again == screen else None

        try:
            return self.wait_for(probe, timeout, what)
        except CheckFailed as failure:
            self.screenshot("timeout")
            seen = last[0].describe() if last[0] else "nothing"
            raise CheckFailed(f"{failure}; last seen: {seen}") from None


def log(message):
    print(message, flush=True)
    sys.stdout.flush()
