# Sourced by the make-*.sh scripts here: write_small_pdf OUT TRAILER_EXTRA OBJECT...
# writes a PDF 1.3 file of the objects, numbered from 1 (object 1 the catalog), with a classic
# cross-reference table whose offsets are counted, not typed in. TRAILER_EXTRA goes into the
# trailer after /Size and /Root (empty for nothing more).
write_small_pdf() {
  local out="$1" extra="$2"
  shift 2
  local objects=("$@")
  local body=$'%PDF-1.3\n%\xE2\xE3\xCF\xD3\n'
  local offsets=() i offset
  for i in "${!objects[@]}"; do
    # Byte counts, not character counts: the header holds bytes above 127.
    offsets+=("$(printf '%s' "$body" | LC_ALL=C wc -c)")
    body+="$((i + 1)) 0 obj"$'\n'"${objects[$i]}"$'\n'"endobj"$'\n'
  done
  local xref size
  xref="$(printf '%s' "$body" | LC_ALL=C wc -c)"
  size=$(( ${#objects[@]} + 1 ))
  body+="xref"$'\n'"0 ${size}"$'\n'"0000000000 65535 f"$'\r\n'
  for offset in "${offsets[@]}"; do
    body+="$(printf '%010d 00000 n' "$offset")"$'\r\n'
  done
  body+="trailer"$'\n'"<< /Size ${size} /Root 1 0 R${extra:+ ${extra}} >>"$'\n'
  body+="startxref"$'\n'"${xref}"$'\n'"%%EOF"$'\n'
  printf '%s' "$body" > "$out"
}
