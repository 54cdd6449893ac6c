#!/usr/bin/env bash
# Open and save of a page holding many stored imprints that all draw one image: peak memory of
# the open (the imprints are read back into one-page documents) and of the save, and the size
# of what the save writes. With the rebuilt resources shared, the image is held and written
# once whatever the number of imprints.
#
#   bench/imprint-sharing.sh [KVPROBE] [IMPRINTS] [IMAGE_SIDE]
#
# KVPROBE: the probe of an optimised build (default build/tools/kvprobe).
# IMPRINTS: stored imprints on the page (default 500).
# IMAGE_SIDE: the image is IMAGE_SIDE x IMAGE_SIDE RGB, stored unfiltered (default 300, 270 KB).
# Reports; exits 0 whether or not memory looks right (1 only when it cannot run). Not part of ctest.
#
# The file is written here as a save would leave it: a page whose XObject resources name
# FolivoImprint0 .. FolivoImprint<n-1>, each a form with its own placement and properties
# drawing the one image through one shared Resources object.
set -euo pipefail
export LC_ALL=C
cd "$(dirname "$0")/.."
KVPROBE="${1:-build/tools/kvprobe}"
IMPRINTS="${2:-500}"
SIDE="${3:-300}"
[ -x "$KVPROBE" ] || { echo "imprint-sharing: no probe at $KVPROBE"; exit 1; }
[ -x /usr/bin/time ] || { echo "imprint-sharing: /usr/bin/time missing (scripts/install-deps installs it)"; exit 1; }

work="$(mktemp -d)"; [ -n "${KEEP:-}" ] && echo "imprint-sharing: files in $work"
trap '[ -n "${KEEP:-}" ] || rm -rf "$work"' EXIT
pdf="$work/imprints.pdf"

offsets=()
pos=0
# put TEXT: appends TEXT to the file.
put() {
  printf '%s' "$1" >>"$pdf"
  pos=$((pos + ${#1}))
}
# obj NUMBER TEXT: object NUMBER holding TEXT.
obj() {
  offsets[$1]=$pos
  put "$1 0 obj"$'\n'"$2"$'\nendobj\n'
}
# stream NUMBER DICTIONARY-KEYS DATA
stream() { obj "$1" "<< $2 /Length ${#3} >>"$'\nstream\n'"$3"$'\nendstream'; }

put $'%PDF-1.4\n%\xe2\xe3\xcf\xd3\n'
first=10 # forms are objects first .. first + IMPRINTS - 1
names=""
drawing=""
for ((i = 0; i < IMPRINTS; i++)); do
  names+="/FolivoImprint$i $((first + i)) 0 R "
  drawing+="q 1 0 0 1 $(( (i % 20) * 30 )) $(( (i / 20 % 25) * 30 )) cm /FolivoImprint$i Do Q "$'\n'
done
obj 1 '<< /Type /Catalog /Pages 2 0 R >>'
obj 2 '<< /Type /Pages /Kids [3 0 R] /Count 1 >>'
obj 3 "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R /FolivoImprints [] /Resources << /XObject << $names>> >> >>"
stream 4 "" "$drawing"
obj 5 '<< /XObject << /Im1 6 0 R >> >>'
# The pixels go in through a file: shell strings hold no zero bytes, and these hold none either.
pixels=$((SIDE * SIDE * 3))
offsets[6]=$pos
put "6 0 obj"$'\n'"<< /Type /XObject /Subtype /Image /Width $SIDE /Height $SIDE /ColorSpace /DeviceRGB /BitsPerComponent 8 /Length $pixels >>"$'\nstream\n'
head -c $pixels /dev/zero | tr '\0' '\200' >>"$pdf"
pos=$((pos + pixels))
put $'\nendstream\nendobj\n'
for ((i = 0; i < IMPRINTS; i++)); do
  stream $((first + i)) "/Type /XObject /Subtype /Form /FormType 1 /BBox [0 0 30 30] /FolivoLocation [$(( (i % 20) * 30 )) $(( (i / 20 % 25) * 30 ))] /Resources 5 0 R" \
    $'q 30 0 0 30 0 0 cm /Im1 Do Q\n'
done
last=$((first + IMPRINTS - 1))
xref=$pos
[ "$pos" -eq "$(stat -c %s "$pdf")" ] || { echo "imprint-sharing: offsets went wrong"; exit 1; }
{
  printf 'xref\n0 %d\n0000000000 65535 f \n' $((last + 1))
  for ((n = 1; n <= last; n++)); do
    if [ -n "${offsets[$n]:-}" ]; then printf '%010d 00000 n \n' "${offsets[$n]}"; else printf '0000000000 65535 f \n'; fi
  done
  printf 'trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n' $((last + 1)) "$xref"
} >>"$pdf"

source bench/measure.sh

read -r open_wall open_rss < <(measure "$KVPROBE" imprints "$pdf")
read -r save_wall save_rss < <(measure "$KVPROBE" save "$pdf" "$work/saved.pdf")
read -r again_wall again_rss < <(measure "$KVPROBE" save "$work/saved.pdf" "$work/again.pdf")
read_back=$("$KVPROBE" imprints "$work/again.pdf" | grep -o '"location"' | wc -l)
check=skipped
if command -v qpdf >/dev/null; then
  qpdf --check "$work/again.pdf" >/dev/null 2>&1 && check=clean || check="NOT CLEAN"
fi

awk -v n="$IMPRINTS" -v image=$((SIDE * SIDE * 3)) -v size="$(stat -c %s "$pdf")" \
    -v ow="$open_wall" -v orss="$open_rss" -v sw="$save_wall" -v srss="$save_rss" -v saved="$(stat -c %s "$work/saved.pdf")" \
    -v aw="$again_wall" -v arss="$again_rss" -v again="$(stat -c %s "$work/again.pdf")" -v back="$read_back" -v check="$check" 'BEGIN {
  mb = 1048576
  printf "file: %d stored imprints drawing one %.0f KB image, %.2f MB\n", n, image / 1024, size / mb
  printf "open (kvprobe imprints): %.2f s, peak %.1f MB\n", ow, orss / 1024
  printf "save: %.2f s, peak %.1f MB, output %.2f MB\n", sw, srss / 1024, saved / mb
  printf "save of the saved file: %.2f s, peak %.1f MB, output %.2f MB, %d imprints read back, qpdf --check %s\n", aw, arss / 1024, again / mb, back, check
}'
