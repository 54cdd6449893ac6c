#!/usr/bin/env bash
# Makes tess-scan.pdf: page 1 of the corpus's tracemonkey.pdf rendered at 150 dpi and laid
# under the invisible words tesseract recognises on it. Run once; the tests read the result
# and never run tesseract. Needs poppler-utils, tesseract-ocr and tesseract-ocr-eng.
set -euo pipefail
corpus="${1:-/work/shared/corpus}"
here="$(cd "$(dirname "$0")" && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$work"
pdftoppm -r 150 -png -f 1 -l 1 "$corpus/pdfjs/tracemonkey.pdf" scan
# pdftoppm pads the page number to the width of the page count.
OMP_THREAD_LIMIT=1 tesseract scan-*1.png tess-scan pdf
cp tess-scan.pdf "$here/tess-scan.pdf"
