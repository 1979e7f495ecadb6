"""The service body run for real: "/service" with NOTIFY_SOCKET pointing at a
datagram socket of the test's own, driven by the signals the service manager
sends."""

import os
import shutil
import signal
import socket
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
# Items tick every second; a paused item is watched for this many ticks.
PAUSE_WATCH = 3.0


class ServiceBodyTest(unittest.TestCase):
    abstract = False

    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.dir = self.tmp.name
        os.chmod(self.dir, 0o755)
        self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
        if self.abstract:
            name = f"quorvel-test-{os.getpid()}-{id(self)}"
            self.sock.bind("\0" + name)
            self.address = "@" + name
        else:
            self.address = os.path.join(self.dir, "notify.sock")
            self.sock.bind(self.address)
            os.chmod(self.address, 0o777)
        self.sock.settimeout(DEADLINE)
        self.env = dict(os.environ)
        self.env.update({
            "HOME": self.dir,
            "XDG_CONFIG_HOME": os.path.join(self.dir, "config"),
            "XDG_CACHE_HOME": os.path.join(self.dir, "cache"),
            "NOTIFY_SOCKET": self.address,
        })
        self.env.pop("QUORVEL_CONFIG", None)
        self.process = None

    def tearDown(self):
        if self.process and self.process.poll() is None:
            self.process.kill()
            self.process.wait()
        self.sock.close()
        self.tmp.cleanup()

    def write_config(self, name="cfg.mon"):
        watched = os.path.join(self.dir, "watched.txt")
        with open(watched, "w") as f:
            f.write("x")
        old = time.time() - 7200
        os.utime(watched, (old, old))
        # Two items that act every second while the file stays unchanged; the
        # second is paused by the configuration.
        blocks = []
        for paused, marker in ((0, "running.txt"), (1, "paused.txt")):
            blocks.append(
                f";;;\nPaused={paused}\nIsDirectory=0\nFileName={watched}\nInterval=1\n"
                f"IfChanged=0\n;\nAction=0\nListName={os.path.join(self.dir, marker)}\n"
                "ListParams=%File\nListAppend=1\nEOF\n")
        path = os.path.join(self.dir, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w") as f:
            f.write("; Quorvel 1.4.2 Config File\n" + "".join(blocks))
        return path

    def lines(self, marker):
        try:
            with open(os.path.join(self.dir, marker)) as f:
                return len(f.read().splitlines())
        except FileNotFoundError:
            return 0

    def start(self, *args, prefix=()):
        self.process = subprocess.Popen([*prefix, PROGRAM, "/service", *args],
                                        stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                        stderr=subprocess.PIPE, env=self.env, cwd=self.dir)

    def receive(self):
        return self.sock.recv(4096).decode()

    def stop_and_expect_clean_exit(self):
        self.process.send_signal(signal.SIGTERM)
        self.assertEqual(self.receive(), "STOPPING=1")
        _, err = self.process.communicate(timeout=60)
        self.assertEqual(self.process.returncode, 0, err)
        self.assertNotIn(b"Sanitizer", err)

    def test_ready_pause_continue_stop(self):
        self.write_config()
        # A relative path is resolved by the service in its own directory.
        self.start("cfg.mon")
        self.assertEqual(self.receive(),
                         "READY=1\nSTATUS=Configuration file \"cfg.mon\" is loaded.")
        self.assertTrue(wait_for(lambda: self.lines("running.txt") >= 2))

        self.process.send_signal(signal.SIGUSR1)
        self.assertEqual(self.receive(), "STATUS=Paused")
        at_pause = self.lines("running.txt")
        # A check already under way may finish; no further one starts.
        time.sleep(PAUSE_WATCH)
        self.assertLessEqual(self.lines("running.txt"), at_pause + 1)

        self.process.send_signal(signal.SIGUSR2)
        self.assertEqual(self.receive(),
                         "READY=1\nSTATUS=Configuration file \"cfg.mon\" is loaded.")
        resumed_from = self.lines("running.txt")
        self.assertTrue(wait_for(lambda: self.lines("running.txt") >= resumed_from + 2))

        # The item the configuration paused stayed paused throughout.
        self.assertEqual(self.lines("paused.txt"), 0)
        self.stop_and_expect_clean_exit()
        self.assertEqual(self.lines("paused.txt"), 0)

    def test_sigint_also_stops(self):
        self.write_config()
        self.start(os.path.join(self.dir, "cfg.mon"))
        self.assertTrue(self.receive().startswith("READY=1\n"))
        self.process.send_signal(signal.SIGINT)
        self.assertEqual(self.receive(), "STOPPING=1")
        _, err = self.process.communicate(timeout=60)
        self.assertEqual(self.process.returncode, 0)
        self.assertNotIn(b"Sanitizer", err)

    def test_configuration_from_the_manager_environment(self):
        self.write_config("from env.mon")
        self.env["QUORVEL_CONFIG"] = "from env.mon"
        self.start()
        self.assertEqual(self.receive(),
                         "READY=1\nSTATUS=Configuration file \"from env.mon\" is loaded.")
        self.assertTrue(wait_for(lambda: self.lines("running.txt") >= 1))
        self.stop_and_expect_clean_exit()

    def test_missing_configuration_fails_the_start(self):
        self.start("missing.mon")
        self.assertEqual(self.receive(),
                         "STATUS=Can not load configuration file \"missing.mon\".")
        _, err = self.process.communicate(timeout=60)
        self.assertNotEqual(self.process.returncode, 0)
        self.assertNotIn(b"Sanitizer", err)

    def test_status_cannot_carry_extra_assignments(self):
        self.start("bad\nSTOPPING=1.mon")
        message = self.receive()
        self.assertEqual(message.count("\n"), 0, message)
        self.assertTrue(message.startswith("STATUS="))
        _, err = self.process.communicate(timeout=60)
        self.assertNotEqual(self.process.returncode, 0)
        self.assertNotIn(b"Sanitizer", err)

    def test_unprivileged_service_uses_the_users_default(self):
        prefix = ()
        if os.geteuid() == 0:
            setpriv = shutil.which("setpriv")
            if not setpriv:
                self.skipTest("setpriv is needed to run the service as a user")
            prefix = (setpriv, "--reuid=65534", "--regid=65534", "--clear-groups")
        path = self.write_config(os.path.join("config", "quorvel", "default.mon"))
        if prefix:
            for root, dirs, files in os.walk(self.dir):
                for name in dirs + files + [""]:
                    os.chown(os.path.join(root, name), 65534, 65534)
        self.start(prefix=prefix)
        self.assertEqual(self.receive(), f"READY=1\nSTATUS=Configuration file \"{path}\" is loaded.")
        self.assertTrue(wait_for(lambda: self.lines("running.txt") >= 1))
        self.stop_and_expect_clean_exit()


class AbstractSocketServiceBodyTest(ServiceBodyTest):
    abstract = True


if __name__ == "__main__":
    PROGRAM = quorvel_test.take_program_argument()
    unittest.main(verbosity=2)
