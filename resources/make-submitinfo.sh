#!/usr/bin/env bash
# Writes submitinfo.pdf beside this script: the one US Letter page a save puts first in a form
# whose submit button asks for it, telling the reader how to send the form. Cross-reference
# offsets are counted here, not typed in.
#
#   bash resources/make-submitinfo.sh && qpdf --check resources/submitinfo.pdf
set -euo pipefail
out="$(dirname "$0")/submitinfo.pdf"

content=$'BT\n/F1 20 Tf\n72 700 Td\n(Submitting this form) Tj\n/F1 12 Tf\n0 -36 Td\n(Fill in the fields on the pages that follow.) Tj\n0 -18 Td\n(When you are done, press the form\'s submit button to send your answers.) Tj\n0 -18 Td\n(You need a connection to the internet to submit the form.) Tj\nET\n'

objects=(
  "<< /Type /Catalog /Pages 2 0 R >>"
  "<< /Type /Pages /Kids [3 0 R] /Count 1 >>"
  "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << /Font << /F1 5 0 R >> >> /Contents 4 0 R >>"
  "<< /Length ${#content} >>"$'\nstream\n'"${content}"$'endstream'
  "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>"
)

body=$'%PDF-1.3\n%\xE2\xE3\xCF\xD3\n'
offsets=()
for i in "${!objects[@]}"; do
  offsets+=("$(printf '%s' "$body" | LC_ALL=C wc -c)")
  body+="$((i + 1)) 0 obj"$'\n'"${objects[$i]}"$'\n'"endobj"$'\n'
done
xref="$(printf '%s' "$body" | LC_ALL=C wc -c)"
size=$(( ${#objects[@]} + 1 ))
body+="xref"$'\n'"0 ${size}"$'\n'"0000000000 65535 f"$'\r\n'
for offset in "${offsets[@]}"; do
  body+="$(printf '%010d 00000 n' "$offset")"$'\r\n'
done
body+="trailer"$'\n'"<< /Size ${size} /Root 1 0 R >>"$'\n'
body+="startxref"$'\n'"${xref}"$'\n'"%%EOF"$'\n'
printf '%s' "$body" > "$out"
