"""The service body run for real: "/service" with NOTIFY_SOCKET pointing at a
datagram socket of the test's own, driven by the signals the service manager
sends."""

import json
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
            f.write("; Quorvel %s Config File\n" % quorvel_test.VERSION + "".join(blocks))
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

    def bind_journal(self):
        journal = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
        self.addCleanup(journal.close)
        path = os.path.join(self.dir, "journal.sock")
        journal.bind(path)
        journal.settimeout(DEADLINE)
        self.env["QUORVEL_JOURNAL_SOCKET"] = path
        return journal

    def test_missing_configuration_fails_the_start_and_the_journal_says_why(self):
        journal = self.bind_journal()
        # The manager reads a backslash as an escape: it comes doubled.
        self.start("missing\\x.mon")
        self.assertEqual(self.receive(),
                         "STATUS=Can not load configuration file \"missing\\\\x.mon\".")
        record = dict(self.journal_fields(journal.recv(1 << 20)))
        self.assertEqual(record["PRIORITY"], "3")
        self.assertIn("\"missing\\x.mon\". The file does not exist.", record["MESSAGE"])
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


    def write_acting_config(self):
        """One item that acts every second: a list file, then a program that
        does not exist."""
        watched = os.path.join(self.dir, "watched.txt")
        with open(watched, "w") as f:
            f.write("x")
        old = time.time() - 7200
        os.utime(watched, (old, old))
        with open(os.path.join(self.dir, "act.mon"), "w") as f:
            f.write(f";;;\nIsDirectory=0\nFileName={watched}\nInterval=1\nIfChanged=0\n;\n"
                    f"Action=0\nListName={os.path.join(self.dir, 'list.txt')}\n;\n"
                    "Action=1\nCommand=no-such-program-quorvel\nEOF\n")
        return watched

    @staticmethod
    def journal_fields(data):
        """The fields of one record in the journal's native protocol."""
        fields = []
        pos = 0
        while pos < len(data):
            end = data.index(b"\n", pos)
            line = data[pos:end]
            if b"=" in line:
                name, value = line.split(b"=", 1)
                pos = end + 1
            else:
                name = line
                size = int.from_bytes(data[end + 1:end + 9], "little")
                value = data[end + 9:end + 9 + size]
                pos = end + 9 + size + 1
            fields.append((name.decode(), value.decode()))
        return fields

    def test_records_reach_the_journal_with_their_fields(self):
        if self.abstract:
            self.skipTest("the same with either notification socket")
        journal = self.bind_journal()
        watched = self.write_acting_config()
        self.start("act.mon")
        self.assertTrue(self.receive().startswith("READY=1\n"))
        records = []
        while not any(dict(r).get("PRIORITY") == "3" for r in records):
            records.append(self.journal_fields(journal.recv(1 << 20)))
        acting = [dict(r) for r in records if dict(r)["MESSAGE"].startswith("info | item 1")]
        self.assertTrue(acting, records)
        first = acting[0]
        self.assertEqual(first["SYSLOG_IDENTIFIER"], "quorvinsvc")
        self.assertEqual(first["PRIORITY"], "6")
        self.assertEqual(first["QUORVEL_ITEM"], watched)
        self.assertEqual(first["QUORVEL_ITEM_NUMBER"], "1")
        self.assertEqual(first["QUORVEL_FILE"], watched)
        failed = next(dict(r) for r in records if dict(r).get("PRIORITY") == "3")
        self.assertEqual(failed["QUORVEL_ACTION"].strip(), "no-such-program-quorvel")
        self.assertIn("could not be started", failed["MESSAGE"])
        self.stop_and_expect_clean_exit()

    def test_journalctl_filters_a_service_run_by_item(self):
        journald = "/lib/systemd/systemd-journald"
        if self.abstract or os.geteuid() != 0 or not os.path.exists(journald) \
                or not shutil.which("journalctl"):
            self.skipTest("a journal of the test's own needs root and systemd-journald")
        # A journal namespace of the test's own, read back with journalctl.
        namespace = "quorveltest%d" % os.getpid()
        daemon = subprocess.Popen([journald, namespace], stdout=subprocess.DEVNULL,
                                  stderr=subprocess.DEVNULL)

        def stop_journal():
            daemon.terminate()
            daemon.wait(timeout=30)
            shutil.rmtree("/run/systemd/journal." + namespace, ignore_errors=True)
            for base in ("/run/log/journal", "/var/log/journal"):
                if os.path.isdir(base):
                    for entry in os.listdir(base):
                        if entry.endswith("." + namespace):
                            shutil.rmtree(os.path.join(base, entry), ignore_errors=True)
        self.addCleanup(stop_journal)
        socket_path = "/run/systemd/journal.%s/socket" % namespace
        self.assertTrue(wait_for(lambda: os.path.exists(socket_path)), "no journal came up")
        self.env["QUORVEL_JOURNAL_SOCKET"] = socket_path
        watched = self.write_acting_config()
        self.start("act.mon")
        self.assertTrue(self.receive().startswith("READY=1\n"))

        def entries():
            r = subprocess.run(["journalctl", "--namespace=" + namespace, "--no-pager",
                                "-o", "json", "QUORVEL_ITEM=" + watched],
                               capture_output=True, text=True, timeout=60)
            return [json.loads(line) for line in r.stdout.splitlines() if line.startswith("{")]
        self.assertTrue(wait_for(lambda: any(e.get("PRIORITY") == "3" for e in entries())))
        found = entries()
        self.assertTrue(all(e["QUORVEL_ITEM"] == watched for e in found))
        self.assertTrue(any(e.get("QUORVEL_ACTION", "").startswith("no-such-program")
                            for e in found))
        self.stop_and_expect_clean_exit()


class AbstractSocketServiceBodyTest(ServiceBodyTest):
    abstract = True


if __name__ == "__main__":
    PROGRAM = quorvel_test.take_program_argument()
    unittest.main(verbosity=2)
