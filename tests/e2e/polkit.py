# A real polkit for whole runs of the installed package: a system D-Bus and
# polkitd (unless the machine runs a bus already), a throwaway user, and a
# rule that answers for the collection's action. Everything started here is
# ended by its PID; the rule, the user and a package that was not there
# before go again.

import contextlib, ctypes, fcntl, os, pwd, socket, subprocess, time
from desktop import expect, log

ACTION, USER = "org.tarnhollow.collect", "tarnhollow-e2e"
RULE, BUS = "/etc/polkit-1/rules.d/00-tarnhollow-e2e.rules", "/run/dbus/system_bus_socket"


def run(*argv):
    done = subprocess.run(argv, capture_output=True, text=True, timeout=120)
    expect(done.returncode == 0, f"{' '.join(argv)}: {done.stdout[-1000:]} {done.stderr[-1000:]}")


def wait_for(done, what):
    deadline = time.monotonic() + 20
    while not done():
        expect(time.monotonic() < deadline, f"waited 20 s for {what}")
        time.sleep(0.2)


def bus_answers():
    with socket.socket(socket.AF_UNIX) as bus:
        return bus.connect_ex(BUS) == 0


def kill(pids):
    for pid in pids:
        subprocess.run(["kill", "-KILL", pid], stderr=subprocess.DEVNULL)


class Polkit:

    def __init__(self, deb, logs):
        self.deb, self.logs, self.started, self.had_package, self.user = deb, logs, [], True, None

    def __enter__(self):
        # The bus, the rule and the user are the machine's: one such test at a time.
        self.lock = open("/run/lock/tarnhollow-e2e-polkit", "w")
        fcntl.flock(self.lock, fcntl.LOCK_EX)
        ctypes.CDLL(None).prctl(36, 1, 0, 0, 0)  # PR_SET_CHILD_SUBREAPER: what runs as root comes back here
        try:
            self.had_package = subprocess.run(["dpkg-query", "-W", "tarnhollow"], capture_output=True).returncode == 0
            run("dpkg", "-i", self.deb)
            run("useradd", "--user-group", "--no-create-home", "--home-dir", "/nonexistent", "--shell", "/bin/sh", USER)
            self.user = pwd.getpwnam(USER)
            if not bus_answers():
                with contextlib.suppress(FileNotFoundError):
                    os.remove(BUS)  # what a killed bus left
                self._start("dbus-daemon", "--system", "--nofork", "--nopidfile")
                wait_for(bus_answers, "the system bus")
                self._start("/usr/lib/polkit-1/polkitd", "--no-debug")
        except BaseException:
            self.__exit__()
            raise
        return self

    def _start(self, *argv):
        with open(os.path.join(self.logs, os.path.basename(argv[0]) + ".log"), "ab") as out:
            self.started.append(subprocess.Popen(argv, stdout=out, stderr=out, start_new_session=True))

    def answer(self, yes):
        # polkitd reads a changed rule anew; pkcheck as the user tells when (0: yes, 1: no).
        with open(RULE, "w", encoding="utf-8") as f:
            f.write(f'polkit.addRule(function(action, subject) {{\n  if (action.id == "{ACTION}" && '
                    f'subject.user == "{USER}")\n    return polkit.Result.{"YES" if yes else "NO"};\n}});\n')
        check = ["runuser", "-u", USER, "--", "sh", "-c", f"exec pkcheck --action-id {ACTION} --process $$"]
        wait_for(lambda: subprocess.run(check, capture_output=True, timeout=30).returncode == (0 if yes else 1),
                 f"polkitd to answer {yes}")

    def run_as_user(self, argv, artifacts):
        os.makedirs(artifacts)
        os.chown(artifacts, self.user.pw_uid, self.user.pw_gid)
        return subprocess.run(["runuser", "-u", USER, "--", *argv], timeout=400).returncode

    def __exit__(self, *_):
        with contextlib.suppress(FileNotFoundError):
            os.remove(RULE)
        if self.user:
            for _ in range(3):  # every process of the user's is the test's
                kill(subprocess.run(["pgrep", "-u", USER], capture_output=True, text=True).stdout.split())
                time.sleep(0.2)
            subprocess.run(["chown", "-R", "root:root", self.logs])
            subprocess.run(["userdel", USER])
        started = [process for process in self.started if process.poll() is None]
        kill(set(subprocess.run(["pgrep", "-P", str(os.getpid())], capture_output=True, text=True).stdout.split()) -
             {str(process.pid) for process in started})
        for process in reversed(started):
            process.terminate()
            process.wait(10)
        if self.started:
            with contextlib.suppress(FileNotFoundError):
                os.remove(BUS)
        if not self.had_package:
            subprocess.run(["dpkg", "--purge", "tarnhollow"], stdout=subprocess.DEVNULL)
        self.lock.close()
        log("polkit: the rule, the user and what was started are gone")
