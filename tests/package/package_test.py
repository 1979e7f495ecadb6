"""The Debian packages as a user gets them: built (./quorvel package, or
taken from $QUORVEL_DEB_DIR), checked by lintian, installed with apt-get,
tried from their installed places (both programs, the man pages, the file
type, the desktop entry, the service unit, the completion), then removed and
purged, leaving nothing of theirs and every file of the user's.

It installs packages on the machine, so it runs only as root and only when
$QUORVEL_PACKAGE_TEST is 1 (./quorvel test-package sets it):

    QUORVEL_PACKAGE_TEST=1 python3 package_test.py /path/to/source
"""

import os
import shutil
import signal
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import quorvel_test  # noqa: E402
from quorvel_test import wait_for  # noqa: E402

SKIP = 77  # CTest's code for a skipped test
PACKAGES = ["quorvel", "quorvel-console"]
SOURCE = None
DEBS = []
INSTALLED = {}  # package -> the paths dpkg -L lists for it


def run(argv, **kw):
    kw.setdefault("capture_output", True)
    kw.setdefault("text", True)
    kw.setdefault("timeout", 600)
    return subprocess.run(argv, **kw)


def apt_get(*args):
    env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
    r = run(["apt-get", "-y", *args], env=env)
    if r.returncode != 0:
        raise AssertionError("apt-get %s failed:\n%s%s" % (" ".join(args), r.stdout, r.stderr))


def build_packages():
    """The two .deb files: from $QUORVEL_DEB_DIR, else freshly built."""
    arch = run(["dpkg", "--print-architecture"]).stdout.strip()
    directory = os.environ.get("QUORVEL_DEB_DIR")
    if not directory:
        directory = os.path.join(SOURCE, "build-package")
        r = run([os.path.join(SOURCE, "quorvel"), "package"], cwd=SOURCE, timeout=1500,
                capture_output=False, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        if r.returncode != 0:
            raise RuntimeError("./quorvel package failed:\n" + r.stdout[-6000:])
    debs = [os.path.join(directory, "%s_%s-1_%s.deb" % (p, quorvel_test.VERSION, arch))
            for p in PACKAGES]
    for deb in debs:
        if not os.path.exists(deb):
            raise RuntimeError("no package " + deb)
    return debs


class InstalledTest(unittest.TestCase):
    """What a user finds once the packages are installed."""

    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.dir = self.tmp.name
        self.env = quorvel_test.home_environment(self.dir)
        self.env["XDG_DATA_HOME"] = os.path.join(self.dir, "data")
        self.env.pop("XDG_CURRENT_DESKTOP", None)
        self.env.pop("DISPLAY", None)

    def tearDown(self):
        self.tmp.cleanup()

    def test_lintian_reports_no_errors(self):
        r = run(["lintian", "--fail-on", "error", *DEBS])
        print("\nlintian:\n" + r.stdout + r.stderr, file=sys.stderr)
        self.assertEqual(r.returncode, 0)
        self.assertNotIn("\nE: ", "\n" + r.stdout)

    def test_the_console_package_only_recommends_x_and_sound(self):
        console = [deb for deb in DEBS if os.path.basename(deb).startswith("quorvel-console_")][0]
        fields = run(["dpkg-deb", "-f", console, "Depends", "Recommends"]).stdout
        depends = [line for line in fields.splitlines() if line.startswith("Depends:")][0]
        for library in ("libasound2", "libxcb1", "libxcb-ewmh2"):
            self.assertNotIn(library, depends)
            self.assertIn(library, fields)

    def test_console_program_runs_from_its_installed_place(self):
        r = run(["/usr/bin/quorvinsvc", "--version"], env=self.env)
        self.assertEqual(r.returncode, 0)
        self.assertTrue(r.stdout.startswith("Quorvel %s [console version]" % quorvel_test.VERSION),
                        r.stdout)
        r = run(["/usr/bin/quorvinsvc", "/?"], env=self.env)
        self.assertEqual(r.returncode, 0)
        self.assertIn(">quorvinsvc /install", r.stdout)

        # One file item that lists the changed file; German messages prove
        # the language files are found in /usr/share/quorvel/Lang.
        os.makedirs(os.path.join(self.env["XDG_CONFIG_HOME"], "quorvel"))
        with open(os.path.join(self.env["XDG_CONFIG_HOME"], "quorvel", "registry.ini"), "w") as f:
            f.write("[\\Software\\Feldrane\\Quorvel]\nLanguage=\"German.lng\"\n")
        watched = os.path.join(self.dir, "watched.log")
        listed = os.path.join(self.dir, "list.txt")
        with open(watched, "w") as f:
            f.write("first\n")
        config = os.path.join(self.dir, "one.mon")
        with open(config, "w") as f:
            f.write(";;;\nIsDirectory=0\nFileName=%s\nInterval=1\nIfChanged=1\nIgnoreFirst=1\n"
                    "MustExist=0\n;\nAction=0\nListName=%s\nListParams=%%Name changed\n"
                    "ListAppend=1\nEOF\n" % (watched, listed))
        out = open(os.path.join(self.dir, "out.txt"), "w+")
        p = subprocess.Popen(["/usr/bin/quorvinsvc", config], stdin=subprocess.DEVNULL,
                             stdout=out, stderr=subprocess.STDOUT, env=self.env, cwd=self.dir)
        try:
            def said(text):
                out.flush()
                with open(out.name, encoding="utf-8", errors="replace") as f:
                    return text in f.read()
            self.assertTrue(wait_for(lambda: said("Überwachung gestartet")), "not started")

            def changed():
                with open(watched, "a") as f:
                    f.write("more\n")
                if os.path.exists(listed):
                    with open(listed) as f:
                        return "watched.log changed" in f.read()
                return False
            self.assertTrue(wait_for(changed), "the change was not reported")
            p.send_signal(signal.SIGTERM)
            self.assertEqual(p.wait(timeout=quorvel_test.DEADLINE), 0)
        finally:
            if p.poll() is None:
                p.kill()
                p.wait()
            out.close()

    def test_desktop_program_shows_its_window(self):
        if not shutil.which("Xvfb") or not shutil.which("xdotool"):
            self.skipTest("needs Xvfb and xdotool")
        for number in range(260, 340):
            if not os.path.exists("/tmp/.X%d-lock" % number):
                break
        self.env["DISPLAY"] = ":%d" % number
        self.env.pop("QT_QPA_PLATFORM", None)
        self.env.pop("DBUS_SESSION_BUS_ADDRESS", None)
        runtime = os.path.join(self.dir, "runtime")
        os.makedirs(runtime, mode=0o700)
        self.env["XDG_RUNTIME_DIR"] = runtime
        server = subprocess.Popen(["Xvfb", self.env["DISPLAY"], "-noreset", "-nolisten", "tcp",
                                   "-screen", "0", "800x600x24"],
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        program = None
        try:
            self.assertTrue(wait_for(lambda: run(["xdotool", "getdisplaygeometry"],
                                                 env=self.env).returncode == 0),
                            "Xvfb did not come up")
            config = os.path.join(self.dir, "desk.mon")
            with open(config, "w") as f:
                f.write(";;;\nIsDirectory=0\nFileName=%s\nInterval=60\nEOF\n"
                        % os.path.join(self.dir, "app.log"))
            program = subprocess.Popen(["/usr/bin/quorvin", config], env=self.env,
                                       stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                                       text=True)

            def window():
                r = run(["xdotool", "search", "--onlyvisible", "--name", "Quorvel - "],
                        env=self.env)
                return bool(r.stdout.split())
            self.assertTrue(wait_for(window), "the main window did not appear")
            self.assertIsNone(program.poll())
        finally:
            if program is not None:
                program.terminate()
                try:
                    program.communicate(timeout=30)
                except subprocess.TimeoutExpired:
                    program.kill()
                    program.communicate()
            server.terminate()
            server.wait(timeout=30)

    def test_man_pages_are_found(self):
        for page in ["quorvinsvc", "quorvin"]:
            r = run(["man", "-w", page])
            self.assertEqual(r.stdout.strip(), "/usr/share/man/man1/%s.1.gz" % page)

    def test_mon_files_are_quorvel_configurations_opened_by_quorvin(self):
        sample = os.path.join(self.dir, "x.mon")
        with open(sample, "w") as f:
            f.write(";;;\nIsDirectory=2\nEOF\n")
        r = run(["xdg-mime", "query", "filetype", sample], env=self.env)
        self.assertEqual(r.stdout.strip(), "application/x-quorvel")
        r = run(["xdg-mime", "query", "default", "application/x-quorvel"], env=self.env)
        self.assertEqual(r.stdout.strip(), "quorvin.desktop")

        entry = "/usr/share/applications/quorvin.desktop"
        r = run(["desktop-file-validate", entry])
        self.assertEqual((r.returncode, r.stdout), (0, ""))
        with open(entry) as f:
            self.assertIn("\nExec=/usr/bin/quorvin %f\n", f.read())
        self.assertTrue(os.path.exists("/usr/share/icons/hicolor/scalable/apps/quorvel.svg"))
        for size in ["16x16", "32x32", "48x48", "256x256"]:
            self.assertTrue(os.path.exists("/usr/share/icons/hicolor/%s/apps/quorvel.png" % size))

    def test_service_unit_runs_the_installed_program(self):
        # A systemctl that does nothing stands first in PATH.
        bin_dir = os.path.join(self.dir, "bin")
        os.mkdir(bin_dir)
        with open(os.path.join(bin_dir, "systemctl"), "w") as f:
            f.write("#!/bin/sh\nexit 0\n")
        os.chmod(os.path.join(bin_dir, "systemctl"), 0o755)
        units = os.path.join(self.dir, "units")
        self.env["PATH"] = bin_dir + os.pathsep + self.env.get("PATH", "/usr/bin:/bin")
        self.env["QUORVEL_SYSTEMD_UNIT_DIR"] = units
        r = run(["quorvinsvc", "/install"], env=self.env, cwd=self.dir)
        self.assertEqual(r.returncode, 0, r.stdout)
        with open(os.path.join(units, "quorvinsvc.service")) as f:
            self.assertIn('\nExecStart="/usr/bin/quorvinsvc" /service\n', f.read())

    def test_bash_completes_the_switches(self):
        script = ("source /usr/share/bash-completion/bash_completion\n"
                  "source /usr/share/bash-completion/completions/quorvinsvc\n"
                  "COMP_WORDS=(quorvinsvc /ins); COMP_CWORD=1; COMP_LINE='quorvinsvc /ins'\n"
                  "COMP_POINT=${#COMP_LINE}; _quorvinsvc; printf '%s\\n' \"${COMPREPLY[@]}\"\n")
        r = run(["bash", "-c", script], env=self.env, cwd=self.dir)
        self.assertEqual(r.stdout.split(), ["/install"], r.stderr)


class RemovalTest(unittest.TestCase):
    """Removing and purging takes everything the packages installed and
    nothing of the user's."""

    def test_remove_and_purge(self):
        home = tempfile.mkdtemp(prefix="quorvel-home-")
        user_files = [os.path.join(home, ".config", "quorvel", "default.mon"),
                      os.path.join(home, ".config", "quorvel", "registry.ini"),
                      os.path.join(home, ".cache", "quorvel", "0000ABCD.DAT"),
                      "/etc/quorvel/package-test.mon",
                      "/var/cache/quorvel/package-test.DAT"]
        made_dirs = [d for d in ["/etc/quorvel", "/var/cache/quorvel"] if not os.path.exists(d)]
        try:
            for path in user_files:
                os.makedirs(os.path.dirname(path), exist_ok=True)
                with open(path, "w") as f:
                    f.write("; the user's\n")

            apt_get("remove", *PACKAGES)
            left = [p for paths in INSTALLED.values() for p in paths
                    if os.path.lexists(p) and not os.path.isdir(p)]
            self.assertEqual(left, [])
            self.assertFalse(os.path.exists("/usr/share/quorvel"))
            # apt no longer knows packages that came from files; dpkg purges
            # what is left of them.
            r = run(["dpkg", "--purge", *PACKAGES])
            self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
            for package in PACKAGES:
                r = run(["dpkg-query", "-W", "-f=${Status}", package])
                self.assertNotIn("installed", r.stdout.replace("not-installed", ""))
            self.assertEqual([p for p in user_files if not os.path.exists(p)], [])
        finally:
            shutil.rmtree(home, ignore_errors=True)
            for path in user_files[3:]:
                if os.path.exists(path):
                    os.remove(path)
            for d in made_dirs:
                shutil.rmtree(d, ignore_errors=True)


def main():
    global SOURCE, DEBS
    SOURCE = os.path.abspath(sys.argv[1])
    if os.environ.get("QUORVEL_PACKAGE_TEST") != "1" or os.geteuid() != 0:
        print("skipped: installs packages; run as root with QUORVEL_PACKAGE_TEST=1 "
              "(./quorvel test-package)")
        return SKIP
    DEBS = build_packages()
    apt_get("install", "--reinstall", *DEBS)  # absolute paths: files, not names
    for package in PACKAGES:
        r = run(["dpkg", "-L", package])
        INSTALLED[package] = [p for p in r.stdout.splitlines() if p.startswith("/")]
    loader = unittest.TestLoader()
    suite = unittest.TestSuite([loader.loadTestsFromTestCase(InstalledTest),
                                loader.loadTestsFromTestCase(RemovalTest)])
    result = unittest.TextTestRunner(verbosity=2).run(suite)
    return 0 if result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
