"""The service commands against a recording systemctl placed first in PATH:
the exact calls, the unit file written, messages and exit codes."""

import os
import shutil
import stat
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import quorvel_test  # noqa: E402

PROGRAM = None

# A plain shell script, so an unprivileged user can run it too. Each call is
# one record of NUL-terminated arguments ended by a record separator.
STUB = """#!/bin/sh
for a in "$@"; do printf '%s\\0' "$a"; done >> "$STUB_LOG"
printf '\\036' >> "$STUB_LOG"
verb=""
for a in "$@"; do
  case "$a" in -*) ;; *) verb="$a"; break ;; esac
done
case ",$STUB_FAIL," in *",$verb,"*) exit 1 ;; esac
if [ "$verb" = is-active ]; then
  [ -n "$STUB_ACTIVE" ] && exit 0
  exit 3
fi
exit 0
"""


class ServiceCommandsTest(unittest.TestCase):
    as_user = False  # run the program as an unprivileged user

    def setUp(self):
        setpriv = shutil.which("setpriv")
        if self.as_user and (os.geteuid() != 0 or not setpriv):
            self.skipTest("needs root and setpriv to run the program as another user")
        self.tmp = tempfile.TemporaryDirectory()
        self.dir = self.tmp.name
        self.bin = os.path.join(self.dir, "bin")
        os.mkdir(self.bin)
        self.stub = os.path.join(self.bin, "systemctl")
        with open(self.stub, "w") as f:
            f.write(STUB)
        os.chmod(self.stub, 0o755)
        self.log = os.path.join(self.dir, "calls.log")
        self.units = os.path.join(self.dir, "units")
        self.env = dict(os.environ)
        self.env.update({
            "PATH": self.bin + os.pathsep + os.environ.get("PATH", "/usr/bin:/bin"),
            "STUB_LOG": self.log,
            "HOME": self.dir,
            "XDG_CONFIG_HOME": os.path.join(self.dir, "config"),
            "QUORVEL_SYSTEMD_UNIT_DIR": self.units,
        })
        self.env.pop("NOTIFY_SOCKET", None)
        self.env.pop("STUB_FAIL", None)
        self.env.pop("STUB_ACTIVE", None)
        self.prefix = []
        if self.as_user:
            for root, dirs, files in os.walk(self.dir):
                for name in dirs + files + [""]:
                    os.chown(os.path.join(root, name), 65534, 65534)
            os.chmod(self.dir, 0o755)
            self.prefix = [setpriv, "--reuid=65534", "--regid=65534", "--clear-groups"]
        privileged = os.geteuid() == 0 and not self.as_user
        self.manager = [] if privileged else ["--user"]

    def tearDown(self):
        self.tmp.cleanup()

    def run_program(self, *args, fail=None):
        env = dict(self.env)
        if fail:
            env["STUB_FAIL"] = ",".join(fail)
        if os.path.exists(self.log):
            os.remove(self.log)
        r = subprocess.run(self.prefix + [PROGRAM, *args], stdin=subprocess.DEVNULL,
                           capture_output=True, text=True, env=env, cwd=self.dir, timeout=120)
        # The command's message follows the banner and its empty line.
        head, _, rest = r.stdout.partition("\n\n")
        self.assertTrue(head.startswith(f"Quorvel {quorvel_test.VERSION} [console version], "),
                        r.stdout)
        return r.returncode, rest

    def calls(self):
        if not os.path.exists(self.log):
            return []
        with open(self.log, "rb") as f:
            records = f.read().split(b"\x1e")[:-1]
        return [[a.decode() for a in r.split(b"\0")[:-1]] for r in records]

    def unit_path(self):
        return os.path.join(self.units, "quorvinsvc.service")

    def expected_unit(self, wanted_by):
        return ("[Unit]\nDescription=Quorvel\n\n[Service]\nType=notify\n"
                f"ExecStartPre=\"{PROGRAM}\" /check /service\n"
                f"ExecStart=\"{PROGRAM}\" /service\nRestart=no\n\n[Install]\n"
                f"WantedBy={wanted_by}\n")

    def test_install_writes_the_unit_and_reloads(self):
        code, out = self.run_program("/install", "extra", "args")
        self.assertEqual((code, out), (0, "Service is installed successfully.\n"))
        self.assertEqual(self.calls(), [self.manager + ["daemon-reload"]])
        with open(self.unit_path()) as f:
            text = f.read()
        target = "default.target" if self.manager else "multi-user.target"
        self.assertEqual(text, self.expected_unit(target))
        self.assertEqual(stat.S_IMODE(os.stat(self.unit_path()).st_mode), 0o644)
        self.assertEqual([n for n in os.listdir(self.units)], ["quorvinsvc.service"])

    def test_install_twice_fails(self):
        self.assertEqual(self.run_program("/install")[0], 0)
        with open(self.unit_path()) as f:
            first = f.read()
        code, out = self.run_program("/INSTALL")
        self.assertEqual((code, out), (1, "Can not install service.\n"))
        self.assertEqual(self.calls(), [])
        with open(self.unit_path()) as f:
            self.assertEqual(f.read(), first)

    def test_install_without_a_working_manager_leaves_nothing(self):
        code, out = self.run_program("/install", fail=["daemon-reload"])
        self.assertEqual((code, out), (1, "Can not install service.\n"))
        self.assertFalse(os.path.exists(self.unit_path()))
        # So a later attempt can succeed.
        self.assertEqual(self.run_program("/install")[0], 0)

    def test_remove_stops_deletes_and_reloads(self):
        self.assertEqual(self.run_program("/install")[0], 0)
        code, out = self.run_program("/remove")
        self.assertEqual((code, out), (0, "Service is removed successfully.\n"))
        self.assertEqual(self.calls(), [
            self.manager + ["stop", "quorvinsvc.service"],
            self.manager + ["disable", "--quiet", "quorvinsvc.service"],
            self.manager + ["unset-environment", "QUORVEL_CONFIG"],
            self.manager + ["daemon-reload"],
        ])
        self.assertFalse(os.path.exists(self.unit_path()))

    def test_remove_ignores_a_failed_stop(self):
        self.assertEqual(self.run_program("/install")[0], 0)
        code, out = self.run_program("/Remove", fail=["stop"])
        self.assertEqual((code, out), (0, "Service is removed successfully.\n"))
        self.assertFalse(os.path.exists(self.unit_path()))

    def test_remove_without_a_unit_fails(self):
        code, out = self.run_program("/remove")
        self.assertEqual((code, out), (1, "Can not remove service.\n"))
        self.assertEqual(self.calls(), [])

    def test_start_passes_the_configuration_as_typed(self):
        cases = [
            ([], [], None),
            (["cfg.mon"], [], "cfg.mon"),
            (["cfg.mon", "ignored"], [], "cfg.mon"),
            (["\\\\server"], ["--host=server"], None),
            (["\\\\server", "cfg.mon", "x"], ["--host=server"], "cfg.mon"),
            (["\\server", "cfg.mon"], [], "\\server"),
            (["../rel dir/it's \"$HOME\" %n.mon"], [], "../rel dir/it's \"$HOME\" %n.mon"),
        ]
        for args, host, config in cases:
            with self.subTest(args=args):
                code, out = self.run_program("/start", *args)
                self.assertEqual((code, out), (0, "Service started.\n"))
                manager = host if host else self.manager
                if config is None:
                    env_call = manager + ["unset-environment", "QUORVEL_CONFIG"]
                else:
                    env_call = manager + ["set-environment", "QUORVEL_CONFIG=" + config]
                self.assertEqual(self.calls(), [
                    manager + ["is-active", "--quiet", "quorvinsvc.service"], env_call,
                    manager + ["start", "quorvinsvc.service"]])

    def test_start_while_the_service_runs_fails_and_changes_nothing(self):
        self.env["STUB_ACTIVE"] = "1"
        code, out = self.run_program("/start", "other.mon")
        self.assertEqual((code, out), (1, "Can not start service.\n"))
        self.assertEqual(self.calls(), [self.manager + ["is-active", "--quiet",
                                                        "quorvinsvc.service"]])

    def test_start_failure(self):
        code, out = self.run_program("/start", "cfg.mon", fail=["start"])
        self.assertEqual((code, out), (1, "Can not start service.\n"))
        code, out = self.run_program("/start", "cfg.mon", fail=["set-environment"])
        self.assertEqual((code, out), (1, "Can not start service.\n"))
        # Nothing is started with a configuration that did not arrive.
        self.assertEqual(len(self.calls()), 2)

    def test_stop(self):
        cases = [([], []), (["cfg.mon"], []), (["\\\\host.lan"], ["--host=host.lan"]),
                 (["\\host"], [])]
        for args, host in cases:
            with self.subTest(args=args):
                code, out = self.run_program("/STOP", *args)
                self.assertEqual((code, out), (0, "Service stopped.\n"))
                manager = host if host else self.manager
                self.assertEqual(self.calls(), [manager + ["stop", "quorvinsvc.service"]])
        code, out = self.run_program("/stop", fail=["stop"])
        self.assertEqual((code, out), (1, "Can not stop service.\n"))

    def test_without_systemctl_every_command_fails(self):
        os.remove(self.stub)
        self.env["PATH"] = self.bin
        for args, text in [(["/install"], "Can not install service.\n"),
                           (["/start"], "Can not start service.\n"),
                           (["/stop"], "Can not stop service.\n")]:
            code, out = self.run_program(*args)
            self.assertEqual((code, out), (1, text))
        self.assertFalse(os.path.exists(self.unit_path()))


class UserServiceCommandsTest(ServiceCommandsTest):
    """The same commands run by an unprivileged user talk to the user's
    manager; a host name still means that host's system manager."""
    as_user = True


if __name__ == "__main__":
    PROGRAM = quorvel_test.take_program_argument()
    unittest.main(verbosity=2)
