"""quorvinsvc.exe tried from outside under Wine: the banner, the usage text,
a missing configuration, a run with a file item and a directory item whose
list files report what the test changed, and the service under Wine's
service control manager."""

import os
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "support"))
import quorvel_test  # noqa: E402

PROGRAM = quorvel_test.take_program_argument()
HELPER = quorvel_test.take_program_argument()
WINE = shutil.which("wine") or "wine"


def windows_path(path):
    """Wine shows the root of the Linux file system as drive Z:."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def run(*arguments, timeout=120):
    return subprocess.run([WINE, PROGRAM, *arguments], stdin=subprocess.DEVNULL,
                          capture_output=True, timeout=timeout)


def read(path):
    try:
        with open(path, "rb") as f:
            return f.read().decode("utf-8", "replace")
    except OSError:
        return ""


CONFIG = """;;;
Paused=0
IsDirectory=0
FileName={watched}
Interval=1
IfChanged=1
IgnoreFirst=1
MustExist=0
;
Action=0
Enabled=1
ListName={history}
ListParams=changed %File
ListAppend=1

EOF
;;;
Paused=0
IsDirectory=1
FileName={inbox}
Interval=3600
Mask=*
Subdir=0
RealTime=1
RealTimeInterval=1
Conditions=1110
StorePrevInfo=1
;
Action=0
Enabled=1
ListName={report}
ListParams=%(%Added="added"%Changed="changed"%Deleted="deleted" %Name%)
ListAppend=1
EOF
"""


class WindowsProgramTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="quorvel-win-")
        self.addCleanup(shutil.rmtree, self.dir, True)
        os.mkdir(os.path.join(self.dir, "inbox"))
        self.watched = os.path.join(self.dir, "watched.log")
        with open(self.watched, "w") as f:
            f.write("start\n")
        self.history = os.path.join(self.dir, "history.txt")
        self.report = os.path.join(self.dir, "report.txt")
        self.config = os.path.join(self.dir, "two items.mon")
        with open(self.config, "w", newline="\r\n") as f:
            f.write(CONFIG.format(watched=windows_path(self.watched),
                                  history=windows_path(self.history),
                                  inbox=windows_path(os.path.join(self.dir, "inbox")),
                                  report=windows_path(self.report)))

    def append(self, path, text):
        with open(path, "a") as f:
            f.write(text)

    def touch(self, path):
        open(path, "w").close()

    def test_banner_usage_and_a_missing_configuration(self):
        usage = run("/?")
        self.assertEqual(usage.returncode, 0)
        text = usage.stdout.decode()
        self.assertTrue(text.startswith("Quorvel " + quorvel_test.VERSION + " [console version]"),
                        text)
        self.assertIn(">quorvinsvc.exe /install", text)
        missing = run(windows_path(os.path.join(self.dir, "missing.mon")))
        self.assertEqual(missing.returncode, 1)
        self.assertIn('Can not load configuration file "', missing.stdout.decode())

    def test_a_run_reports_a_change_a_creation_and_a_deletion(self):
        process = subprocess.Popen([WINE, PROGRAM, windows_path(self.config)],
                                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL)
        self.addCleanup(process.wait)
        self.addCleanup(process.kill)
        # A change made before an item's first check is its starting state,
        # so each change is made again until it is reported.
        self.assertTrue(quorvel_test.wait_for(
            lambda: self.append(self.watched, "more\n") or "changed " in read(self.history), 60))
        self.assertIn("changed " + windows_path(self.watched) + "\r\n", read(self.history))
        new = os.path.join(self.dir, "inbox", "new file.txt")
        self.assertTrue(quorvel_test.wait_for(
            lambda: self.touch(new) or "added new file.txt\r\n" in read(self.report), 60))
        os.remove(new)
        self.assertTrue(quorvel_test.wait_for(
            lambda: "deleted new file.txt\r\n" in read(self.report), 60))
        self.assertIsNone(process.poll())

    def test_the_service_under_the_service_control_manager(self):
        def sc(*arguments):
            return subprocess.run([WINE, "sc.exe", *arguments], stdin=subprocess.DEVNULL,
                                  capture_output=True, timeout=120).stdout.decode()

        def control(what):
            subprocess.run([WINE, HELPER, "control", "QuorvinSvc", what],
                           stdin=subprocess.DEVNULL, capture_output=True, timeout=120)

        def state():
            for line in sc("query", "QuorvinSvc").splitlines():
                if "STATE" in line:
                    return line.split()[-1]
            return ""

        installed = run("/install")
        self.assertEqual(installed.returncode, 0, installed.stdout)
        self.addCleanup(run, "/remove")
        self.assertEqual(run("/install").returncode, 1)  # it exists already
        # Wine's sc.exe has no "qc": the service's key tells the command line.
        image = subprocess.run(
            [WINE, "reg.exe", "query", "HKLM\\System\\CurrentControlSet\\Services\\QuorvinSvc",
             "/v", "ImagePath"], stdin=subprocess.DEVNULL, capture_output=True,
            timeout=120).stdout.decode()
        self.assertIn('"' + windows_path(PROGRAM) + '" /service', image)

        self.assertEqual(run("/start", windows_path(self.config)).returncode, 0)
        self.assertTrue(quorvel_test.wait_for(lambda: state() == "RUNNING", 60))
        inbox = os.path.join(self.dir, "inbox", "svc.txt")
        self.assertTrue(quorvel_test.wait_for(
            lambda: self.touch(inbox) or "added svc.txt" in read(self.report), 60))
        control("pause")
        self.assertTrue(quorvel_test.wait_for(lambda: state() == "PAUSED", 60))
        control("continue")
        self.assertTrue(quorvel_test.wait_for(lambda: state() == "RUNNING", 60))
        self.assertEqual(run("/stop").returncode, 0)
        self.assertTrue(quorvel_test.wait_for(lambda: state() == "STOPPED", 60))

        # A configuration that cannot be loaded stops it with its own code.
        self.assertEqual(run("/start", windows_path(os.path.join(self.dir, "no.mon"))).returncode,
                         0)
        self.assertTrue(quorvel_test.wait_for(
            lambda: "3000" in sc("query", "QuorvinSvc") and state() == "STOPPED", 60))
        self.assertEqual(run("/remove").returncode, 0)
        self.assertEqual(run("/stop").returncode, 1)  # no such service now


if __name__ == "__main__":
    unittest.main()
