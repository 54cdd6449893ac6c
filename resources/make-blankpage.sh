#!/usr/bin/env bash
# Writes blankpage.pdf beside this script: one empty US Letter page (612 x 792 points) whose
# first ID element is the blank-document template ID, so that a document opened from it is
# given a fresh identifier. Cross-reference offsets are counted here, not typed in.
#
#   bash resources/make-blankpage.sh && qpdf --check resources/blankpage.pdf
set -euo pipefail
out="$(dirname "$0")/blankpage.pdf"
template="7BEC2A5ED93F94FAA041DEAC2AEBF13B"

objects=(
  "<< /Type /Catalog /Pages 2 0 R >>"
  "<< /Type /Pages /Kids [3 0 R] /Count 1 >>"
  "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << >> /Contents 4 0 R >>"
  $'<< /Length 0 >>\nstream\n\nendstream'
)

body=$'%PDF-1.3\n%\xE2\xE3\xCF\xD3\n'
offsets=()
for i in "${!objects[@]}"; do
  # Byte counts, not character counts: the header holds bytes above 127.
  offsets+=("$(printf '%s' "$body" | LC_ALL=C wc -c)")
  body+="$((i + 1)) 0 obj"$'\n'"${objects[$i]}"$'\n'"endobj"$'\n'
done
xref="$(printf '%s' "$body" | LC_ALL=C wc -c)"
size=$(( ${#objects[@]} + 1 ))
body+="xref"$'\n'"0 ${size}"$'\n'"0000000000 65535 f"$'\r\n'
for offset in "${offsets[@]}"; do
  body+="$(printf '%010d 00000 n' "$offset")"$'\r\n'
done
body+="trailer"$'\n'"<< /Size ${size} /Root 1 0 R /ID [<${template}> <${template}>] >>"$'\n'
body+="startxref"$'\n'"${xref}"$'\n'"%%EOF"$'\n'
printf '%s' "$body" > "$out"
