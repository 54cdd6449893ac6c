#!/usr/bin/env bash
# First drawing of every page of a text-heavy and an image-heavy corpus file by the page imager
# against pdftoppm (crop box, no annotations, PPM files) at 72 and 144 dpi, in the same run,
# best of three each, both timed as whole runs of a program; then a pool hit. Target: the
# imager within 1.3 times pdftoppm per page, and a hit that reads none of the file's bytes.
#   bash bench/imager-vs-pdftoppm.sh [build folder] [corpus folder]
set -euo pipefail
build=${1:-build}
corpus=${2:-../shared/corpus}
bench="$build/bench/imager-bench"
[ -x "$bench" ] || { echo "no $bench: build the project first" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

best() { sort -n | head -1; }
seconds() { local start=$(date +%s%N); "$@" >/dev/null 2>&1; echo "scale=4; ($(date +%s%N) - $start) / 1000000000" | bc; }

printf '%-28s %4s %6s %10s %10s %6s\n' file dpi pages "imager ms" "peer ms" ratio
for file in pdfjs/tracemonkey.pdf pdfjs/TAMReview.pdf; do
  path="$corpus/$file"
  pages=$(pdfinfo "$path" | awk '/^Pages:/ {print $2}')
  for dpi in 72 144; do
    ours=$(for i in 1 2 3; do seconds "$bench" first "$path" "$dpi"; done | best)
    peer=$(for i in 1 2 3; do rm -f "$work"/*.ppm; seconds pdftoppm -r "$dpi" -cropbox -hide-annotations "$path" "$work/p"; done | best)
    printf '%-28s %4s %6s %10.2f %10.2f %6.2f\n' "$file" "$dpi" "$pages" \
      "$(echo "$ours * 1000 / $pages" | bc -l)" "$(echo "$peer * 1000 / $pages" | bc -l)" "$(echo "$ours / $peer" | bc -l)"
  done
done
read -r shared sharedReads other otherReads < <("$bench" hit "$corpus/pdfjs/tracemonkey.pdf" 20000)
echo "pool hit, same buffer: ${shared} us, bytes read ${sharedReads}; equal copy: ${other} us, bytes read ${otherReads}"
