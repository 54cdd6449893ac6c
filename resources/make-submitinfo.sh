#!/usr/bin/env bash
# Writes submitinfo.pdf beside this script: the one US Letter page a save puts first in a form
# whose submit button asks for it, telling the reader how to send the form.
#
#   bash resources/make-submitinfo.sh && qpdf --check resources/submitinfo.pdf
set -euo pipefail
source "$(dirname "$0")/write-small-pdf.sh"
out="$(dirname "$0")/submitinfo.pdf"

content=$'BT\n/F1 20 Tf\n72 700 Td\n(Submitting this form) Tj\n/F1 12 Tf\n0 -36 Td\n(Fill in the fields on the pages that follow.) Tj\n0 -18 Td\n(When you are done, press the form\'s submit button to send your answers.) Tj\n0 -18 Td\n(You need a connection to the internet to submit the form.) Tj\nET\n'

objects=(
  "<< /Type /Catalog /Pages 2 0 R >>"
  "<< /Type /Pages /Kids [3 0 R] /Count 1 >>"
  "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << /Font << /F1 5 0 R >> >> /Contents 4 0 R >>"
  "<< /Length ${#content} >>"$'\nstream\n'"${content}"$'endstream'
  "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>"
)

write_small_pdf "$out" "" "${objects[@]}"
