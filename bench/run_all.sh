#!/usr/bin/env bash
# Runs the side-by-side benchmarks of a release build and prints one table:
# for each measurement Quorvel's median, the peer's median measured in the
# same run, and their ratio (Quorvel / peer: below 1 is better for Quorvel).
#
#   bench/run_all.sh <build dir> [--quick]
#
# Every tree and file is made under one temporary directory, removed at the
# end even when a step fails. --quick uses fewer repetitions and a shorter
# idle measurement (for trying the script, not for the figures).
set -euo pipefail
build="$(cd "$1" && pwd)"
shift
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
repeat=7
rounds=3
idle=20
if [ "${1:-}" = "--quick" ]; then
  repeat=3
  rounds=1
  idle=5
fi

work="$(mktemp -d "${TMPDIR:-/tmp}/quorvel-bench.XXXXXX")"
trap 'rm -rf "$work"' EXIT
export TMPDIR="$work"
results="$work/results.txt"
: >"$results"

# Debian's interpreter has python3-watchdog; another python3 first on PATH
# may not.
python=/usr/bin/python3
[ -x "$python" ] || python=python3

cores="$(nproc)"
model="$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1)"
started="$(date '+%Y-%m-%d %H:%M')"
echo "== machine: $cores cores, ${model:-unknown CPU}, $(uname -sr), load $(cut -d' ' -f1-3 /proc/loadavg)"

run() {
  # Shows a program's own report as it comes and keeps its RESULT lines.
  local name="$1" status
  shift
  echo "== $name"
  set +e
  "$@" 2>&1 | tee "$work/out.txt" | grep --line-buffered -v '^RESULT '
  status="${PIPESTATUS[0]}"
  set -e
  grep '^RESULT ' "$work/out.txt" >>"$results" || true
  if [ "$status" != 0 ]; then echo "$name: FAILED with status $status"; fi
}

run "directory checks, snapshot memory, cache, real time (bench_dir_check)" \
  "$build/bin/bench_dir_check" --tree "$work/tree" --repeat "$repeat"
if "$python" -c 'import watchdog' 2>/dev/null; then
  run "Python watchdog on the same tree" "$python" "$here/peer_watchdog.py" "$work/tree" "$rounds"
else
  echo "== Python watchdog is not installed (apt-get install python3-watchdog); its rows stay empty"
fi
rm -rf "$work/tree"
run "items: loading, first checks, memory and idle cost (bench_items)" \
  "$build/bin/bench_items" "$idle"
if [ -x "$build/bin/bench_gui" ]; then
  run "desktop program, offscreen (bench_gui)" "$build/bin/bench_gui" "$idle"
fi

echo
"$python" - "$results" "$cores" "$model" "$started" <<'EOF'
import sys

path, cores, model, started = sys.argv[1:5]
values = {}
for line in open(path):
    parts = line.split()
    if len(parts) >= 5 and parts[0] == "RESULT":
        values[parts[1]] = (parts[2], parts[3], parts[4])


def ours(name):
    v = values.get(name)
    return float(v[0]) if v else None


def peer(name, own=False):
    v = values.get(name)
    if not v:
        return None
    text = v[0] if own else v[1]
    return None if text == "-" else float(text)


rows = [
    ("Directory check, nothing changed (200,000 files, 2,000 dirs)", "ms",
     ours("check_unchanged"), "find -printf '%T@ %s %p\\n'", peer("check_unchanged")),
    ("Directory check after 20% deleted + 20% added", "ms",
     ours("check_churn"), "find -printf (same churned tree)", peer("check_churn")),
    ("Snapshot + comparison, nothing changed", "ms",
     ours("check_unchanged"), "watchdog DirectorySnapshot + Diff", peer("wd_unchanged", True)),
    ("Snapshot + comparison after 20% + 20% churn", "ms",
     ours("check_churn"), "watchdog DirectorySnapshot + Diff", peer("wd_churn", True)),
    ("RealTime reaction, median (200 creations 50 ms apart)", "ms",
     ours("reaction_median"), "inotifywait -m (same creations)", peer("reaction_median")),
    ("RealTime reaction, 99th percentile", "ms",
     ours("reaction_p99"), "inotifywait -m (same creations)", peer("reaction_p99")),
    ("RealTime reaction beyond the settle time, median", "ms",
     ours("reaction_beyond_settle_median"), "inotifywait -m (same creations)",
     peer("reaction_beyond_settle_median")),
    ("RealTime reaction beyond the settle time, 99th percentile", "ms",
     ours("reaction_beyond_settle_p99"), "inotifywait -m (same creations)",
     peer("reaction_beyond_settle_p99")),
    ("RealTime reaction on the tree beyond the settle time, median (200 creations 100 ms apart)",
     "ms", ours("tree_reaction_beyond_settle_median"), "inotifywait -m -r (same creations)",
     peer("tree_reaction_beyond_settle_median")),
    ("RealTime reaction on the tree beyond the settle time, 99th percentile", "ms",
     ours("tree_reaction_beyond_settle_p99"), "inotifywait -m -r (same creations)",
     peer("tree_reaction_beyond_settle_p99")),
    ("Real-time watches set up on the tree, start to watching", "ms",
     ours("tree_watch_setup"), "inotifywait -m -r to \"Watches established\"",
     peer("tree_watch_setup")),
    ("RealTime reaction on the tree with whole checks, median", "ms",
     ours("tree_whole_reaction_beyond_settle_median"), "-", None),
    ("CPU per 1,000 real-time creations on the tree", "CPU s",
     ours("tree_reaction_cpu"), "-", None),
    ("CPU per 1,000 real-time creations on the tree, whole checks", "CPU s",
     ours("tree_whole_reaction_cpu"), "-", None),
    ("Memory per snapshot entry (no names)", "bytes",
     ours("snapshot_bytes"), "watchdog DirectorySnapshot", peer("wd_snapshot_bytes", True)),
    ("Cache write, 1,000,000 records (with fsync)", "ms",
     ours("cache_write"), "plain write+fsync, same bytes", peer("cache_write")),
    ("Cache read, 1,000,000 records", "ms",
     ours("cache_read"), "plain read, same bytes", peer("cache_read")),
    ("Idle cost of 1,000 items", "CPU s/s",
     ours("idle_1000_items"), "-", None),
    ("1,000 RealTime items on directories of their own: items that reacted", "items",
     ours("rt1000_reacted"), "-", None),
    ("1,000 RealTime items: reaction beyond the settle time, median", "ms",
     ours("rt1000_beyond_settle_median"), "-", None),
    ("1,000 RealTime items: reaction beyond the settle time, 99th percentile", "ms",
     ours("rt1000_beyond_settle_p99"), "-", None),
    ("1,000 RealTime items: set-up per watched directory", "ms",
     ours("rt1000_setup_per_dir"), "-", None),
    ("1,000 RealTime items: memory per item beyond an interval-only one", "KiB",
     ours("rt1000_memory_per_item"), "-", None),
    ("Load 10,000 items (goal < 1 s)", "s", ours("load_10000_items"), "-", None),
    ("All 10,000 checked once (goal < 2 s)", "s", ours("all_checked_once"), "-", None),
    ("Memory per idle item (goal < 64 KiB)", "KiB", ours("memory_per_idle_item"), "-", None),
    ("Desktop: 10,000 items loaded and every row shown (goal < 1 s, <= 1.5 x)", "s",
     ours("gui_load_10000_items"), "console program's load", peer("gui_load_10000_items")),
    ("Desktop: every item checked once and its state shown", "s",
     ours("gui_checked_10000_items"), "console program's first checks",
     peer("gui_checked_10000_items")),
    ("Desktop: refresh tick over 10,000 rows (goal < 10 ms)", "ms",
     ours("gui_refresh_tick_median"), "-", None),
    ("Desktop: event latency, 1,000 items acting each second, p99 (goal < 50 ms)", "ms",
     ours("gui_event_latency_p99"), "-", None),
    ("Desktop: memory per row beyond the item (goal < 4 KiB)", "KiB",
     ours("gui_memory_per_row"), "-", None),
]


def fmt(v):
    if v is None:
        return "n/a"
    if v == 0:
        return "0"
    if abs(v) >= 100:
        return "%.0f" % v
    if abs(v) >= 1:
        return "%.2f" % v
    if abs(v) >= 0.01:
        return "%.3f" % v
    return "%.2g" % v


print("Machine: %s cores, %s; %s" % (cores, model or "unknown CPU", started))
print()
print("| Measurement | Unit | Quorvel (median) | Peer | Peer (median) | Ratio |")
print("|---|---|---|---|---|---|")
for label, unit, q, name, p in rows:
    ratio = "%.2f" % (q / p) if q is not None and p not in (None, 0) else "-"
    print("| %s | %s | %s | %s | %s | %s |" % (label, unit, fmt(q), name,
                                              fmt(p) if name != "-" else "-", ratio))
seen = values.get("reaction_seen")
if seen:
    print()
    print("Creations seen within 50 ms: Quorvel %s, inotifywait %s of 200." % (
        seen[0].split(".")[0], seen[1].split(".")[0]))
idle = ours("idle_1000_items")
if idle is not None:
    print("Idle 1,000 items: %.3f%% of one core (goal < 1%%)." % (idle * 100))
EOF
