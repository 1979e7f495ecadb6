"""The console package on a clean Debian 12 booted with systemd: installed
with dpkg, its service tried from outside as an administrator would (install,
start with its readiness and status line, a change reported, pause and
continue by signal, stop during a running action, a missing configuration
explained in the journal, enabled and rebooted with changes made while it
was down, removed without a trace, a user's service with linger), then the
package removed and purged while its service runs.

    python3 systemd_test.py BASE_ROOT WORK_ROOT quorvel-console.deb

BASE_ROOT is a minbase Debian root with systemd (left as it is); WORK_ROOT
is made anew from it and booted with systemd-nspawn, entered with nsenter.
"""

import os
import shutil
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from quorvel_test import wait_for  # noqa: E402

BASE = WORK = DEB = None
DEADLINE = 120
UNIT = "/etc/systemd/system/quorvinsvc.service"
WANTS = "/etc/systemd/system/multi-user.target.wants/quorvinsvc.service"


class Container:
    """A root booted by systemd-nspawn and entered with nsenter."""

    def __init__(self, root, log):
        self.root = root
        self.log = log
        self.nspawn = None
        self.leader = None

    def path(self, inside):
        return os.path.join(self.root, inside.lstrip("/"))

    def write(self, inside, text, mode=0o644):
        path = self.path(inside)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w") as f:
            f.write(text)
        os.chmod(path, mode)

    def read(self, inside):
        try:
            with open(self.path(inside)) as f:
                return f.read()
        except OSError:
            return ""

    def boot(self):
        self.leader = None
        with open(self.log, "a") as log:
            # --keep-unit and --register=no: no systemd needed on the host.
            self.nspawn = subprocess.Popen(
                ["systemd-nspawn", "--register=no", "--keep-unit", "-q", "-b", "-D", self.root,
                 "--machine=quorveltest"],
                stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT)

        def leader():
            try:
                for task in os.listdir("/proc/%d/task" % self.nspawn.pid):
                    with open("/proc/%d/task/%s/children" % (self.nspawn.pid, task)) as f:
                        children = f.read().split()
                    if children:
                        self.leader = int(children[0])
                        return True
            except OSError:
                pass
            return False
        if not wait_for(leader, DEADLINE):
            raise RuntimeError("the container did not start; see " + self.log)
        # Until systemd runs as the container's first process the answer is
        # "offline"; --wait then waits for the boot to end.
        state = {}

        def booted():
            r = self.run("systemctl", "is-system-running", "--wait", timeout=300)
            state["text"] = r.stdout + r.stderr
            return r.stdout.strip() not in ("offline", "")
        if not wait_for(booted, DEADLINE) or state["text"].strip() not in ("running", "degraded"):
            raise RuntimeError("the container did not boot: " + state.get("text", ""))

    def run(self, *argv, user=None, timeout=DEADLINE, check=False):
        command = list(argv)
        if user is not None:
            uid = self.uid(user)
            command = ["runuser", "-u", user, "--", "env", "XDG_RUNTIME_DIR=/run/user/%d" % uid,
                       "HOME=/home/" + user] + command
        r = subprocess.run(["nsenter", "-t", str(self.leader), "-a", "--"] + command,
                           capture_output=True, text=True, timeout=timeout)
        if check and r.returncode != 0:
            raise AssertionError("%s failed (%d):\n%s%s" % (" ".join(argv), r.returncode,
                                                            r.stdout, r.stderr))
        return r

    def uid(self, user):
        for line in self.read("/etc/passwd").splitlines():
            fields = line.split(":")
            if fields[0] == user:
                return int(fields[2])
        raise KeyError(user)

    def poweroff(self):
        self.run("systemctl", "poweroff")
        self.nspawn.wait(timeout=DEADLINE)
        self.nspawn = None

    def end(self):
        """Powers off, else kills the container's first process and
        systemd-nspawn: nothing of it outlives the test."""
        if self.nspawn is None:
            return
        try:
            self.poweroff()
        except Exception:
            for pid in (self.leader, self.nspawn.pid):
                try:
                    if pid is not None:
                        os.kill(pid, 9)
                except OSError:
                    pass
            self.nspawn.wait()
            self.nspawn = None


class SystemdTest(unittest.TestCase):
    """One administrator's session, step by step in order."""

    @classmethod
    def setUpClass(cls):
        if os.path.lexists(WORK):
            shutil.rmtree(WORK)
        subprocess.run(["cp", "-a", "--reflink=auto", BASE, WORK], check=True)
        # Not in /tmp: the booted container mounts a fresh one there.
        shutil.copy(DEB, os.path.join(WORK, "root", "quorvel-console.deb"))
        cls.box = Container(WORK, WORK + ".log")
        try:
            cls.prepare()
        except BaseException:
            cls.box.end()
            raise

    @classmethod
    def prepare(cls):
        cls.box.boot()
        r = cls.box.run("dpkg", "-i", "/root/quorvel-console.deb", timeout=300)
        if r.returncode != 0:
            # What minbase lacks comes from the archive.
            cls.box.run("apt-get", "update", timeout=600, check=True)
            cls.box.run("apt-get", "-y", "install", "/root/quorvel-console.deb", timeout=600,
                        check=True)
        cls.box.run("quorvinsvc", "--version", check=True)
        cls.box.run("mkdir", "-p", "/srv/inbox", "/srv/conf\\x", check=True)

    @classmethod
    def tearDownClass(cls):
        cls.box.end()

    def service(self, *argv, user=None):
        return self.box.run("quorvinsvc", *argv, user=user)

    def systemctl(self, *argv):
        return self.box.run("systemctl", *argv).stdout.strip()

    def status(self):
        return self.systemctl("show", "-p", "StatusText", "--value", "quorvinsvc.service")

    def journal(self):
        return self.box.run("journalctl", "-u", "quorvinsvc.service", "-o", "cat",
                            "--no-pager").stdout

    def running(self, program):
        """Whether a process of that name runs in the container (minbase has
        no pgrep)."""
        script = ('for p in /proc/[0-9]*; do [ "$(cat "$p/comm" 2>/dev/null)" = "$1" ] '
                  '&& exit 0; done; exit 1')
        return self.box.run("sh", "-c", script, "sh", program).returncode == 0

    def configuration(self, listed, inbox="/srv/inbox", extra=""):
        """A directory item that lists what arrives, acting at once."""
        return (";;;\nIsDirectory=1\nFileName=%s\nInterval=3600\nRealTime=1\n"
                "Conditions=0100\nCacheData=1\nCacheID=inbox\n%s;\nAction=0\nListName=%s\n"
                "ListParams=%%Name\nListAppend=1\nEOF\n" % (inbox, extra, listed))

    def arrive(self, name, inbox="/srv/inbox"):
        self.box.write(inbox + "/" + name, "x")

    def arrive_until(self, name, seen, inbox="/srv/inbox"):
        """Files name-1, name-2, ... arrive until seen() holds: what is there
        when the service takes its first look is the baseline, never news."""
        count = [0]
        last = [0.0]

        def another():
            if seen():
                return True
            if time.monotonic() - last[0] >= 1:
                count[0] += 1
                last[0] = time.monotonic()
                self.arrive("%s-%d.txt" % (name, count[0]), inbox)
            return False
        return wait_for(another, DEADLINE)

    def test_1_install_start_report_pause_continue(self):
        r = self.service("/install")
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        self.assertTrue(os.path.exists(self.box.path(UNIT)))
        self.assertEqual(self.systemctl("is-enabled", "quorvinsvc.service"), "disabled")

        # A backslash in the name reaches the status line as written.
        config = "/srv/conf\\x/watch.mon"
        self.box.write(config, self.configuration("/var/log/arrived.txt"))
        r = self.service("/start", config)
        self.assertEqual((r.returncode, r.stdout.strip().splitlines()[-1]),
                         (0, "Service started."), r.stdout + r.stderr)
        self.assertEqual(self.systemctl("is-active", "quorvinsvc.service"), "active")
        self.assertEqual(self.status(), 'Configuration file "%s" is loaded.' % config)

        self.assertTrue(self.arrive_until(
            "first", lambda: "first-" in self.box.read("/var/log/arrived.txt")), self.journal())

        self.systemctl("kill", "-s", "SIGUSR1", "quorvinsvc.service")
        self.assertTrue(wait_for(lambda: self.status() == "Paused", DEADLINE))
        self.systemctl("kill", "-s", "SIGUSR2", "quorvinsvc.service")
        self.assertTrue(wait_for(lambda: self.status().endswith("is loaded."), DEADLINE))
        self.arrive("second.txt")
        self.assertTrue(wait_for(lambda: "second.txt" in self.box.read("/var/log/arrived.txt"),
                                 DEADLINE), self.journal())

    def test_2_stop_during_a_running_action(self):
        self.service("/stop")
        self.box.write("/srv/slow.mon", self.configuration(
            "/var/log/slow.txt", extra="").replace(
            "EOF\n", ";\nAction=1\nCommand=sleep\nParams=600\nWait=1\nEOF\n"))
        self.assertEqual(self.service("/start", "/srv/slow.mon").returncode, 0)
        self.assertTrue(self.arrive_until("slow", lambda: self.running("sleep")),
                        "the action did not start")
        started = time.monotonic()
        r = self.service("/stop")
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        # The manager would wait 90 s before it kills what did not stop.
        self.assertLess(time.monotonic() - started, 60)
        self.assertEqual(self.systemctl("is-active", "quorvinsvc.service"), "inactive")
        self.assertFalse(self.running("sleep"))

    def test_3_a_missing_or_broken_configuration_says_why(self):
        r = self.service("/start", "/srv/missing.mon")
        self.assertNotEqual(r.returncode, 0)
        self.assertIn('Can not load configuration file "/srv/missing.mon".', self.journal())
        # The unit's check before the start names the line.
        self.box.write("/srv/broken.mon", self.configuration("/var/log/broken.txt",
                                                             inbox="/srv/nowhere"))
        r = self.service("/start", "/srv/broken.mon")
        self.assertNotEqual(r.returncode, 0)
        self.assertIn('/srv/broken.mon:3: item 1 (/srv/nowhere): error: "/srv/nowhere" does not '
                      'exist', self.journal())
        self.assertEqual(self.systemctl("is-active", "quorvinsvc.service"), "failed")

    def test_4_enabled_and_rebooted_reports_what_came_while_down(self):
        self.box.write("/etc/quorvel/default.mon", self.configuration("/var/log/boot.txt"))
        self.systemctl("enable", "quorvinsvc.service")
        self.assertTrue(os.path.lexists(self.box.path(WANTS)))
        self.assertEqual(self.service("/start").returncode, 0)
        self.assertTrue(self.arrive_until(
            "before", lambda: "before-" in self.box.read("/var/log/boot.txt")), self.journal())
        self.box.poweroff()
        self.arrive("while-down.txt")
        self.box.boot()
        self.assertEqual(self.systemctl("is-active", "quorvinsvc.service"), "active")
        self.assertTrue(wait_for(lambda: "while-down.txt" in self.box.read("/var/log/boot.txt"),
                                 DEADLINE), self.journal())

    def test_5_remove_leaves_nothing_and_nothing_enabled(self):
        r = self.service("/remove")
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        self.assertFalse(os.path.lexists(self.box.path(UNIT)))
        self.assertFalse(os.path.lexists(self.box.path(WANTS)))
        self.assertEqual(self.systemctl("is-active", "quorvinsvc.service"), "inactive")
        # Installed again, it is not enabled.
        self.assertEqual(self.service("/install").returncode, 0)
        self.assertEqual(self.systemctl("is-enabled", "quorvinsvc.service"), "disabled")
        self.assertEqual(self.service("/remove").returncode, 0)

    def test_6_a_users_service_with_linger(self):
        self.box.run("useradd", "-m", "ann", check=True)
        self.box.run("loginctl", "enable-linger", "ann", check=True)
        uid = self.box.uid("ann")
        self.assertTrue(wait_for(lambda: self.systemctl(
            "is-active", "user@%d.service" % uid) == "active", DEADLINE))
        home = "/home/ann"
        self.box.run("mkdir", "-p", home + "/inbox", user="ann", check=True)
        self.box.write(home + "/watch.mon", self.configuration(home + "/arrived.txt",
                                                               inbox=home + "/inbox"))
        os.chown(self.box.path(home + "/watch.mon"), uid, uid)
        r = self.service("/install", user="ann")
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        self.assertTrue(os.path.exists(self.box.path(
            home + "/.config/systemd/user/quorvinsvc.service")))
        r = self.service("/start", home + "/watch.mon", user="ann")
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        self.assertTrue(self.arrive_until(
            "mine", lambda: "mine-" in self.box.read(home + "/arrived.txt"), home + "/inbox"),
                        self.box.run("journalctl", "_UID=%d" % uid, "-o", "cat",
                                     "--no-pager").stdout)
        self.assertEqual(self.service("/remove", user="ann").returncode, 0)
        self.assertFalse(os.path.lexists(self.box.path(
            home + "/.config/systemd/user/quorvinsvc.service")))

    def test_7_package_removed_while_its_service_runs(self):
        self.box.write("/etc/quorvel/default.mon", self.configuration("/var/log/last.txt"))
        self.assertEqual(self.service("/install").returncode, 0)
        self.systemctl("enable", "quorvinsvc.service")
        self.assertEqual(self.service("/start").returncode, 0)
        r = self.box.run("dpkg", "--remove", "quorvel-console", timeout=300)
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        self.assertIn("stopped and disabled", r.stdout + r.stderr)
        self.assertEqual(self.systemctl("is-active", "quorvinsvc.service"), "inactive")
        self.assertFalse(os.path.lexists(self.box.path(WANTS)))
        r = self.box.run("dpkg", "--purge", "quorvel-console", timeout=300)
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        self.assertFalse(os.path.lexists(self.box.path(UNIT)))
        # The next boot is clean.
        self.box.poweroff()
        self.box.boot()
        self.assertEqual(self.systemctl("is-system-running"), "running",
                         self.systemctl("--failed", "--no-legend"))


def main():
    global BASE, WORK, DEB
    if len(sys.argv) != 4:
        print(__doc__)
        return 2
    BASE, WORK, DEB = (os.path.abspath(a) for a in sys.argv[1:4])
    suite = unittest.TestLoader().loadTestsFromTestCase(SystemdTest)
    result = unittest.TextTestRunner(verbosity=2, failfast=True).run(suite)
    return 0 if result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
