#!/usr/bin/env bash
# bench_import of this tree beside the same benchmark built from another
# revision (default: main), in one run, on the same machine and files. The
# other revision's figures are printed with the prefix "main_".
#
#   bash bench/bench_import_vs_main.sh [REV] [LINES] [LONG_LINE_MB] [REV_LONG_LINE_MB]
#
# The long line of the other revision defaults to 2 MB: a revision that
# sizes its parameter arrays by the longest line needs 512 times that.
# Needs build/ (scripts/build.sh).
set -euo pipefail
repo="$(cd "$(dirname "$0")/.." && pwd)"
rev="${1:-main}"
lines="${2:-1000000}"
long_mb="${3:-64}"
rev_long_mb="${4:-2}"
work="$(mktemp -d)"
cleanup() {
  git -C "$repo" worktree remove --force "$work/tree" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

git -C "$repo" worktree add --detach "$work/tree" "$rev" >/dev/null 2>&1
# The same measurement on both sides.
cp "$repo/bench/bench_import.cpp" "$work/tree/bench/bench_import.cpp"
cmake -S "$work/tree" -B "$work/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DVEXORA_BUILD_GUI=OFF -DVEXORA_BUILD_TESTS=OFF -DCMAKE_CXX_FLAGS=-DVEXORA_BASELINE >/dev/null
cmake --build "$work/build" --target bench_import >/dev/null
cmake --build "$repo/build" --target bench_import >/dev/null

mkdir -p "$work/files"
"$work/build/bin/bench_import" "$work/files" "$lines" "$rev_long_mb" | sed 's/^/main_/'
"$repo/build/bin/bench_import" "$work/files" "$lines" "$long_mb"
