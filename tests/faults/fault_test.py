"""The console program under faults of its surroundings: the watched
directory removed and created again, a subdirectory that cannot be read, a
read-only cache directory, a full disk under the cache, the configuration
deleted while running, and SIGTERM in the middle of an action chain. After
each the program still runs (or, for SIGTERM, ends in order with status 0)
and the cache last written is still whole.

Permission cases run as the user nobody (setpriv) when started as root, for
whom permissions refuse nothing. The full-disk case mounts a 1 MiB tmpfs and is skipped,
saying so, where mounting is refused.

    python3 fault_test.py /path/to/quorvinsvc
"""

import os
import pwd
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import quorvel_test  # noqa: E402
from quorvel_test import wait_for  # noqa: E402

PROGRAM = None
DEADLINE = quorvel_test.DEADLINE = 60.0  # generous: sanitizer builds on a busy machine are slow


def parse_cache(path):
    """The records of a cache file as (key, time, size, name) tuples, or None
    when the file is not exactly one valid cache."""
    try:
        with open(path, "rb") as f:
            data = f.read()
    except OSError:
        return None
    if len(data) < 4:
        return None
    (count,) = struct.unpack_from("<i", data, 0)
    pos, records = 4, []
    for _ in range(max(0, count)):
        if pos + 21 > len(data):
            return None
        key, when, size, flag = struct.unpack_from("<Idqb", data, pos)
        pos += 21
        name = None
        if flag == 1:
            if pos + 4 > len(data):
                return None
            (length,) = struct.unpack_from("<i", data, pos)
            pos += 4
            if length < 1 or pos + length + 1 > len(data) or data[pos + length] != 0:
                return None
            name = data[pos:pos + length].decode("utf-8", "replace")
            pos += length + 1
        elif flag != 0:
            return None
        records.append((key, when, size, name))
    return records if pos == len(data) else None


def read_text(path):
    try:
        with open(path, encoding="utf-8", errors="replace") as f:
            return f.read()
    except FileNotFoundError:
        return ""


def list_lines(path):
    try:
        with open(path, encoding="utf-8", errors="replace") as f:
            return [line.rstrip("\r\n") for line in f if line.endswith("\n")]
    except FileNotFoundError:
        return []


def dir_item(watched, lists, cache_dir, cache_id, *extra, actions=None):
    lines = [";;;", "Paused=0", "IsDirectory=1", "FileName=" + watched, "Interval=1",
             "CacheID=" + cache_id, "CacheDirectory=" + cache_dir, "CacheData=1",
             "Conditions=1110", "StorePrevInfo=1", *extra]
    if actions is None:
        actions = [["Action=0", "ListName=" + lists,
                    'ListParams=%Added="A|"%Changed="C|"%Deleted="D|"%File', "ListAppend=1"]]
    for action in actions:
        lines += [";"] + action
    return "\n".join(lines + ["EOF", ""])


class Program:
    """One run of the console program, optionally as the user nobody."""

    def __init__(self, case, config, as_nobody=False):
        self.case = case
        self.out_path = os.path.join(case.dir, "out-%d.txt" % len(case.programs))
        self.err_path = os.path.join(case.dir, "err-%d.txt" % len(case.programs))
        argv = [PROGRAM, config]
        if as_nobody and os.getuid() == 0:
            argv = ["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"] + argv
        with open(self.out_path, "wb") as out, open(self.err_path, "wb") as err:
            self.proc = subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=out,
                                         stderr=err, cwd=case.dir, env=case.env)
        case.programs.append(self)
        case.assertTrue(wait_for(lambda: "Monitoring started" in self.output()
                                 or self.proc.poll() is not None),
                        "the program did not start")
        case.assertIsNone(self.proc.poll(), "the program ended at once: " + self.output())

    def output(self):
        return read_text(self.out_path)

    def errors(self):
        return read_text(self.err_path)

    def assert_running(self):
        self.case.assertIsNone(self.proc.poll(),
                               "the program ended (status %s): %s" % (self.proc.returncode,
                                                                     self.errors()[-2000:]))

    def terminate(self):
        """SIGTERM; answers the exit status."""
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
        try:
            return self.proc.wait(timeout=DEADLINE)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
            return "hung"


class FaultCase(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="quorvel-faults-")
        os.chmod(self.tmp, 0o755)  # nobody must reach the files below
        self.dir = self.tmp
        self.programs = []
        self.mounts = []
        self.env = quorvel_test.home_environment(self.dir, cache="xdgcache")
        # Leak reports of a sanitizer build would need ptrace, refused after
        # setpriv; everything else is still checked.
        self.env["ASAN_OPTIONS"] = self.env.get("ASAN_OPTIONS", "") + ":detect_leaks=0"
        self.watched = self.path("watched")
        self.cache = self.path("cache")
        self.lists = self.path("lists", "items.txt")
        self.config = self.path("cfg.mon")
        os.makedirs(self.watched)
        os.makedirs(self.cache)
        os.makedirs(os.path.dirname(self.lists))

    def tearDown(self):
        for p in self.programs:
            if p.proc.poll() is None:
                p.proc.kill()
                p.proc.wait()
            err = p.errors()
            self.assertNotIn("Sanitizer", err, err[-3000:])
            self.assertNotIn("runtime error", err, err[-3000:])
        for m in reversed(self.mounts):
            subprocess.run(["umount", "-l", m], capture_output=True)
        # Read permission may have been taken away from a directory.
        for root, dirs, _ in os.walk(self.tmp):
            for d in dirs:
                try:
                    os.chmod(os.path.join(root, d), 0o755)
                except OSError:
                    pass
        shutil.rmtree(self.tmp, ignore_errors=True)

    def path(self, *parts):
        return os.path.join(self.dir, *parts)

    def give_to_nobody(self):
        if os.getuid() != 0:
            return  # an ordinary user is refused by permissions already
        nobody = pwd.getpwnam("nobody")
        for root, dirs, files in os.walk(self.tmp):
            for name in dirs + files:
                os.chown(os.path.join(root, name), nobody.pw_uid, nobody.pw_gid)
        os.chown(self.tmp, nobody.pw_uid, nobody.pw_gid)

    def write_config(self, text):
        with open(self.config, "w") as f:
            f.write("; Quorvel %s Config File\n" % quorvel_test.VERSION + "\n" + text)

    def touch(self, *parts):
        p = os.path.join(*parts)
        with open(p, "w") as f:
            f.write("data")
        if os.getuid() == 0:
            nobody = pwd.getpwnam("nobody")
            os.chown(p, nobody.pw_uid, nobody.pw_gid)
        return p

    def reported(self, kind, path, lists=None):
        return (kind + "|" + path) in list_lines(lists or self.lists)

    def wait_reported(self, kind, path, lists=None):
        self.assertTrue(wait_for(lambda: self.reported(kind, path, lists)),
                        "%s|%s was not reported; lines: %s" % (
                            kind, path, list_lines(lists or self.lists)[-20:]))

    def start_settled(self, cache_id="F1"):
        """Starts the program and, when the item has no cache yet, waits for its
        first check: a file made before that check belongs to the baseline and is
        rightly never reported as added."""
        had_cache = os.path.exists(self.cache_file(cache_id))
        p = Program(self, self.config)
        if not had_cache:
            self.assertTrue(wait_for(lambda: os.path.exists(self.cache_file(cache_id))),
                            "the item made no first check")
        return p

    def cache_file(self, cache_id="F1"):
        return os.path.join(self.cache, cache_id + ".DAT")

    def wait_cache_with(self, names, cache_id="F1"):
        def holds():
            records = parse_cache(self.cache_file(cache_id))
            return records is not None and set(names) <= {r[3] for r in records}
        self.assertTrue(wait_for(holds), "the cache never held %s" % names)

    def require_root(self):
        if os.getuid() != 0:
            self.skipTest("needs root to mount")

    # ---------------------------------------------------------- cases ----

    def test_watched_directory_removed_and_created_again(self):
        self.write_config(dir_item(self.watched, self.lists, self.cache, "F1", "RealTime=1"))
        p = self.start_settled()
        first = self.touch(self.watched, "first.txt")
        self.wait_reported("A", first)
        self.wait_cache_with([first])

        shutil.rmtree(self.watched)
        self.wait_reported("D", first)
        p.assert_running()
        self.assertIsNotNone(parse_cache(self.cache_file()))

        os.makedirs(self.watched)
        second = self.touch(self.watched, "second.txt")
        self.wait_reported("A", second)
        self.wait_cache_with([second])
        p.assert_running()
        self.assertEqual(p.terminate(), 0)

    def test_subdirectory_without_read_permission(self):
        sub = os.path.join(self.watched, "sub")
        os.makedirs(sub)
        inside = self.touch(sub, "inside.txt")
        self.write_config(dir_item(self.watched, self.lists, self.cache, "F1", "Subdir=1"))
        self.give_to_nobody()
        p = Program(self, self.config, as_nobody=True)
        self.wait_cache_with([inside])

        os.chmod(sub, 0o000)
        # What cannot be read contributes nothing: its files count as deleted.
        self.wait_reported("D", inside)
        top = self.touch(self.watched, "top.txt")
        self.wait_reported("A", top)
        p.assert_running()
        self.assertIsNotNone(parse_cache(self.cache_file()))

        os.chmod(sub, 0o755)
        self.assertTrue(wait_for(lambda: list_lines(self.lists).count("A|" + inside) == 1))
        p.assert_running()
        self.assertEqual(p.terminate(), 0)

    # Real-time watches follow the directories the item walks, so later
    # changes are reported at once (the interval is an hour here).

    def realtime_item(self):
        return dir_item(self.watched, self.lists, self.cache, "F1", "RealTime=1", "Subdir=1",
                        "Interval=3600")

    def test_realtime_watches_directories_made_while_events_were_lost(self):
        self.write_config(self.realtime_item())
        p = self.start_settled()
        flood = os.path.join(self.watched, "flood")
        os.makedirs(flood)
        self.wait_reported("A", self.touch(flood, "first.txt"))  # watched and settled
        p.proc.send_signal(signal.SIGSTOP)  # the kernel's queue overflows meanwhile
        try:
            for i in range(20000):
                with open(os.path.join(flood, "f%05d" % i), "w"):
                    pass
            during = os.path.join(self.watched, "during")
            os.makedirs(during)
        finally:
            p.proc.send_signal(signal.SIGCONT)
        self.wait_reported("A", os.path.join(flood, "f19999"))
        late = self.touch(during, "late.txt")
        self.wait_reported("A", late)
        p.assert_running()
        self.assertEqual(p.terminate(), 0)

    def test_realtime_watch_follows_a_directory_moved_over_another(self):
        a = os.path.join(self.watched, "d", "a")
        b = os.path.join(self.watched, "d", "b")
        os.makedirs(a)
        os.makedirs(b)
        self.touch(a, "x.txt")
        self.write_config(self.realtime_item())
        p = self.start_settled()
        os.rename(a, b)  # mv -T d/a d/b over the empty d/b
        self.wait_reported("A", os.path.join(b, "x.txt"))
        later = self.touch(b, "later.txt")
        self.wait_reported("A", later)
        p.assert_running()
        self.assertEqual(p.terminate(), 0)

    def test_realtime_watches_a_directory_once_it_becomes_readable(self):
        sub = os.path.join(self.watched, "sub")
        os.makedirs(sub)
        inside = self.touch(sub, "inside.txt")
        self.write_config(self.realtime_item())
        self.give_to_nobody()
        os.chmod(sub, 0o000)
        p = Program(self, self.config, as_nobody=True)
        self.assertTrue(wait_for(lambda: os.path.exists(self.cache_file())))
        os.chmod(sub, 0o755)  # only an attribute change
        self.wait_reported("A", inside)
        later = self.touch(sub, "later.txt")
        self.wait_reported("A", later)
        p.assert_running()
        self.assertEqual(p.terminate(), 0)

    def test_read_only_cache_directory(self):
        self.write_config(dir_item(self.watched, self.lists, self.cache, "F1"))
        before = self.touch(self.watched, "before.txt")
        self.give_to_nobody()
        p = Program(self, self.config, as_nobody=True)
        self.wait_cache_with([before])
        kept = parse_cache(self.cache_file())

        os.chmod(self.cache, 0o555)
        later = self.touch(self.watched, "later.txt")
        self.wait_reported("A", later)  # monitoring goes on without its cache
        gone = before
        os.unlink(gone)
        self.wait_reported("D", gone)
        p.assert_running()
        self.assertEqual(parse_cache(self.cache_file()), kept, "the old cache was touched")
        self.assertEqual(sorted(os.listdir(self.cache)), ["F1.DAT"])

        os.chmod(self.cache, 0o755)
        self.wait_cache_with([later])
        self.assertNotIn(gone, {r[3] for r in parse_cache(self.cache_file())})
        p.assert_running()
        self.assertEqual(p.terminate(), 0)

    def test_cache_disk_full(self):
        self.require_root()
        r = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=1m,mode=0755", "tmpfs", self.cache],
                           capture_output=True, text=True)
        if r.returncode != 0:
            print("\nfull-disk case skipped: mounting a tmpfs was refused (%s)" % r.stderr.strip(),
                  file=sys.stderr)
            self.skipTest("mounting a tmpfs was refused: " + r.stderr.strip())
        self.mounts.append(self.cache)
        self.write_config(dir_item(self.watched, self.lists, self.cache, "F1"))
        first = self.touch(self.watched, "first.txt")
        p = Program(self, self.config)
        self.wait_cache_with([first])
        kept = parse_cache(self.cache_file())

        # Fill the disk, then make the next cache larger than what is left:
        # names are kept, so each entry needs a hundred bytes or more.
        filler = os.path.join(self.cache, "filler")
        fd = os.open(filler, os.O_WRONLY | os.O_CREAT, 0o644)
        try:
            while os.write(fd, b"\0" * 4096) > 0:
                pass
        except OSError:
            pass
        finally:
            os.close(fd)
        many = [self.touch(self.watched, "n%04d_%s.txt" % (i, "x" * 80)) for i in range(300)]
        self.wait_reported("A", many[-1])
        self.wait_reported("A", many[0])
        p.assert_running()
        self.assertEqual(parse_cache(self.cache_file()), kept, "a full disk damaged the cache")

        os.unlink(filler)
        self.wait_cache_with(many[:1] + many[-1:])
        leftovers = [n for n in os.listdir(self.cache) if n != "F1.DAT"]
        self.assertEqual(leftovers, [], "temporary files left behind")
        p.assert_running()
        self.assertEqual(p.terminate(), 0)

    def test_configuration_deleted_while_running(self):
        self.write_config(dir_item(self.watched, self.lists, self.cache, "F1"))
        with open(self.config, "rb") as f:
            text = f.read()
        p = self.start_settled()
        first = self.touch(self.watched, "first.txt")
        self.wait_reported("A", first)
        os.unlink(self.config)
        second = self.touch(self.watched, "second.txt")
        self.wait_reported("A", second)
        p.assert_running()
        self.assertFalse(os.path.exists(self.config), "the program wrote a configuration")
        self.assertEqual(p.terminate(), 0)
        # The configuration as loaded is still whole for the next start.
        with open(self.config, "wb") as f:
            f.write(text)
        q = Program(self, self.config)
        self.assertEqual(q.terminate(), 0)
        self.assertIsNotNone(parse_cache(self.cache_file()))

    def test_sigterm_in_the_middle_of_an_action_chain(self):
        marker = self.path("lists", "started.txt")
        after = self.path("lists", "after.txt")
        actions = [
            ["Action=0", "ListName=" + marker, "ListParams=%File", "ListAppend=1"],
            ["Action=1", "Command=sleep", "Params=120", "Wait=1"],
            ["Action=0", "ListName=" + after, "ListParams=%File", "ListAppend=1",
             "DelayBefore=60000"],
        ]
        self.write_config(dir_item(self.watched, self.lists, self.cache, "F1", actions=actions))
        p = self.start_settled()
        f = self.touch(self.watched, "trigger.txt")
        self.assertTrue(wait_for(lambda: f in list_lines(marker)), "the chain did not start")
        kept = parse_cache(self.cache_file())
        self.assertIsNotNone(kept)
        started = time.monotonic()
        self.assertEqual(p.terminate(), 0)
        self.assertLess(time.monotonic() - started, DEADLINE)
        self.assertEqual(list_lines(after), [], "the chain went on after SIGTERM")
        self.assertIsNotNone(parse_cache(self.cache_file()), "the cache was left damaged")

        # The chain did not finish, so the change is not forgotten: the next
        # start compares with the cache as it was before and reports it again.
        actions[1] = ["Action=1", "Command=true", "Wait=1"]
        actions[2] = ["Action=0", "ListName=" + after, "ListParams=%File", "ListAppend=1"]
        self.write_config(dir_item(self.watched, self.lists, self.cache, "F1", actions=actions))
        again = Program(self, self.config)
        self.assertTrue(wait_for(lambda: f in list_lines(after)),
                        "the change whose actions were cut short was lost")
        self.assertEqual(list_lines(marker).count(f), 2)
        self.assertEqual(again.terminate(), 0)
        os.unlink(after)

        # And while waiting before an action.
        actions[1] = ["Action=0", "ListName=" + after, "ListParams=%File", "ListAppend=1",
                      "DelayBefore=60000"]
        self.write_config(dir_item(self.watched, self.lists, self.cache, "F2", actions=actions))
        q = self.start_settled("F2")
        g = self.touch(self.watched, "again.txt")
        self.assertTrue(wait_for(lambda: g in list_lines(marker)), "the chain did not start")
        self.assertEqual(q.terminate(), 0)
        self.assertEqual(list_lines(after), [])
        self.assertIsNotNone(parse_cache(self.cache_file("F2")))


if __name__ == "__main__":
    if len(sys.argv) < 2:
        print(__doc__)
        sys.exit(2)
    PROGRAM = quorvel_test.take_program_argument()
    unittest.main(verbosity=2)
