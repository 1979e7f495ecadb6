#!/usr/bin/env bash
# Runs every fuzz target of a build for the given number of seconds, each from
# its seed corpus (tests/fuzz/corpus/<name>/); new inputs go to a scratch copy
# so the repository keeps only the seeds. The targets run side by side, one
# per core (each fuzzer uses one), and each one's output is printed when it
# ends. Fails when any target crashes.
set -euo pipefail
build="$1"
seconds="${2:-60}"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
slots="${QUORVEL_FUZZ_JOBS:-$(nproc 2>/dev/null || echo 1)}"
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT

# One target in a scratch directory of its own: its crash inputs land there.
run_one() {
  local target="$1" name seeds work
  name="$(basename "$target")"
  seeds="$here/corpus/${name#fuzz_}"
  # Seed directories may be named after the parser's first word
  # (fuzz_ini_file uses corpus/ini).
  [ -d "$seeds" ] || seeds="$here/corpus/$(echo "${name#fuzz_}" | cut -d_ -f1)"
  work="$scratch/$name/corpus"
  mkdir -p "$work"
  [ -d "$seeds" ] && cp -r "$seeds"/. "$work"/ 2>/dev/null || true
  if ! (cd "$scratch/$name" && "$target" -max_total_time="$seconds" -timeout=60 \
        -rss_limit_mb=2048 -print_final_stats=0 "$work" >"$scratch/$name.log" 2>&1); then
    mkdir -p "$build/fuzz-crashes"
    cp "$scratch/$name"/crash-* "$scratch/$name"/leak-* "$scratch/$name"/timeout-* \
      "$build/fuzz-crashes"/ 2>/dev/null || true
    return 1
  fi
}

report() {
  local name="$1" rc="$2"
  echo "== $name for ${seconds}s"
  tail -n 3 "$scratch/$name.log"
  if [ "$rc" -ne 0 ]; then
    echo "$name: FAILED (its crash input is copied to $build/fuzz-crashes)"
  fi
}

status=0
declare -A running=()
# Waits for one target to end, reports it and frees its slot.
reap() {
  local pid rc=0
  wait -n -p pid "${!running[@]}" || rc=$?
  report "${running[$pid]}" "$rc"
  [ "$rc" -eq 0 ] || status=1
  unset "running[$pid]"
}

for target in "$build"/bin/fuzz_*; do
  [ -x "$target" ] || continue
  while [ "${#running[@]}" -ge "$slots" ]; do reap; done
  run_one "$target" &
  running[$!]="$(basename "$target")"
done
while [ "${#running[@]}" -gt 0 ]; do reap; done
exit $status
