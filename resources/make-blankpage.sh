#!/usr/bin/env bash
# Writes blankpage.pdf beside this script: one empty US Letter page (612 x 792 points) whose
# first ID element is the blank-document template ID, so that a document opened from it is
# given a fresh identifier.
#
#   bash resources/make-blankpage.sh && qpdf --check resources/blankpage.pdf
set -euo pipefail
source "$(dirname "$0")/write-small-pdf.sh"
out="$(dirname "$0")/blankpage.pdf"
template="7BEC2A5ED93F94FAA041DEAC2AEBF13B"

objects=(
  "<< /Type /Catalog /Pages 2 0 R >>"
  "<< /Type /Pages /Kids [3 0 R] /Count 1 >>"
  "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << >> /Contents 4 0 R >>"
  $'<< /Length 0 >>\nstream\n\nendstream'
)

write_small_pdf "$out" "/ID [<${template}> <${template}>]" "${objects[@]}"
