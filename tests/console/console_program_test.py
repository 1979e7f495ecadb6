"""The console program run from outside: command line, messages, exit codes,
the run mode ended by signals and by keys typed on a pseudo-terminal."""

import os
import pty
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import quorvel_test  # noqa: E402
from quorvel_test import wait_for  # noqa: E402

PROGRAM = None
DEADLINE = 30.0

BANNER_PREFIX = f"Quorvel {quorvel_test.VERSION} [console version], "


class ProgramCase(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.dir = self.tmp.name
        self.env = quorvel_test.home_environment(self.dir)

    def tearDown(self):
        self.tmp.cleanup()

    def run_program(self, *args, stdin=subprocess.DEVNULL):
        r = subprocess.run([PROGRAM, *args], stdin=stdin, capture_output=True, text=True,
                           env=self.env, cwd=self.dir, timeout=120)
        self.assertNotIn("Sanitizer", r.stderr)
        return r

    def finish(self, p):
        """Waits for the program's end; answers its remaining output."""
        out, err = p.communicate(timeout=60)
        self.assertNotIn("Sanitizer", err)
        return out, err

    def write_config(self, name="cfg.mon", marker="marker.txt"):
        watched = os.path.join(self.dir, "watched.txt")
        with open(watched, "w") as f:
            f.write("x")
        old = time.time() - 7200
        os.utime(watched, (old, old))
        path = os.path.join(self.dir, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w") as f:
            f.write("; Quorvel %s Config File\n" % quorvel_test.VERSION + ";;;\nPaused=0\nIsDirectory=0\n"
                    f"FileName={watched}\nInterval=1\nIfChanged=0\n;\nAction=0\n"
                    f"ListName={os.path.join(self.dir, marker)}\nListParams=%File\n"
                    "ListAppend=1\nEOF\n")
        return path

    def write_question_config(self):
        watched = os.path.join(self.dir, "watched.txt")
        with open(watched, "w") as f:
            f.write("x")
        old = time.time() - 7200
        os.utime(watched, (old, old))
        with open(os.path.join(self.dir, "ask.mon"), "w") as f:
            f.write(";;;\nPaused=0\nIsDirectory=0\n"
                    f"FileName={watched}\nInterval=1\nIfChanged=0\n;\nAction=2\n"
                    "Message=Go on with %Name?\nPopupWait=1\nYesNoButton=1\n;\nAction=0\n"
                    f"ListName={os.path.join(self.dir, 'marker.txt')}\nListParams=%File\n"
                    "ListAppend=1\nEOF\n")

    def marker_lines(self, marker="marker.txt"):
        try:
            with open(os.path.join(self.dir, marker)) as f:
                return len(f.read().splitlines())
        except FileNotFoundError:
            return 0


class CommandLineTest(ProgramCase):
    def test_usage_for_every_spelling(self):
        for arg in ("/?", "--help", "-h"):
            r = self.run_program(arg)
            self.assertEqual(r.returncode, 0, arg)
            lines = r.stdout.split("\n")
            self.assertTrue(lines[0].startswith(BANNER_PREFIX), r.stdout)
            self.assertEqual(lines[1], "")
            self.assertEqual(lines[2], "Usage:")
            name = os.path.basename(PROGRAM)
            self.assertIn(f">{name} [config file]\n", r.stdout)
            self.assertIn(f">{name} /start [\\\\computer] [config file]\n", r.stdout)
            for switch in ("/check [config file]", "/once [/force] [config file]",
                           "/describe [config file]"):
                self.assertIn(f">{name} {switch}\n", r.stdout)
            self.assertTrue(r.stdout.endswith("parameters of the service.\n"))

    def test_version_prints_the_banner_line_alone(self):
        r = self.run_program("--version")
        self.assertEqual(r.returncode, 0)
        self.assertTrue(r.stdout.startswith(BANNER_PREFIX))
        self.assertEqual(r.stdout.count("\n"), 1)
        self.assertTrue(r.stdout.endswith("\n"))

    def test_a_headless_server_needs_no_x_or_sound_library(self):
        # They are loaded when a window is closed or a sound played.
        if shutil.which("readelf") is None:
            self.skipTest("readelf is not installed")
        dynamic = subprocess.run(["readelf", "-d", PROGRAM], capture_output=True, text=True,
                                 check=True).stdout
        needed = [line for line in dynamic.splitlines() if "(NEEDED)" in line]
        self.assertTrue(needed)
        for library in ("libasound", "libxcb"):
            self.assertFalse([line for line in needed if library in line], dynamic)

    def test_missing_configuration(self):
        r = self.run_program("missing dir/none.mon")
        self.assertEqual(r.returncode, 1)
        self.assertTrue(r.stdout.startswith(BANNER_PREFIX))
        self.assertTrue(r.stdout.endswith(
            "\n\nCan not load configuration file \"missing dir/none.mon\".\n"), r.stdout)

    def test_non_ascii_path_is_printed_unchanged(self):
        r = self.run_program("Ärger/überwachung €.mon")
        self.assertEqual(r.returncode, 1)
        self.assertIn("Can not load configuration file \"Ärger/überwachung €.mon\".\n", r.stdout)

    def test_unknown_switch_is_a_configuration_name(self):
        r = self.run_program("/foo", "more")
        self.assertEqual(r.returncode, 1)
        self.assertIn("Can not load configuration file \"/foo\".\n", r.stdout)

    def test_service_outside_the_service_manager(self):
        r = self.run_program("/SERVICE")
        self.assertEqual(r.returncode, 1)
        # Like a dispatcher started from a console: nothing at all.
        self.assertEqual(r.stdout, "")

    def test_translated_messages(self):
        lang_dir = os.path.join(os.path.dirname(PROGRAM), "Lang")
        if not os.path.exists(os.path.join(lang_dir, "German.lng")):
            self.skipTest("no German language file beside the program")
        os.makedirs(self.env["XDG_CONFIG_HOME"] + "/quorvel", exist_ok=True)
        with open(os.path.join(self.env["XDG_CONFIG_HOME"], "quorvel", "registry.ini"), "w") as f:
            f.write("[\\Software\\Feldrane\\Quorvel]\nLanguage=\"German.lng\"\n")
        r = self.run_program("none.mon")
        self.assertEqual(r.returncode, 1)
        self.assertNotIn("Can not load configuration file", r.stdout)
        self.assertIn("\"none.mon\".\n", r.stdout)


class RunModeTest(ProgramCase):
    def start(self, *args, **kw):
        p = subprocess.Popen([PROGRAM, *args], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                             text=True, env=self.env, cwd=self.dir, **kw)
        def cleanup():
            if p.poll() is None:
                p.kill()
            p.communicate()
        self.addCleanup(cleanup)
        return p

    def read_until_started(self, p):
        lines = []
        while True:
            line = p.stdout.readline()
            self.assertTrue(line, "program ended early: " + "".join(lines))
            lines.append(line)
            if line.startswith("Monitoring started"):
                return lines

    def test_sigterm_ends_the_run_in_order(self):
        self.write_config()
        p = self.start("cfg.mon", stdin=subprocess.DEVNULL)
        lines = self.read_until_started(p)
        self.assertEqual(lines[-2:], ["Configuration file \"cfg.mon\" is loaded.\n",
                                      "Monitoring started. Press 'X' to exit.\n"])
        # The items run: the list action writes its marker.
        self.assertTrue(wait_for(lambda: self.marker_lines() >= 2))
        p.send_signal(signal.SIGTERM)
        out, err = self.finish(p)
        self.assertEqual(p.returncode, 0, err)
        self.assertEqual(out, "")

    def test_the_activity_log_says_what_ran_and_what_failed(self):
        # A file whose name holds an escape sequence, and an action that fails.
        watched = os.path.join(self.dir, "in")
        os.makedirs(watched)
        with open(os.path.join(self.dir, "log.mon"), "w") as f:
            f.write(f";;;\nIsDirectory=1\nFileName={watched}\nInterval=1\n;\nAction=0\n"
                    f"ListName={os.path.join(self.dir, 'marker.txt')}\n;\nAction=4\n"
                    f"OpSource={watched}/%Name.gone\nOpDestination={self.dir}/out/\n"
                    "ShowProgress=0\nEOF\n")
        for quiet in (False, True):
            marker = os.path.join(self.dir, "marker.txt")
            if os.path.exists(marker):
                os.remove(marker)
            p = self.start(*(("-q",) if quiet else ()), "log.mon", stdin=subprocess.DEVNULL)
            self.read_until_started(p)
            made = []

            def reported():
                # A file made before the first look is part of what the item
                # starts from: one more comes until one is reported.
                name = "new\x1b[2J%d-%d.txt" % (quiet, len(made))
                with open(os.path.join(watched, name), "w") as f:
                    f.write("x")
                made.append(name)
                return self.marker_lines() >= 1
            self.assertTrue(wait_for(reported))
            p.send_signal(signal.SIGTERM)
            _, err = self.finish(p)
            lines = err.splitlines()
            self.assertNotIn("\x1b", err, "a control sequence reached the terminal")
            errors = [line for line in lines if " error | item 1 " in line]
            self.assertTrue(any("Cannot find" in line and "new\\x1b[2J" in line
                                for line in errors), err)
            infos = [line for line in lines if " info | item 1 " in line]
            if quiet:
                self.assertEqual(infos, [], err)
            else:
                self.assertTrue(any("Acting on" in line and " added" in line for line in infos),
                                err)
                self.assertTrue(any("Done" in line and "marker.txt" in line for line in infos),
                                err)

    def test_sigint_and_sighup_end_the_run(self):
        self.write_config()
        for sig in (signal.SIGINT, signal.SIGHUP):
            p = self.start("cfg.mon", stdin=subprocess.DEVNULL)
            self.read_until_started(p)
            p.send_signal(sig)
            self.finish(p)
            self.assertEqual(p.returncode, 0, sig)

    def test_end_of_input_does_not_end_the_run(self):
        self.write_config()
        p = self.start("cfg.mon", stdin=subprocess.PIPE)
        self.read_until_started(p)
        p.stdin.write("x\n")
        p.stdin.close()
        p.stdin = None
        # Input that is no terminal is not read: neither "x" nor its end
        # stops the run, and the items go on working.
        before = self.marker_lines()
        self.assertTrue(wait_for(lambda: self.marker_lines() >= before + 2))
        self.assertIsNone(p.poll())
        p.send_signal(signal.SIGTERM)
        self.finish(p)
        self.assertEqual(p.returncode, 0)

    def test_no_argument_loads_the_default_configuration(self):
        path = self.write_config(os.path.join("config", "quorvel", "default.mon"))
        p = self.start(stdin=subprocess.DEVNULL)
        lines = self.read_until_started(p)
        self.assertIn(f"Configuration file \"{path}\" is loaded.\n", lines)
        p.send_signal(signal.SIGTERM)
        self.finish(p)
        self.assertEqual(p.returncode, 0)

    def test_directory_items_cache_where_the_options_say(self):
        # A directory item without its own "CacheDirectory" keeps its
        # snapshot in the directory named by the program's options.
        cache = os.path.join(self.dir, "opt cache")
        os.makedirs(os.path.join(self.dir, "config", "quorvel"))
        with open(os.path.join(self.dir, "config", "quorvel", "registry.ini"), "w") as f:
            f.write(f"[Software\\Feldrane\\Quorvel]\nCacheDirectory=\"{cache}\"\n")
        os.makedirs(os.path.join(self.dir, "watched"))
        with open(os.path.join(self.dir, "dir.mon"), "w") as f:
            f.write(";;;\nIsDirectory=1\nFileName=" + os.path.join(self.dir, "watched") +
                    "\nInterval=1\nCacheID=OPTDIR01\nCacheData=1\nEOF\n")
        p = self.start("dir.mon", stdin=subprocess.DEVNULL)
        self.read_until_started(p)
        self.assertTrue(wait_for(lambda: os.path.exists(os.path.join(cache, "OPTDIR01.DAT"))))
        p.send_signal(signal.SIGTERM)
        self.finish(p)
        self.assertEqual(p.returncode, 0)

    def test_pause_and_continue_signals(self):
        self.write_config()
        p = self.start("cfg.mon", stdin=subprocess.DEVNULL)
        self.read_until_started(p)
        self.assertTrue(wait_for(lambda: self.marker_lines() >= 1))
        p.send_signal(signal.SIGUSR1)
        p.send_signal(signal.SIGUSR2)
        # Continue after pause: the items keep working and the program lives.
        before = self.marker_lines()
        self.assertTrue(wait_for(lambda: self.marker_lines() >= before + 2))
        self.assertIsNone(p.poll())
        p.send_signal(signal.SIGTERM)
        self.finish(p)
        self.assertEqual(p.returncode, 0)


    def test_questions_without_a_terminal_are_answered_at_once(self):
        self.write_question_config()
        p = self.start("ask.mon")
        self.assertTrue(wait_for(lambda: self.marker_lines() >= 2))
        p.send_signal(signal.SIGTERM)
        out, _ = self.finish(p)
        self.assertEqual(p.returncode, 0)
        self.assertIn("Go on with watched.txt?", out)


class ConfigurationCommandsTest(ProgramCase):
    """/check, /once and /describe on good and broken configurations."""

    def write(self, name, text):
        with open(os.path.join(self.dir, name), "w") as f:
            f.write(text)
        return name

    def read(self, name):
        with open(os.path.join(self.dir, name)) as f:
            return f.read()

    def problems(self, r, name):
        return [line for line in r.stdout.splitlines() if line.startswith(name + ":")]

    def good_configuration(self):
        os.makedirs(os.path.join(self.dir, "in"))
        return self.write("good.mon", f";;;\nIsDirectory=1\nFileName={self.dir}/in\nInterval=30\n"
                          "Mask=*.txt\nCacheID=GOOD0001\nCacheData=1\nWorkHours=1\n"
                          "TimeInterval=08:00:00 - 17:30:00\nDays=0111110\n;\nAction=0\n"
                          f"ListName={self.dir}/list.txt\nListParams=%Name\nListAppend=1\n;\n"
                          "Action=1\nCommand=sh\nParams=-c true\nEnabled=0\nEOF\n")

    def test_check_a_good_configuration(self):
        name = self.good_configuration()
        for switch in ("/CHECK", "--check"):
            r = self.run_program(switch, name)
            self.assertEqual(r.returncode, 0, r.stdout)
            self.assertEqual(self.problems(r, name), ["good.mon: 0 error(s), 0 warning(s)"])

    def test_check_names_each_mistake_with_its_line(self):
        text = (";;;\nIsDirectory=1\n"
                f"FileName={self.dir}/gone\x1b[2J\n"      # 3: missing, control sequence
                "Intervall=30\nInterval=0\nRunOnce=yes\n"  # 4-6: unknown, range, type
                "Mask=*.log\nExcludeMask=*.LOG\n"           # 7-8: nothing can match
                ";\nAction=1\nCommand=no-such-program-here\n"  # 11: not on PATH
                ";\nAction=0\n"
                f"ListName={self.dir}/none/list.txt\n"      # 14: no directory
                ";\nAction=3\nWaveFile=cfg.mon\n"          # 17: no wave
                "EOF\n;;;\nFileName=x\n")                  # 20: no EOF
        name = self.write("cfg.mon", text)
        r = self.run_program("/check", name)
        self.assertEqual(r.returncode, 1, r.stdout)
        self.assertNotIn("\x1b", r.stdout)
        item = f"item 1 ({self.dir}/gone\\x1b[2J): "
        self.assertEqual(self.problems(r, name), [
            f"cfg.mon:3: {item}error: \"{self.dir}/gone\\x1b[2J\" does not exist",
            f"cfg.mon:4: {item}warning: unknown key \"Intervall\"; the line is ignored",
            f"cfg.mon:5: {item}warning: Interval: 0 is outside 1 to 2147483647; "
            "1 is used instead",
            f"cfg.mon:6: {item}warning: RunOnce: \"yes\" is neither 0 nor 1; 0 is used instead",
            f"cfg.mon:8: {item}error: ExcludeMask \"*.LOG\" excludes every file that Mask "
            "\"*.log\" takes",
            f"cfg.mon:11: {item}error: action 1 (Execute program): the program "
            "\"no-such-program-here\" is not found on the PATH",
            f"cfg.mon:14: {item}error: action 2 (Create filelist): the directory of "
            f"\"{self.dir}/none/list.txt\" does not exist",
            f"cfg.mon:17: {item}error: action 3 (Play sound): \"cfg.mon\" is no wave file "
            "that can be played",
            "cfg.mon:20: warning: the lines from here on end in no EOF line and are ignored",
            "cfg.mon: 5 error(s), 4 warning(s)"])
        self.assertEqual(self.read(name), text, "/check changed the file")

    def test_check_warnings_alone_pass_and_a_missing_file_fails(self):
        name = self.write("warn.mon", f";;;\nFileName={self.dir}/later.log\nColour=red\nEOF\n")
        r = self.run_program("/check", name)
        self.assertEqual(r.returncode, 0, r.stdout)
        self.assertEqual(len(self.problems(r, name)), 3, r.stdout)
        r = self.run_program("/check", "none.mon")
        self.assertEqual(r.returncode, 1)
        self.assertIn("Can not load configuration file \"none.mon\".\n", r.stdout)

    def test_check_speaks_the_chosen_language(self):
        if not os.path.exists(os.path.join(os.path.dirname(PROGRAM), "Lang", "German.lng")):
            self.skipTest("no German language file beside the program")
        os.makedirs(self.env["XDG_CONFIG_HOME"] + "/quorvel", exist_ok=True)
        with open(os.path.join(self.env["XDG_CONFIG_HOME"], "quorvel", "registry.ini"), "w") as f:
            f.write("[\\Software\\Feldrane\\Quorvel]\nLanguage=\"German.lng\"\n")
        name = self.write("de.mon", f";;;\nIsDirectory=1\nFileName={self.dir}\nFarbe=rot\nEOF\n")
        r = self.run_program("/check", name)
        self.assertEqual(self.problems(r, name), [
            f"de.mon:4: Eintrag 1 ({self.dir}): Warnung: unbekannter Schlüssel \"Farbe\"; "
            "die Zeile wird übergangen", "de.mon: 0 Fehler, 1 Warnung(en)"])

    def test_once_reports_what_changed_since_the_previous_once(self):
        name = self.good_configuration()
        self.write(name, self.read(name).replace("Days=0111110\n", "")
                   .replace("WorkHours=1", "WorkHours=0"))
        first = self.run_program("/once", name)
        self.assertEqual(first.returncode, 0, first.stdout + first.stderr)
        self.assertIn(f"item 1 ({self.dir}/in): nothing to do\n", first.stdout)
        for new in ("a.txt", "b.txt"):
            with open(os.path.join(self.dir, "in", new), "w") as f:
                f.write("x")
            r = self.run_program("--once", name)
            self.assertEqual(r.returncode, 2, r.stdout + r.stderr)
            self.assertIn("1 of 1 items acted.\n", r.stdout)
        with open(os.path.join(self.dir, "list.txt")) as f:
            self.assertEqual(f.read().split(), ["a.txt", "b.txt"])
        self.assertEqual(self.run_program("/once", name).returncode, 0)

    def test_once_honours_the_schedule_unless_forced(self):
        self.write_config()  # a file item whose list action writes marker.txt
        name = self.write("closed.mon", self.read("cfg.mon").replace("Interval=1\n", "Interval=1\nDays=0000000\n")
                          + ";;;\nPaused=1\nFileName=paused\nEOF\n")
        r = self.run_program("/once", name)
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        self.assertIn("outside its schedule, not checked\n", r.stdout)
        self.assertIn("item 2 (paused): paused, not checked\n", r.stdout)
        self.assertEqual(self.marker_lines(), 0)
        for args in (("/once", "/force", name), ("/ONCE", "--force", name)):
            r = self.run_program(*args)
            self.assertEqual(r.returncode, 2, r.stdout + r.stderr)
        self.assertEqual(self.marker_lines(), 2)

    def test_once_fails_when_an_action_fails_or_the_file_is_missing(self):
        self.write_config(marker=os.path.join("none", "marker.txt"))
        r = self.run_program("/once", "cfg.mon")
        self.assertEqual(r.returncode, 1, r.stdout + r.stderr)
        self.assertIn(" error | item 1 ", r.stderr)
        self.assertEqual(self.run_program("/once", "none.mon").returncode, 1)

    def test_describe_says_what_each_item_does(self):
        name = self.good_configuration()
        self.write("two.mon", self.read(name) + ";;;\nIsDirectory=2\nEOF\n")
        r = self.run_program("/describe", "two.mon")
        self.assertEqual(r.returncode, 0, r.stderr)
        # The report alone, without the banner line.
        self.assertEqual(r.stdout, (
            f"Item 1: {self.dir}/in\n"
            "  Watches the directory\n"
            "  Files: *.txt\n"
            "  Checked every 30 seconds\n"
            "  Days: Monday, Tuesday, Wednesday, Thursday, Friday\n"
            "  Hours: 08:00:00 - 17:30:00\n"
            "  Condition: If any file has been changed\n"
            "  Condition: If new files has been added\n"
            f"  Action 1: Create filelist: {self.dir}/list.txt: %Name\n"
            "  Action 2 (off): Execute program: sh -c true\n"
            "\n"
            "Item 2: separator\n"))
        self.assertEqual(self.run_program("/describe", "none.mon").returncode, 1)


class TerminalTest(ProgramCase):
    """Keys typed on a pseudo-terminal."""

    def start_on_pty(self, *args):
        pid, fd = pty.fork()
        if pid == 0:
            os.chdir(self.dir)
            os.execve(PROGRAM, [PROGRAM, *args], self.env)
        self.addCleanup(lambda: os.close(fd))
        self.pid = pid
        self.fd = fd
        self.output = b""
        return pid, fd

    def read_until(self, text, deadline=DEADLINE):
        end = time.monotonic() + deadline
        while text.encode() not in self.output and time.monotonic() < end:
            r, _, _ = select.select([self.fd], [], [], 0.2)
            if r:
                try:
                    data = os.read(self.fd, 4096)
                except OSError:
                    break
                if not data:
                    break
                self.output += data
        return text.encode() in self.output

    def wait_exit(self, deadline=DEADLINE):
        end = time.monotonic() + deadline
        while time.monotonic() < end:
            pid, status = os.waitpid(self.pid, os.WNOHANG)
            if pid == self.pid:
                self.read_until("never printed", deadline=0.2)
                self.assertNotIn(b"Sanitizer", self.output)
                return os.waitstatus_to_exitcode(status)
            # Drain output so the program never blocks on a full terminal.
            r, _, _ = select.select([self.fd], [], [], 0.05)
            if r:
                try:
                    self.output += os.read(self.fd, 4096)
                except OSError:
                    pass
        os.kill(self.pid, signal.SIGKILL)
        os.waitpid(self.pid, 0)
        return None

    def alive(self):
        pid, _ = os.waitpid(self.pid, os.WNOHANG)
        return pid == 0

    def test_other_keys_do_nothing_and_x_ends(self):
        self.write_config()
        # Quiet: the activity log's lines of the acting items stay away.
        self.start_on_pty("-q", "cfg.mon")
        self.assertTrue(self.read_until("Press 'X' to exit."), self.output)
        before = len(self.output)
        os.write(self.fd, b"a\r\n\x1b q")
        # Raw mode without echo: nothing comes back, and the run goes on
        # while the items keep working.
        start = self.marker_lines()
        self.assertTrue(wait_for(lambda: self.marker_lines() >= start + 2))
        self.assertTrue(self.alive())
        self.read_until("never printed", deadline=0.3)
        self.assertEqual(self.output[before:], b"")
        os.write(self.fd, b"x")
        self.assertEqual(self.wait_exit(), 0)

    def test_a_waiting_question_is_answered_by_y_or_n(self):
        self.write_question_config()
        self.start_on_pty("-q", "ask.mon")  # the log would name the question too
        self.assertTrue(self.read_until("Go on with watched.txt?"), self.output)
        self.assertTrue(self.read_until("(Y/N)"), self.output)
        # "n" stops the chain: the list action after the question never runs.
        os.write(self.fd, b"n")
        asked = self.output.count(b"Go on with")
        self.assertTrue(self.read_until_count(b"Go on with", asked + 1), self.output)
        self.assertEqual(self.marker_lines(), 0)
        # Keys other than Y and N do not answer; "y" lets the chain go on.
        os.write(self.fd, b"qy")
        self.assertTrue(wait_for(lambda: self.marker_lines() >= 1))
        self.assertTrue(self.alive())
        os.write(self.fd, b"x")
        self.assertEqual(self.wait_exit(), 0)

    def read_until_count(self, text, count, deadline=DEADLINE):
        end = time.monotonic() + deadline
        while self.output.count(text) < count and time.monotonic() < end:
            self.read_until("never printed", deadline=0.2)
        return self.output.count(text) >= count

    def test_capital_x_ends(self):
        self.write_config()
        self.start_on_pty("cfg.mon")
        self.assertTrue(self.read_until("Press 'X' to exit."))
        os.write(self.fd, b"X")
        self.assertEqual(self.wait_exit(), 0)

    def test_ctrl_c_ends(self):
        self.write_config()
        self.start_on_pty("cfg.mon")
        self.assertTrue(self.read_until("Press 'X' to exit."))
        os.write(self.fd, b"\x03")
        self.assertEqual(self.wait_exit(), 0)

    def test_terminal_settings_come_back(self):
        self.write_config()
        self.start_on_pty("cfg.mon")
        self.assertTrue(self.read_until("Press 'X' to exit."))
        # Ended by a signal rather than a key, the terminal still returns to
        # line mode with echo: the shell after us would be unusable otherwise.
        import termios
        # While running, the terminal is raw and silent.
        attrs = termios.tcgetattr(self.fd)
        self.assertFalse(attrs[3] & termios.ECHO)
        self.assertFalse(attrs[3] & termios.ICANON)
        os.kill(self.pid, signal.SIGTERM)
        self.assertEqual(self.wait_exit(), 0)
        attrs = termios.tcgetattr(self.fd)
        self.assertTrue(attrs[3] & termios.ECHO)
        self.assertTrue(attrs[3] & termios.ICANON)

    @unittest.skipIf(os.environ.get("QUORVEL_SANITIZE") == "thread",
                     "ThreadSanitizer holds a sent signal back until the thread it reached "
                     "enters a call it intercepts, which a waiting worker may never do")
    def test_terminal_restored_after_a_crash(self):
        self.write_config()
        self.start_on_pty("cfg.mon")
        self.assertTrue(self.read_until("Press 'X' to exit."))
        import termios
        self.assertFalse(termios.tcgetattr(self.fd)[3] & termios.ECHO)
        os.kill(self.pid, signal.SIGQUIT)
        self.assertIsNotNone(self.wait_exit(), "the program outlived SIGQUIT")
        attrs = termios.tcgetattr(self.fd)
        self.assertTrue(attrs[3] & termios.ECHO)
        self.assertTrue(attrs[3] & termios.ICANON)

    def test_background_job_leaves_the_terminal_alone(self):
        # Run as a background job of the terminal (a process group of its
        # own): touching the terminal would stop it with SIGTTOU or SIGTTIN.
        self.write_config()
        pid_file = os.path.join(self.dir, "pid")
        pid, fd = pty.fork()
        if pid == 0:
            child = os.fork()
            if child == 0:
                os.setpgid(0, 0)
                os.chdir(self.dir)
                os.execve(PROGRAM, [PROGRAM, "cfg.mon"], self.env)
            with open(pid_file + ".tmp", "w") as f:
                f.write(str(child))
            os.rename(pid_file + ".tmp", pid_file)
            _, status = os.waitpid(child, 0)
            os._exit(os.waitstatus_to_exitcode(status) & 0xFF)
        self.addCleanup(lambda: os.close(fd))
        self.pid, self.fd, self.output = pid, fd, b""
        self.assertTrue(self.read_until("Press 'X' to exit."), self.output)
        self.assertTrue(wait_for(lambda: os.path.exists(pid_file)))
        with open(pid_file) as f:
            job = int(f.read())

        def kill_job():
            try:
                os.kill(job, signal.SIGKILL)
            except ProcessLookupError:
                pass
        self.addCleanup(kill_job)
        os.write(self.fd, b"x")
        start = self.marker_lines()
        self.assertTrue(wait_for(lambda: self.marker_lines() >= start + 2))
        os.kill(job, signal.SIGTERM)
        self.assertEqual(self.wait_exit(), 0)

    def test_missing_configuration_does_not_wait_for_a_key(self):
        self.start_on_pty("none.mon")
        self.assertEqual(self.wait_exit(), 1)
        self.read_until("never", deadline=0.2)
        self.assertIn(b"Can not load configuration file \"none.mon\".", self.output)


if __name__ == "__main__":
    PROGRAM = quorvel_test.take_program_argument()
    unittest.main(verbosity=2)
