#!/usr/bin/env bash
# Runs every fuzz target of a build for the given number of seconds, each from
# its seed corpus (tests/fuzz/corpus/<name>/); new inputs go to a scratch copy
# so the repository keeps only the seeds. Fails on the first crash.
set -euo pipefail
build="$1"
seconds="${2:-60}"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
status=0
for target in "$build"/bin/fuzz_*; do
  [ -x "$target" ] || continue
  name="$(basename "$target")"
  seeds="$here/corpus/${name#fuzz_}"
  # Seed directories may be named after the parser's first word
  # (fuzz_ini_file uses corpus/ini).
  [ -d "$seeds" ] || seeds="$here/corpus/$(echo "${name#fuzz_}" | cut -d_ -f1)"
  work="$scratch/$name"
  mkdir -p "$work"
  [ -d "$seeds" ] && cp -r "$seeds"/. "$work"/ 2>/dev/null || true
  echo "== $name for ${seconds}s"
  if ! (cd "$scratch" && "$target" -max_total_time="$seconds" -timeout=60 -rss_limit_mb=2048 \
        -print_final_stats=0 "$work" 2>&1 | tail -n 3); then
    echo "$name: FAILED (a crash input is in $scratch, copied to $build/fuzz-crashes)"
    mkdir -p "$build/fuzz-crashes"
    cp "$scratch"/crash-* "$scratch"/leak-* "$scratch"/timeout-* "$build/fuzz-crashes"/ 2>/dev/null || true
    status=1
  fi
done
exit $status
