#!/usr/bin/env bash
# Peak memory of opening and of saving a file of many small objects and one large stream
# (bench/many-objects.py), with a plain classic cross-reference table and with the objects in
# one object stream.
#
#   bench/many-objects.sh [KVPROBE] [OBJECTS] [DECODED_MB]
#
# KVPROBE: the probe of an optimised build (default build/tools/kvprobe).
# OBJECTS (default 65000) and DECODED_MB (default 13): passed to the generator.
# Open is `kvprobe info` (open, then page boxes), save is `kvprobe save` (full rewrite).
# Target: each peak under 100 MB. Reports; exits 0 whether or not the target is met (1 only
# when it cannot run). Not part of ctest.
set -euo pipefail
cd "$(dirname "$0")/.."
KVPROBE="${1:-build/tools/kvprobe}"
OBJECTS="${2:-65000}"
DECODED_MB="${3:-13}"
[ -x "$KVPROBE" ] || { echo "many-objects: no probe at $KVPROBE (run make build)"; exit 1; }
[ -x /usr/bin/time ] || { echo "many-objects: /usr/bin/time missing (scripts/install-deps installs it)"; exit 1; }
[ -x /usr/bin/python3 ] || { echo "many-objects: /usr/bin/python3 missing"; exit 1; }

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

source bench/measure.sh

for variant in classic object-stream; do
  file="$work/$variant.pdf"
  flag=()
  [ "$variant" = object-stream ] && flag=(--object-stream)
  /usr/bin/python3 bench/many-objects.py "${flag[@]}" "$file" "$OBJECTS" "$DECODED_MB"
  size=$(stat -c %s "$file")
  read -r open_s open_kb < <(measure "$KVPROBE" info "$file")
  read -r save_s save_kb < <(measure "$KVPROBE" save "$file" "$work/out.pdf")
  awk -v v="$variant" -v n="$OBJECTS" -v size="$size" -v ok="$open_kb" -v os="$open_s" -v sk="$save_kb" -v ss="$save_s" 'BEGIN {
    printf "%s: %d objects, %.1f MB file\n", v, n, size / 1048576
    printf "  open: peak %.1f MB, %.2f s (target < 100 MB): %s\n", ok / 1024, os, ok < 102400 ? "met" : "missed"
    printf "  save: peak %.1f MB, %.2f s (target < 100 MB): %s\n", sk / 1024, ss, sk < 102400 ? "met" : "missed"
  }'
done
