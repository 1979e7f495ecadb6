#!/usr/bin/env python3
"""Soak test: the console program under steady file churn, killed and restarted.

    soak.py --program build/bin/quorvinsvc [--minutes 5] [--rate 600] [--keep]

Runs quorvinsvc on a generated configuration of 220 items (directory items,
flat and with their subtrees, some real-time, some with a cache, some with a
schedule that closes twice during the run, a few with "Break", and file
items) while a generator creates, modifies, renames and deletes files in the
watched trees at a few thousand operations a second. Halfway it kills the
program with SIGKILL and starts it again. Every item's only action appends
one line per file to a list file of its own ("A|", "C|" or "D|" and the path);
each run of the program writes to its own set of list files, so every report
is known to belong to the first or the second run.

What counts as a fair requirement. A file that was created and deleted
between two checks of an item may legitimately never be seen. The generator
therefore keeps every file it creates alive for LIFE_MIN to LIFE_MAX seconds,
well above every item's check period, and the checker requires a report only
where one is certain: an item must report a file as added when the file
existed, unchanged in name, throughout an interval of at least P seconds
(the item's check period plus a slack of SLACK seconds) during which the
program ran and the item's schedule admitted checks, and the file was not
already in the item's first (baseline) snapshot of that run; items with a
cache compare the second run's first check with the first run's snapshot,
so for them whatever lived through P seconds of the second run counts, even
when it was created while the program was down. A deletion must be reported
by items that watch deletions ("StorePrevInfo" on, "Conditions" with the
deleted or any flag) when the item had seen the file (in a baseline or by
P seconds of presence) and then ran P seconds after the deletion in the same
run (or, with a cache, in any later run). With "Break" off a file is reported
as added at most once per run, and so exactly once between restarts. Reports
of files the generator never made are failures too.

It also checks that resident memory after the warm-up grew by less than 10%,
measured with the C library's per-thread allocation caches off and one
allocation arena (--native-allocator keeps the defaults): with some 260
threads those caches fill over many minutes and would hide a slow leak or
look like one, while with them off the resident size follows what the
program holds. It checks that open descriptors and threads did not grow,
that the program left no zombie children, never died before it was told to,
and ended with status 0 on SIGTERM. Exits 1 on any failure.
"""

import argparse
import collections
import heapq
import os
import random
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time

LIFE_MIN, LIFE_MAX = 8.0, 14.0  # seconds a generated file lives
SLACK = 3.0                     # added to an item's check period
GRACE = 5.0                     # after a start, until every baseline is done
SCHEDULE_MARGIN = 2.0           # window edges are whole seconds of wall time
SETTLE = 8.0                    # quiet time before the end, for final checks


# ---------------------------------------------------------------- items ----

class Item:
    def __init__(self, index):
        self.index = index
        self.kind = "dir"
        self.root = ""
        self.subdir = False
        self.cached = False
        self.realtime = False
        self.rt_interval = 0
        self.interval = 1
        self.conditions = "1110"
        self.store_prev = True
        self.brk = False
        self.masked = False
        self.count_hidden = True
        self.scheduled = False

    def period(self):
        return max(self.rt_interval, 0.3) if self.realtime else float(self.interval)

    def need(self):
        return self.period() + SLACK

    def watches_deleted(self):
        return (self.kind == "dir" and self.store_prev and not self.brk and
                (self.conditions[2] == "1" or self.conditions[3] == "1"))

    def watches_added(self):
        return self.conditions[1] == "1" or self.conditions[3] == "1"

    def matches(self, path):
        directory, name = os.path.split(path)
        if directory != self.root and not (self.subdir and directory.startswith(self.root + "/")):
            return False
        if not self.count_hidden and name.startswith("."):
            return False
        if self.masked:
            low = name.lower()
            if not (low.endswith(".txt") or low.endswith(".log")) or low.startswith("skip"):
                return False
        return True

    def describe(self):
        flags = [self.kind, self.root]
        for name in ("subdir", "cached", "realtime", "scheduled", "brk", "masked"):
            if getattr(self, name):
                flags.append(name)
        if not self.count_hidden:
            flags.append("no-hidden")
        flags.append("Conditions=" + self.conditions)
        flags.append("Interval=%d" % self.interval)
        if self.realtime:
            flags.append("RealTimeInterval=%d" % self.rt_interval)
        return "item %d (%s)" % (self.index, ", ".join(flags))


def build_items(base):
    """200 directory items and 20 file items; see the module comment."""
    w = os.path.join(base, "w")
    flat = [os.path.join(w, "f%03d" % i) for i in range(120)]
    trees = [os.path.join(w, "t%02d" % i) for i in range(60)]
    items = []
    for j in range(200):
        it = Item(j)
        if j < 120:
            it.root = flat[j]
        elif j < 180:
            it.root = trees[j - 120]
            it.subdir = True
        else:
            it.root = os.path.join(trees[j - 180], "a")  # shared with a subtree item
        if j >= 115 and j < 120:
            it.brk = True
            it.conditions = "0100"
            it.store_prev = False
        else:
            it.cached = j % 3 == 0
            # Real-time items share the program's one change watcher, so
            # there may be as many as the kernel has watches for.
            it.realtime = j % 5 in (1, 4)
            if it.realtime:
                it.interval = 30
                it.rt_interval = (j // 5) % 3
            else:
                it.interval = 1 + j % 2
            it.scheduled = j % 5 == 2
            if j % 4 == 3:
                it.conditions, it.store_prev = "1100", False
            elif j % 7 == 0:
                it.conditions, it.store_prev = "0001", True
            it.masked = j % 6 == 5
            it.count_hidden = j % 8 != 4
        items.append(it)
    for k in range(20):
        it = Item(200 + k)
        it.kind = "file"
        it.root = os.path.join(base, "files", "x%02d.log" % k)
        it.interval = 1
        items.append(it)
    return items, flat, trees


def hms(wall):
    return time.strftime("%H:%M:%S", time.localtime(wall))


def configuration(items, lists_dir, cache_dir, windows_wall):
    out = ["; Quorvel Config File", "; soak test", ""]
    for it in items:
        out += [";;;", "Paused=0"]
        if it.kind == "file":
            out += ["IsDirectory=0", "FileName=" + it.root, "Interval=%d" % it.interval,
                    "IfChanged=1", "IgnoreFirst=1", "MustExist=0"]
        else:
            out += ["IsDirectory=1", "FileName=" + it.root, "Interval=%d" % it.interval]
            if it.scheduled:
                out += ["WorkHours=1", "Days=1111111", "MonthDays=1-31"]
                out += ["TimeInterval=%s - %s" % (hms(a), hms(b)) for a, b in windows_wall]
            out += ["CacheID=SOAK%04d" % it.index, "CacheDirectory=" + cache_dir,
                    "CacheData=%d" % it.cached, "RealTime=%d" % it.realtime,
                    "RealTimeInterval=%d" % it.rt_interval,
                    "Subdir=%d" % it.subdir, "CountHidden=%d" % it.count_hidden,
                    "Conditions=" + it.conditions, "StorePrevInfo=%d" % it.store_prev,
                    "Break=%d" % it.brk]
            if it.masked:
                out += ["Mask=*.txt;*.log", "ExcludeMask=skip*"]
        out += [";", "Action=0", "Enabled=1",
                "ListName=" + os.path.join(lists_dir, "item%03d.txt" % it.index),
                'ListParams=%Added="A|"%Changed="C|"%Deleted="D|"%File',
                "ListAppend=1", "EOF"]
    return "\n".join(out) + "\n"


# ------------------------------------------------------------ generator ----

class Record:
    __slots__ = ("created", "gone", "initial")

    def __init__(self, created, initial=False):
        self.created = created
        self.gone = None
        self.initial = initial


class Churn(threading.Thread):
    """Creates, modifies, renames and deletes files at a steady rate. Every
    file lives LIFE_MIN to LIFE_MAX seconds; names are never reused. Times
    are taken so that a file surely existed from 'created' to 'gone'."""

    def __init__(self, rng, flat, trees, break_dirs, watched_files, create_rate):
        super().__init__(daemon=True)
        self.rng = rng
        self.create_rate = create_rate
        self.modify_rate = create_rate * 1.5
        self.busy_dirs = [d for d in flat if d not in break_dirs]
        self.tree_dirs = []
        for t in trees:
            self.tree_dirs += [t, os.path.join(t, "a"), os.path.join(t, "b")]
        self.group = {}
        for t in trees:
            group = [t, os.path.join(t, "a"), os.path.join(t, "b")]
            for d in group:
                self.group[d] = group
        self.all_dirs = self.busy_dirs + self.tree_dirs
        self.break_dirs = break_dirs
        self.watched_files = watched_files
        self.files = {}                         # path -> Record
        self.modifications = collections.defaultdict(list)  # watched file -> times
        self.deaths = []                        # heap of (time, path)
        self.live = []                          # modifiable live paths
        self.live_pos = {}
        self.seq = 0
        self.ops = 0
        self.errors = []
        self.stop_event = threading.Event()
        self.started_at = None
        self.stopped_at = None

    def name(self, allow_odd=True):
        self.seq += 1
        r = self.rng.random()
        stem = "g%07d_%04x" % (self.seq, self.rng.getrandbits(16))
        if allow_odd and r < 0.05:
            stem = "." + stem
        elif allow_odd and r < 0.10:
            stem = "skip" + stem
        return stem + self.rng.choice((".txt", ".log", ".dat", ".tmp"))

    def _track(self, path, modifiable):
        if modifiable:
            self.live_pos[path] = len(self.live)
            self.live.append(path)

    def _untrack(self, path):
        pos = self.live_pos.pop(path, None)
        if pos is not None:
            last = self.live.pop()
            if pos < len(self.live):
                self.live[pos] = last
                self.live_pos[last] = pos

    def create(self, directory, now, initial=False, die_after=None):
        path = os.path.join(directory, self.name())
        fd = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o644)
        os.write(fd, b"x" * self.rng.randint(0, 64))
        os.close(fd)
        self.ops += 1
        self.files[path] = Record(time.monotonic() if not initial else -1.0, initial)
        life = die_after if die_after is not None else self.rng.uniform(LIFE_MIN, LIFE_MAX)
        heapq.heappush(self.deaths, (now + life, path))
        self._track(path, directory not in self.break_dirs)

    def die(self, path, now):
        rec = self.files[path]
        self._untrack(path)
        directory = os.path.dirname(path)
        if directory not in self.break_dirs and self.rng.random() < 0.3:
            target_dir = self.rng.choice(self.group.get(directory, [directory]))
            target = os.path.join(target_dir, self.name())
            rec.gone = time.monotonic()
            os.rename(path, target)
            self.files[target] = Record(time.monotonic())
            heapq.heappush(self.deaths, (now + self.rng.uniform(LIFE_MIN, LIFE_MAX), target))
            self._track(target, True)
        else:
            rec.gone = time.monotonic()
            os.unlink(path)
        self.ops += 1

    def modify(self, path):
        fd = os.open(path, os.O_WRONLY | os.O_APPEND)
        os.write(fd, b"y" * self.rng.randint(1, 32))
        os.close(fd)
        self.ops += 1

    def populate(self, per_dir, start_at):
        """Files present before the program starts: in every baseline."""
        now = time.monotonic()
        for d in self.all_dirs:
            for _ in range(per_dir):
                self.create(d, now, initial=True,
                            die_after=(start_at - now) + GRACE + self.rng.uniform(2, LIFE_MAX))
        for f in self.watched_files:
            with open(f, "w") as out:
                out.write("start\n")

    def run(self):
        try:
            self._run()
        except Exception as e:  # reported by the checker
            self.errors.append(repr(e))

    def _run(self):
        tick = 0.02
        carry_create = carry_modify = 0.0
        next_break = {d: time.monotonic() + self.rng.uniform(0, 3) for d in self.break_dirs}
        next_file_mod = {f: time.monotonic() + self.rng.uniform(1, 5) for f in self.watched_files}
        self.started_at = time.monotonic()
        last = self.started_at
        while not self.stop_event.is_set():
            now = time.monotonic()
            dt = now - last
            last = now
            while self.deaths and self.deaths[0][0] <= now:
                _, path = heapq.heappop(self.deaths)
                self.die(path, now)
            carry_create += self.create_rate * dt
            while carry_create >= 1:
                carry_create -= 1
                self.create(self.rng.choice(self.all_dirs), now)
            carry_modify += self.modify_rate * dt
            while carry_modify >= 1 and self.live:
                carry_modify -= 1
                self.modify(self.live[self.rng.randrange(len(self.live))])
            for d, due in next_break.items():
                if due <= now:
                    self.create(d, now)
                    next_break[d] = now + 3.0
            for f, due in next_file_mod.items():
                if due <= now:
                    with open(f, "a") as out:
                        out.write("%f\n" % now)
                    self.modifications[f].append(time.monotonic())
                    self.ops += 1
                    next_file_mod[f] = now + self.rng.uniform(4.0, 6.0)
            spent = time.monotonic() - now
            if spent < tick:
                time.sleep(tick - spent)
        self.stopped_at = time.monotonic()


# -------------------------------------------------------------- process ----

def proc_status(pid):
    rss = threads = None
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmRSS:"):
                rss = int(line.split()[1])
            elif line.startswith("Threads:"):
                threads = int(line.split()[1])
    return rss, threads


def zombie_children(pid):
    found = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/stat" % entry) as f:
                stat = f.read()
            rest = stat[stat.rindex(")") + 2:].split()
            if int(rest[1]) == pid and rest[0] == "Z":
                found.append(int(entry))
        except (OSError, ValueError, IndexError):
            pass
    return found


class Run:
    """One start of the program, sampled every half second."""

    def __init__(self, program, config, base, number, native_allocator=False):
        self.number = number
        self.out = open(os.path.join(base, "run%d.out" % number), "wb")
        self.err_path = os.path.join(base, "run%d.err" % number)
        self.err = open(self.err_path, "wb")
        env = dict(os.environ)
        env.update(HOME=os.path.join(base, "home"),
                   XDG_CONFIG_HOME=os.path.join(base, "home", ".config"),
                   XDG_CACHE_HOME=os.path.join(base, "home", ".cache"))
        if not native_allocator:
            env["GLIBC_TUNABLES"] = "glibc.malloc.tcache_count=0"
            env["MALLOC_ARENA_MAX"] = "1"
        self.start = time.monotonic()
        self.proc = subprocess.Popen([program, config], stdin=subprocess.DEVNULL,
                                     stdout=self.out, stderr=self.err, cwd=base, env=env)
        self.end = None
        self.samples = []   # (time, rss KiB, threads, fds)
        self.zombies = set()
        self.died_early = None
        self._stop = threading.Event()
        self._sampler = threading.Thread(target=self._sample, daemon=True)
        self._sampler.start()

    def _sample(self):
        pid = self.proc.pid
        while not self._stop.wait(0.5):
            if self.proc.poll() is not None:
                if self.died_early is None and not self._stop.is_set():
                    self.died_early = self.proc.returncode
                return
            try:
                rss, threads = proc_status(pid)
                fds = len(os.listdir("/proc/%d/fd" % pid))
                self.samples.append((time.monotonic(), rss, threads, fds))
                self.zombies.update(zombie_children(pid))
            except (OSError, TypeError):
                pass

    def kill(self):
        if self.proc.poll() is not None and self.died_early is None:
            self.died_early = self.proc.returncode
        self._stop.set()
        self.end = time.monotonic()
        self.proc.send_signal(signal.SIGKILL)
        self.proc.wait()
        self._sampler.join()

    def terminate(self, timeout=60):
        if self.proc.poll() is not None and self.died_early is None:
            self.died_early = self.proc.returncode
        self._stop.set()
        self._sampler.join()
        self.end = time.monotonic()
        self.proc.send_signal(signal.SIGTERM)
        try:
            return self.proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
            return "hung"


# -------------------------------------------------------------- checker ----

def overlap(a0, a1, b0, b1):
    return max(0.0, min(a1, b1) - max(a0, b0))


def read_reports(path):
    """Counter of (kind, path) and whether the file ended in a cut line
    (the program was killed while writing)."""
    counts = collections.Counter()
    partial = False
    try:
        data = open(path, "rb").read().decode("utf-8", "replace")
    except FileNotFoundError:
        return counts, False
    lines = data.split("\n")
    if lines and lines[-1] != "":
        partial = True
    for line in lines[:-1]:
        line = line.rstrip("\r")
        if "|" in line:
            kind, name = line.split("|", 1)
            counts[(kind, name)] += 1
    return counts, partial


class Checker:
    def __init__(self, items, churn, runs, windows_mono, lists_dirs):
        self.items = items
        self.churn = churn
        self.runs = runs
        self.windows = windows_mono
        self.lists_dirs = lists_dirs
        self.failures = collections.defaultdict(list)
        self.stats = collections.Counter()
        self.by_dir = collections.defaultdict(list)
        for path in churn.files:
            self.by_dir[os.path.dirname(path)].append(path)

    def fail(self, category, text):
        self.failures[category].append(text)

    def spans(self, it):
        """(run index, start, end) when the item surely checks."""
        out = []
        for k, run in enumerate(self.runs):
            a, b = run.start + GRACE, run.end
            if it.scheduled:
                for wa, wb in self.windows:
                    s, e = max(a, wa + SCHEDULE_MARGIN), min(b, wb - SCHEDULE_MARGIN)
                    if e > s:
                        out.append((k, s, e))
            elif b > a:
                out.append((k, a, b))
        return out

    def candidates(self, it):
        for directory, paths in self.by_dir.items():
            if directory == it.root or (it.subdir and directory.startswith(it.root + "/")):
                for path in paths:
                    if it.matches(path):
                        yield path

    def check_dir_item(self, it, reports):
        need = it.need()
        spans = self.spans(it)
        for path in self.candidates(it):
            rec = self.churn.files[path]
            end = rec.gone if rec.gone is not None else float("inf")
            # Added.
            if it.watches_added() and not rec.initial:
                required = False
                for k, s, e in spans:
                    if overlap(rec.created, end, s, e) < need:
                        continue
                    # A run's first check takes what exists as its baseline,
                    # unless the item compares with its cache (second run).
                    if rec.created >= self.runs[k].start + GRACE or (it.cached and k > 0):
                        required = True
                        break
                seen = [reports[k][("A", path)] for k in range(len(self.runs))]
                if required:
                    self.stats["added required"] += 1
                    if sum(seen) == 0:
                        self.fail("added never reported",
                                  "%s: %s created %.1f gone %s" % (
                                      it.describe(), path, rec.created - self.runs[0].start,
                                      "%.1f" % (rec.gone - self.runs[0].start)
                                      if rec.gone is not None else "-"))
                if not it.brk:
                    for k, n in enumerate(seen):
                        if n > 1:
                            self.fail("added reported more than once in one run",
                                      "%s: %s %d times in run %d" % (it.describe(), path, n, k + 1))
            # Deleted.
            if it.watches_deleted() and rec.gone is not None:
                t_d = rec.gone
                required = False
                for k, s, e in spans:
                    known = (rec.initial or rec.created < self.runs[k].start) and \
                        end > self.runs[k].start + GRACE and s <= self.runs[k].start + GRACE + 1
                    known = known or overlap(rec.created, t_d, s, e) >= need
                    if not known:
                        continue
                    later = [(k2, s2, e2) for k2, s2, e2 in spans
                             if (k2 == k or (it.cached and k2 > k)) and
                             overlap(t_d, float("inf"), s2, e2) >= need]
                    if later:
                        required = True
                        break
                seen = [reports[k][("D", path)] for k in range(len(self.runs))]
                if required:
                    self.stats["deleted required"] += 1
                    if sum(seen) == 0:
                        self.fail("deletion never reported",
                                  "%s: %s created %s deleted %.1f s after the start" % (
                                      it.describe(), path,
                                      "before the start" if rec.initial else
                                      "%.1f" % (rec.created - self.runs[0].start),
                                      t_d - self.runs[0].start))
                for k, n in enumerate(seen):
                    if n > 1:
                        self.fail("deletion reported more than once in one run",
                                  "%s: %s %d times in run %d" % (it.describe(), path, n, k + 1))

    def check_file_item(self, it, reports):
        mods = self.churn.modifications.get(it.root, [])
        for k, run in enumerate(self.runs):
            inside = [t for t in mods if run.start <= t <= run.end]
            required = 0
            for i, t in enumerate(inside):
                following = inside[i + 1] if i + 1 < len(inside) else run.end
                if t >= run.start + GRACE and following - t >= it.need():
                    required += 1
            got = sum(n for (kind, p), n in reports[k].items() if p == it.root and kind == "C")
            self.stats["file changes required"] += required
            if got < required:
                self.fail("file change not reported",
                          "%s: run %d reported %d changes, %d required" % (
                              it.describe(), k + 1, got, required))
            if got > len(inside) + 1:
                self.fail("file change reported too often",
                          "%s: run %d reported %d changes of %d" % (
                              it.describe(), k + 1, got, len(inside)))

    def check_reports(self):
        for it in self.items:
            reports = []
            for k, d in enumerate(self.lists_dirs):
                counts, partial = read_reports(os.path.join(d, "item%03d.txt" % it.index))
                if partial:
                    self.stats["list lines cut by the kill"] += 1
                reports.append(counts)
                for (kind, path), n in counts.items():
                    self.stats["report lines"] += n
                    if kind not in ("A", "C", "D"):
                        self.fail("malformed report", "%s: %r" % (it.describe(), kind))
                    elif it.kind == "dir" and (path not in self.churn.files or not it.matches(path)):
                        self.fail("report of a file the item does not watch",
                                  "%s: %s|%s" % (it.describe(), kind, path))
            if it.kind == "dir":
                self.check_dir_item(it, reports)
            else:
                self.check_file_item(it, reports)

    def check_process(self, exit_code):
        for k, run in enumerate(self.runs):
            if run.died_early is not None:
                self.fail("crash", "run %d ended by itself with %s" % (k + 1, run.died_early))
            if run.zombies:
                self.fail("zombies", "run %d left zombie children %s" % (k + 1, sorted(run.zombies)))
            err = open(run.err_path, "rb").read().decode("utf-8", "replace")
            for word in ("Sanitizer", "terminate called", "Segmentation", "Aborted"):
                if word in err:
                    self.fail("crash", "run %d stderr: %s" % (k + 1, err.strip()[-400:]))
                    break
            samples = run.samples
            if len(samples) < 8:
                self.fail("resources", "run %d: only %d samples" % (k + 1, len(samples)))
                continue
            length = run.end - run.start
            # Warm: the file population has reached its steady size (files
            # live at most LIFE_MAX) and the run is well under way.
            warm = max(run.start + GRACE + 2, self.churn.started_at + LIFE_MAX + 2,
                       run.start + 0.4 * length)
            after = [s for s in samples if s[0] >= warm]
            window = [s for s in after if s[0] <= warm + 3] or after[:3]
            tail = samples[-5:]
            if len(after) < 6:
                self.fail("resources", "run %d: too short to judge growth" % (k + 1))
                continue

            def med(values):
                values = sorted(values)
                return values[len(values) // 2]
            rss0, rss1 = med([s[1] for s in window]), med([s[1] for s in tail])
            thr0, thr1 = min(s[2] for s in window), min(s[2] for s in tail)
            fd0, fd1 = min(s[3] for s in window), min(s[3] for s in tail)
            trace = " ".join("%d" % s[1] for s in samples[::max(1, len(samples) // 12)])
            print("run %d: resident KiB over time: %s" % (k + 1, trace))
            print("run %d: resident %d -> %d KiB (%+.1f%%), threads %d -> %d, descriptors %d -> %d"
                  % (k + 1, rss0, rss1, 100.0 * (rss1 - rss0) / rss0, thr0, thr1, fd0, fd1))
            if rss1 >= rss0 * 1.10:
                self.fail("memory growth", "run %d: %d -> %d KiB" % (k + 1, rss0, rss1))
            if thr1 > thr0:
                self.fail("thread growth", "run %d: %d -> %d" % (k + 1, thr0, thr1))
            if fd1 > fd0:
                self.fail("descriptor growth", "run %d: %d -> %d" % (k + 1, fd0, fd1))
        if exit_code != 0:
            self.fail("exit", "SIGTERM ended the program with %s, not 0" % exit_code)


# ----------------------------------------------------------------- main ----

def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--program", required=True)
    ap.add_argument("--minutes", type=float, default=5.0)
    ap.add_argument("--rate", type=float, default=600.0, help="files created per second")
    ap.add_argument("--seed", type=int, default=None)
    ap.add_argument("--keep", action="store_true", help="keep the work directory")
    ap.add_argument("--native-allocator", action="store_true",
                    help="run with the C library's allocation caches as they are")
    args = ap.parse_args()

    program = os.path.abspath(args.program)
    if not os.access(program, os.X_OK):
        print("soak: no program at %s" % program)
        return 2
    seed = args.seed if args.seed is not None else random.randrange(1 << 30)
    rng = random.Random(seed)
    duration = max(40.0, args.minutes * 60.0)
    base = tempfile.mkdtemp(prefix="quorvel-soak-")
    print("soak: %.0f s, seed %d, work directory %s" % (duration, seed, base))
    try:
        return soak(program, base, duration, rng, args.rate, args.native_allocator)
    finally:
        if args.keep:
            print("soak: kept %s" % base)
        else:
            shutil.rmtree(base, ignore_errors=True)


def soak(program, base, duration, rng, rate, native_allocator):
    items, flat, trees = build_items(base)
    for d in flat + trees:
        os.makedirs(d, exist_ok=True)
    for t in trees:
        os.makedirs(os.path.join(t, "a"), exist_ok=True)
        os.makedirs(os.path.join(t, "b"), exist_ok=True)
    for sub in ("files", "cache", "lists1", "lists2", "home/.config", "home/.cache"):
        os.makedirs(os.path.join(base, sub), exist_ok=True)
    break_dirs = [it.root for it in items if it.brk]
    watched_files = [it.root for it in items if it.kind == "file"]

    # Schedule windows (wall clock, whole seconds): open at both starts,
    # closed twice while the program runs.
    wall0 = float(int(time.time()) + 3)
    mono0 = time.monotonic() + (wall0 - time.time())
    cuts = [(-3600, 0.2), (0.35, 0.75), (0.85, None)]
    windows_wall = []
    for a, b in cuts:
        start = wall0 + (a if a == -3600 else int(a * duration))
        end = wall0 + (int(b * duration) if b is not None else duration + SETTLE + 3600)
        windows_wall.append((start, end))
    windows_mono = [(a - wall0 + mono0, b - wall0 + mono0) for a, b in windows_wall]

    cache_dir = os.path.join(base, "cache")
    lists = [os.path.join(base, "lists1"), os.path.join(base, "lists2")]
    configs = []
    for k, lists_dir in enumerate(lists):
        path = os.path.join(base, "soak%d.mon" % (k + 1))
        with open(path, "w") as f:
            f.write(configuration(items, lists_dir, cache_dir, windows_wall))
        configs.append(path)

    churn = Churn(rng, flat, trees, break_dirs, watched_files, rate)
    churn.populate(per_dir=8, start_at=mono0)
    while time.monotonic() < mono0:
        time.sleep(0.05)

    print("soak: %d items (%d directory, %d real-time, %d cached, %d scheduled, %d with Break), "
          "%d files at the start" % (
              len(items), sum(it.kind == "dir" for it in items),
              sum(it.realtime for it in items), sum(it.cached for it in items),
              sum(it.scheduled for it in items), sum(it.brk for it in items), len(churn.files)))
    runs = [Run(program, configs[0], base, 1, native_allocator)]
    time.sleep(GRACE)
    churn.start()
    kill_at = runs[0].start + duration / 2
    while time.monotonic() < kill_at and runs[0].proc.poll() is None:
        time.sleep(0.1)
    runs[0].kill()
    print("soak: killed run 1 (SIGKILL) after %.1f s" % (runs[0].end - runs[0].start))
    time.sleep(2.0)  # changes keep coming while the program is down
    runs.append(Run(program, configs[1], base, 2, native_allocator))
    end_at = mono0 + duration
    while time.monotonic() < end_at and runs[1].proc.poll() is None:
        time.sleep(0.1)
    churn.stop_event.set()
    churn.join()
    ops = churn.ops / max(1e-6, churn.stopped_at - churn.started_at)
    print("soak: generator made %d operations, %.0f per second; %d files" % (
        churn.ops, ops, len(churn.files)))
    time.sleep(SETTLE)
    exit_code = runs[1].terminate()
    print("soak: run 2 ended by SIGTERM with %s after %.1f s" % (
        exit_code, runs[1].end - runs[1].start))

    checker = Checker(items, churn, runs, windows_mono, lists)
    for e in churn.errors:
        checker.fail("generator", e)
    if ops < 1000:
        checker.fail("generator", "only %.0f operations per second" % ops)
    checker.check_process(exit_code)
    checker.check_reports()
    for key in sorted(checker.stats):
        print("soak: %s: %d" % (key, checker.stats[key]))
    if not checker.failures:
        print("soak: PASSED: every required addition and deletion reported, added at most "
              "once per run, no growth, no zombies, no crash")
        return 0
    for category, texts in sorted(checker.failures.items()):
        print("soak: FAILED %s: %d" % (category, len(texts)))
        for t in texts[:5]:
            print("    " + t)
    return 1


if __name__ == "__main__":
    sys.exit(main())
