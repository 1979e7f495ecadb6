"""The desktop program run for real under Xvfb with a window manager and a
tray host, driven with a real pointer and keyboard (xdotool): the window
shows a loaded configuration, minimizing leaves only the tray icon, a click
on it and its menu's first entry bring the window back, the restore hot key
does too, a second start restores the first and ends, and an item acts on a
new file. No work is lost: a save that fails or is cancelled at Quit or New
keeps the list, and quitting from the tray while minimized leaves the next
start visible. Screenshots go to the artifacts directory.

    python3 desktop_e2e_test.py /path/to/quorvin /path/to/artifacts
"""

import hashlib
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import quorvel_test  # noqa: E402
from quorvel_test import wait_for  # noqa: E402

PROGRAM = None
ARTIFACTS = None
TOOLS = ["Xvfb", "openbox", "trayer", "xdotool", "xwininfo", "xprop", "import"]
SKIP = 77  # CTest's code for a skipped test


def file_has(path, text):
    if not os.path.isfile(path):
        return False
    with open(path) as f:
        return text in f.read()


def run(*argv, env):
    return subprocess.run(list(argv), env=env, capture_output=True, text=True, timeout=60)


class DesktopTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="quorvin-e2e-")
        cls.env = quorvel_test.home_environment(cls.tmp)
        runtime = os.path.join(cls.tmp, "runtime")
        os.makedirs(runtime, mode=0o700)
        cls.env["XDG_RUNTIME_DIR"] = runtime
        cls.env.pop("DBUS_SESSION_BUS_ADDRESS", None)  # the XEmbed tray, not a D-Bus host
        cls.env.pop("QT_QPA_PLATFORM", None)
        cls.helpers = []
        for number in range(180, 260):
            if not os.path.exists("/tmp/.X%d-lock" % number):
                break
        cls.env["DISPLAY"] = ":%d" % number
        cls.start_helper("Xvfb", cls.env["DISPLAY"], "-noreset", "-nolisten", "tcp",
                         "-screen", "0", "1024x768x24")
        if not wait_for(lambda: run("xwininfo", "-root", env=cls.env).returncode == 0):
            raise RuntimeError("Xvfb did not come up")
        cls.start_helper("openbox", "--sm-disable")
        cls.start_helper("trayer", "--edge", "top", "--align", "right", "--widthtype", "pixel",
                         "--width", "200", "--heighttype", "pixel", "--height", "32")
        wait_for(lambda: "panel" in run("xwininfo", "-root", "-tree", env=cls.env).stdout)

    @classmethod
    def start_helper(cls, *argv):
        cls.helpers.append(subprocess.Popen(list(argv), env=cls.env, stdout=subprocess.DEVNULL,
                                            stderr=subprocess.DEVNULL))

    @classmethod
    def tearDownClass(cls):
        for p in reversed(cls.helpers):
            p.terminate()
            try:
                p.wait(timeout=10)
            except subprocess.TimeoutExpired:
                p.kill()
        shutil.rmtree(cls.tmp, ignore_errors=True)

    def setUp(self):
        config_dir = os.path.join(self.tmp, "config", "quorvel")
        os.makedirs(config_dir, exist_ok=True)
        # Tray in use, a single click restores, one instance, Ctrl+Alt+R.
        self.watched = os.path.join(self.tmp, "watched")
        os.makedirs(self.watched, exist_ok=True)
        self.acted = os.path.join(self.tmp, "acted.txt")
        self.config = os.path.join(self.tmp, "desk.mon")
        text = (";;;\nIsDirectory=1\nFileName=%s\nInterval=3600\nRealTime=1\n"
                "Comment=Incoming reports\nConditions=1110\n;\nAction=0\nListName=%s\n"
                "ListParams=%%Name\nListAppend=1\n;\nAction=1\nCommand=true\nEOF\n"
                ";;;\nIsDirectory=2\nEOF\n"
                ";;;\nPaused=1\nIsDirectory=0\nFileName=%s\nInterval=60\n"
                "Comment=The main log\nEOF\n" % (self.watched, self.acted,
                                                 os.path.join(self.tmp, "app.log")))
        with open(self.config, "w") as f:
            f.write(text)
        # The user let this configuration run before (it runs a program).
        digest = hashlib.sha256(text.encode()).hexdigest()
        with open(os.path.join(config_dir, "registry.ini"), "w") as f:
            f.write("[Software\\Feldrane\\Quorvel]\nTrayMinimize=dword:1\nSingleRestore=dword:1\n"
                    "OneInstance=dword:1\nRestoreKey=dword:0000C052\nConfQuit=dword:0\n"
                    "[Software\\Feldrane\\Quorvel\\Trusted]\n\"%s\"=\"%s\"\n" % (self.config, digest))
        self.program = subprocess.Popen([PROGRAM, self.config], env=self.env,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                                        text=True)
        self.window = None
        self.assertTrue(wait_for(self.find_window), "the main window did not appear")

    def tearDown(self):
        if self.program.poll() is None:
            self.program.terminate()
            try:
                self.program.wait(timeout=30)
            except subprocess.TimeoutExpired:
                self.program.kill()
        err = self.program.stderr.read()
        self.program.stderr.close()
        self.assertNotIn("Sanitizer", err)

    def find_window(self):
        r = run("xdotool", "search", "--name", "Quorvel - ", env=self.env)
        ids = r.stdout.split()
        if ids:
            self.window = ids[0]
        return bool(ids)

    def mapped(self):
        r = run("xwininfo", "-id", self.window, env=self.env)
        return "IsViewable" in r.stdout

    def tray_icon_centre(self):
        # The icon is the program's window inside the tray host's panel.
        tree = run("xwininfo", "-root", "-tree", env=self.env).stdout
        m = re.search(r'"Quorvel": \("quorvin" "Quorvel"\)\s+(\d+)x(\d+)\+-?\d+\+-?\d+\s+'
                      r'\+(\d+)\+(\d+)', tree)
        if not m:
            return None
        w, h, x, y = map(int, m.groups())
        return x + w // 2, y + h // 2

    def minimize(self):
        run("xdotool", "windowminimize", self.window, env=self.env)
        self.assertTrue(wait_for(lambda: not self.mapped()), "minimizing left the window")

    def open_tray_menu(self, x, y):
        """Right click on the tray icon at x, y; the menu's size and place."""
        run("xdotool", "mousemove", str(x), str(y), "click", "3", env=self.env)
        menus = []

        def menu_shown():
            tree = run("xwininfo", "-root", "-tree", env=self.env).stdout
            menus[:] = [tuple(map(int, m)) for m in re.findall(
                r'"Quorvel": \("quorvin" "Quorvel"\)\s+(\d+)x(\d+)\+(\d+)\+(\d+)', tree)
                if int(m[0]) > 60 and int(m[1]) > 60]
            return bool(menus)
        self.assertTrue(wait_for(menu_shown), "the tray menu did not open")
        return menus[0]

    def test_the_tray_the_hot_key_a_second_start_and_a_real_item(self):
        shot = os.path.join(ARTIFACTS, "main-window.png")
        self.assertTrue(wait_for(lambda: run("import", "-window", self.window, shot,
                                             env=self.env).returncode == 0))

        # Minimized: only the tray icon is left; a click brings the window back.
        self.assertTrue(wait_for(lambda: self.tray_icon_centre() is not None), "no tray icon")
        x, y = self.tray_icon_centre()
        self.minimize()
        run("xdotool", "mousemove", str(x), str(y), "click", "1", env=self.env)
        self.assertTrue(wait_for(self.mapped), "a click on the tray icon did not restore")

        # The tray menu's first entry ("Restore") with the pointer.
        self.minimize()
        w, h, mx, my = self.open_tray_menu(x, y)
        run("import", "-window", "root", os.path.join(ARTIFACTS, "tray-menu.png"), env=self.env)
        run("xdotool", "mousemove", str(mx + 40), str(my + 10), "click", "1", env=self.env)
        self.assertTrue(wait_for(self.mapped), "the menu's Restore did not restore")

        # The restore hot key, from anywhere.
        self.minimize()
        run("xdotool", "key", "ctrl+alt+r", env=self.env)
        self.assertTrue(wait_for(self.mapped), "the hot key did not restore")

        # A second start brings the first back and ends at once.
        self.minimize()
        second = subprocess.run([PROGRAM], env=self.env, capture_output=True, timeout=60)
        self.assertEqual(second.returncode, 0)
        self.assertTrue(wait_for(self.mapped), "a second start did not restore the first")
        self.assertEqual(len(run("xdotool", "search", "--name", "Quorvel - ",
                                 env=self.env).stdout.split()), 1)

        # A real item acts on a new file.
        with open(os.path.join(self.watched, "report.txt"), "w") as f:
            f.write("x")
        self.assertTrue(wait_for(lambda: file_has(self.acted, "report.txt")))

        # The activity log says what the item did.
        run("xdotool", "windowactivate", "--sync", self.window, "key", "ctrl+l", env=self.env)
        self.assertTrue(wait_for(lambda: self.find("Activity Log")), "no activity log window")
        log = self.find("Activity Log")
        run("xdotool", "windowactivate", "--sync", log, env=self.env)
        run("import", "-window", log, os.path.join(ARTIFACTS, "activity-log.png"), env=self.env)
        self.keys("Escape")
        self.assertTrue(wait_for(lambda: not self.find_visible("Activity Log")))

        # Quit with Alt+X ends the program in order.
        run("xdotool", "windowactivate", "--sync", self.window, "key", "alt+x", env=self.env)
        try:
            code = self.program.wait(timeout=60)
        except subprocess.TimeoutExpired:
            code = None
        self.assertEqual(code, 0)

    def question_shown(self):
        # The active window is a dialog of the program's (it has an owner).
        active = run("xdotool", "getactivewindow", env=self.env).stdout.strip()
        if not active:
            return False
        name = run("xdotool", "getwindowname", active, env=self.env).stdout.strip()
        owner = run("xprop", "-id", active, "WM_TRANSIENT_FOR", env=self.env).stdout
        return name == "Quorvel" and "window id" in owner

    def test_an_opened_configuration_that_runs_programs_asks_first(self):
        # What a double click on a downloaded file does.
        self.program.terminate()
        self.program.wait(timeout=30)
        self.program.stderr.close()
        pwned = os.path.join(self.tmp, "pwned")
        downloaded = os.path.join(self.tmp, "holiday-photos.mon")
        with open(downloaded, "w") as f:
            f.write(";;;\nIsDirectory=0\nFileName=%s\nMustExist=1\nInterval=1\n;\n"
                    "Action=1\nCommand=touch\nParams=%s\nEOF\n"
                    % (os.path.join(self.tmp, "missing"), pwned))
        self.program = subprocess.Popen([PROGRAM, downloaded], env=self.env,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                                        text=True)
        self.assertTrue(wait_for(self.question_shown), "no question before the start")
        run("import", "-window", "root", os.path.join(ARTIFACTS, "trust-question.png"),
            env=self.env)
        self.assertFalse(os.path.exists(pwned), "an item ran before the answer")
        self.keys("Return")  # Yes
        self.assertTrue(wait_for(lambda: os.path.exists(pwned)), "Yes did not start monitoring")

    def find_visible(self, title):
        r = run("xdotool", "search", "--onlyvisible", "--name", "^%s$" % title, env=self.env)
        return r.stdout.split()[0] if r.stdout.split() else None

    def find(self, title):
        r = run("xdotool", "search", "--name", "^%s$" % title, env=self.env)
        return r.stdout.split()[0] if r.stdout.split() else None

    def menu_open(self):
        tree = run("xwininfo", "-root", "-tree", env=self.env).stdout
        return any(int(w) > 60 and int(h) > 60 for w, h in re.findall(
            r'"Quorvel": \("quorvin" "Quorvel"\)\s+(\d+)x(\d+)\+', tree))

    def keys(self, *keys):
        run("xdotool", "key", "--delay", "60", *keys, env=self.env)

    def test_a_directory_added_through_the_dialog_acts_on_a_new_file(self):
        inbox = os.path.join(self.tmp, "inbox")
        os.makedirs(inbox, exist_ok=True)
        names = os.path.join(self.tmp, "names.txt")
        run("xdotool", "windowactivate", "--sync", self.window, "key", "alt+Insert", env=self.env)
        self.assertTrue(wait_for(lambda: self.find("Add Directory")), "no Add Directory dialog")
        dialog = self.find("Add Directory")
        run("xdotool", "windowactivate", "--sync", dialog, env=self.env)
        # The path, real-time checking on the Options page, and a file list
        # action from the Actions page's New menu.
        run("xdotool", "type", "--delay", "20", inbox, env=self.env)
        self.keys("ctrl+Tab", "ctrl+Tab", "alt+t", "ctrl+Tab")
        self.assertFalse(self.menu_open())
        self.keys("alt+w")
        self.assertTrue(wait_for(self.menu_open), "the New menu did not open")
        self.keys("c")
        self.assertTrue(wait_for(lambda: self.find("Action Configuration")),
                        "no Action Configuration dialog")
        run("xdotool", "windowactivate", "--sync", self.find("Action Configuration"),
            env=self.env)
        self.keys("ctrl+a")
        run("xdotool", "type", "--delay", "20", names, env=self.env)
        run("import", "-window", "root", os.path.join(ARTIFACTS, "action-dialog.png"),
            env=self.env)
        self.keys("Return")
        self.assertTrue(wait_for(lambda: not self.find("Action Configuration")))
        run("xdotool", "windowactivate", "--sync", dialog, env=self.env)
        run("import", "-window", "root", os.path.join(ARTIFACTS, "properties-dialog.png"),
            env=self.env)
        self.keys("Return")
        self.assertTrue(wait_for(lambda: not self.find("Add Directory")), "OK did not close")

        # The new item watches at once: a file created there is listed (a file
        # made before its first look is part of what it starts from, so one
        # more comes until one is reported).
        created = []

        def reported():
            name = "new%d.txt" % len(created)
            with open(os.path.join(inbox, name), "w") as f:
                f.write("x")
            created.append(name)
            if not os.path.exists(names):
                return False
            with open(names) as listed:
                text = listed.read()
            return any(n in text for n in created)
        self.assertTrue(wait_for(reported), "the new item did not act")
        run("import", "-window", self.window, os.path.join(ARTIFACTS, "added-item.png"),
            env=self.env)

    def add_directory(self, path):
        run("xdotool", "windowactivate", "--sync", self.window, "key", "alt+Insert", env=self.env)
        self.assertTrue(wait_for(lambda: self.find("Add Directory")), "no Add Directory dialog")
        run("xdotool", "windowactivate", "--sync", self.find("Add Directory"), env=self.env)
        run("xdotool", "type", "--delay", "20", path, env=self.env)
        self.keys("Return")
        self.assertTrue(wait_for(lambda: not self.find_visible("Add Directory")))

    def answer_save_question(self, command):
        """command (a key of the main window), Yes to "Do you want to save
        it?"."""
        run("xdotool", "windowactivate", "--sync", self.window, "key", command, env=self.env)
        self.assertTrue(wait_for(self.question_shown), "no question after " + command)
        self.keys("Return")  # Yes

    def test_a_cancelled_or_failed_save_keeps_the_list(self):
        kept = os.path.join(self.tmp, "kept-dir")
        untitled = os.path.join(self.tmp, "untitled-dir")
        saved = os.path.join(self.tmp, "kept.mon")
        dialog = "Save config file as..."
        # Failed at Quit: the loaded configuration's place holds a directory.
        self.add_directory(kept)
        os.remove(self.config)
        os.mkdir(self.config)
        self.answer_save_question("alt+x")
        self.assertTrue(wait_for(self.question_shown), "no message about the failed save")
        self.keys("Return")
        os.rmdir(self.config)
        # New saves the list that was kept, then starts an untitled one.
        self.answer_save_question("ctrl+n")
        self.assertTrue(wait_for(lambda: file_has(self.config, kept)), "the kept list was lost")
        self.add_directory(untitled)

        # Cancelled Save As at Quit and at New: the untitled list stays.
        for command in ("alt+x", "ctrl+n"):
            self.answer_save_question(command)
            self.assertTrue(wait_for(lambda: self.find_visible(dialog)), "no Save As")
            self.keys("Escape")
            self.assertTrue(wait_for(lambda: not self.find_visible(dialog)))
        run("xdotool", "windowactivate", "--sync", self.window, "key", "ctrl+s", env=self.env)
        self.assertTrue(wait_for(lambda: self.find_visible(dialog)), "no Save As")
        run("xdotool", "type", "--delay", "20", saved, env=self.env)
        self.keys("Return")
        self.assertTrue(wait_for(lambda: file_has(saved, untitled)), "the untitled list was lost")
        self.assertIsNone(self.program.poll())

    def test_quit_from_the_tray_while_minimized_starts_visible_next_time(self):
        self.assertTrue(wait_for(lambda: self.tray_icon_centre() is not None), "no tray icon")
        x, y = self.tray_icon_centre()
        self.minimize()
        w, h, mx, my = self.open_tray_menu(x, y)
        # Exit is the menu's last entry.
        run("xdotool", "mousemove", str(mx + 40), str(my + h - 10), "click", "1", env=self.env)
        self.assertEqual(self.program.wait(timeout=60), 0)
        self.assertNotIn("Sanitizer", self.program.stderr.read())
        self.program.stderr.close()

        self.program = subprocess.Popen([PROGRAM, self.config], env=self.env,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                                        text=True)
        self.assertTrue(wait_for(self.find_window), "the main window did not appear")
        self.assertTrue(wait_for(self.mapped), "the next start stayed invisible")

if __name__ == "__main__":
    if len(sys.argv) < 3:
        print(__doc__)
        sys.exit(2)
    missing = [t for t in TOOLS if shutil.which(t) is None]
    if missing:
        print("desktop test skipped: missing " + ", ".join(missing))
        sys.exit(SKIP)
    PROGRAM = os.path.abspath(sys.argv.pop(1))
    ARTIFACTS = os.path.abspath(sys.argv.pop(1))
    os.makedirs(ARTIFACTS, exist_ok=True)
    unittest.main(verbosity=2)
