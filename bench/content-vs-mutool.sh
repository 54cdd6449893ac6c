#!/usr/bin/env bash
# Interpreting every page of tracemonkey.pdf (content, text runs, image records, fonts) against
# `mutool trace FILE >/dev/null`, which interprets the same pages into its trace device.
#
#   bench/content-vs-mutool.sh [CONTENT_BENCH] [FILE] [TRIES]
#
# CONTENT_BENCH: the driver of an optimised build (default build/bench/content-bench), which
#   opens the file once and interprets every page in one process: one kvprobe per page would
#   time process starts, not interpretation.
# FILE: default the corpus's pdfjs/tracemonkey.pdf. TRIES: runs of each side (default 7); the
#   fastest counts, so a busy machine disturbs the figures less.
# Prints each side's wall time (process start and open included on both sides), their ratio,
# and the driver's own split between opening and interpreting. Exits 0 whatever the figures
# (1 only when it cannot run). Not part of ctest.
set -euo pipefail
export LC_ALL=C
cd "$(dirname "$0")/.."
BENCH="${1:-build/bench/content-bench}"
CORPUS="${FOLIVO_CORPUS:-../shared/corpus}"
[ -d "$CORPUS" ] || CORPUS=/work/shared/corpus
FILE="${2:-$CORPUS/pdfjs/tracemonkey.pdf}"
TRIES="${3:-7}"
[ -x "$BENCH" ] || { echo "content-vs-mutool: no driver at $BENCH (run make build)"; exit 1; }
[ -f "$FILE" ] || { echo "content-vs-mutool: no file $FILE"; exit 1; }
command -v mutool >/dev/null || { echo "content-vs-mutool: mutool missing (mupdf-tools)"; exit 1; }

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# The fastest of TRIES wall times of a command, in seconds.
fastest() {
  local best="" t
  for _ in $(seq "$TRIES"); do
    local start end
    start=$(date +%s.%N)
    "$@" >"$work/out" 2>/dev/null || { echo "content-vs-mutool: failed: $*" >&2; exit 1; }
    end=$(date +%s.%N)
    t=$(awk -v a="$start" -v b="$end" 'BEGIN { print b - a }')
    if [ -z "$best" ] || awk -v t="$t" -v b="$best" 'BEGIN { exit !(t < b) }'; then best=$t; fi
  done
  printf '%.4f\n' "$best"
}

engine=$(fastest "$BENCH" "$FILE")
split=$(cat "$work/out")
mutool_time=$(fastest mutool trace "$FILE")
ratio=$(awk -v a="$engine" -v b="$mutool_time" 'BEGIN { print a / b }')
pages=$(echo "$split" | awk '{print $2}')

echo "file:        $FILE ($pages pages)"
echo "engine:      ${engine} s  (content-bench, its last run: $split)"
echo "mutool:      ${mutool_time} s  (mutool trace FILE >/dev/null)"
printf 'ratio:       %.2f (engine / mutool)\n' "$ratio"
