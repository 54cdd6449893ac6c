#!/usr/bin/env bash
# Search text of 1,000+ pages: the engine's text preparation on 1, 2, 4 and 8 threads against
# `pdftotext -raw` over the same files, in the same run.
#
#   bench/search-text-vs-pdftotext.sh [SEARCH_BENCH] [MIN_PAGES] [TRIES]
#
# SEARCH_BENCH: the driver of an optimised build (default build/bench/search-bench), which opens
#   every file in one process and prepares every page for search on T threads.
# The files are the corpus files that open without a password (the manifest lists their pages),
#   the list repeated until it holds MIN_PAGES pages (default 1000); each repeat is opened and
#   prepared afresh. pdftotext runs once per file of the same list, one after the other (it has
#   no threads), writing to /dev/null. TRIES: runs of each side (default 3); the fastest counts.
# Prints each side's wall time (process starts and opening included on both sides) and the
# ratio engine / pdftotext per thread count. The target is a ratio of at most 0.5. Exits 0
# whatever the figures (1 only when it cannot run). Not part of ctest.
set -euo pipefail
export LC_ALL=C
cd "$(dirname "$0")/.."
BENCH="${1:-build/bench/search-bench}"
MIN_PAGES="${2:-1000}"
TRIES="${3:-3}"
CORPUS="${FOLIVO_CORPUS:-../shared/corpus}"
[ -d "$CORPUS" ] || CORPUS=/work/shared/corpus
[ -x "$BENCH" ] || { echo "search-text-vs-pdftotext: no driver at $BENCH (build the bench targets)"; exit 1; }
[ -f "$CORPUS/manifest.tsv" ] || { echo "search-text-vs-pdftotext: no corpus manifest in $CORPUS"; exit 1; }
command -v pdftotext >/dev/null || { echo "search-text-vs-pdftotext: pdftotext missing (poppler-utils)"; exit 1; }

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# Files without a password that the reference reader opens, each with its pages.
awk -F'\t' 'NR > 1 && $2 != "ERR" && $2 > 0 && $3 == "" { print $1 "\t" $2 }' "$CORPUS/manifest.tsv" >"$work/files"
files=()
pages=0
while [ "$pages" -lt "$MIN_PAGES" ]; do
  while IFS=$'\t' read -r name count; do
    files+=("$CORPUS/$name")
    pages=$((pages + count))
  done <"$work/files"
done

# The fastest of TRIES wall times of a command, in seconds.
fastest() {
  local best="" t start end
  for _ in $(seq "$TRIES"); do
    start=$(date +%s.%N)
    "$@" >"$work/out" 2>/dev/null || true
    end=$(date +%s.%N)
    t=$(awk -v a="$start" -v b="$end" 'BEGIN { print b - a }')
    if [ -z "$best" ] || awk -v t="$t" -v b="$best" 'BEGIN { exit !(t < b) }'; then best=$t; fi
  done
  printf '%.4f\n' "$best"
}

pdftotext_all() {
  local f
  for f in "${files[@]}"; do pdftotext -q -raw "$f" /dev/null || true; done
}

reference=$(fastest pdftotext_all)
echo "files:       ${#files[@]} (${pages} pages by the manifest)"
echo "pdftotext:   ${reference} s  (pdftotext -raw FILE /dev/null, one file after the other)"
for threads in 1 2 4 8; do
  engine=$(fastest "$BENCH" "$threads" "${files[@]}")
  ratio=$(awk -v a="$engine" -v b="$reference" 'BEGIN { print a / b }')
  printf 'engine %d:    %s s  ratio %.2f  (%s)\n' "$threads" "$engine" "$ratio" "$(cat "$work/out")"
done
