#!/usr/bin/env bash
# Runs every kvprobe subcommand over the corpus and keeps the outputs in one folder, so a
# change that must not alter behaviour can be checked byte for byte:
#
#   tools/kvprobe-snapshot.sh OUTDIR [KVPROBE]      # take a snapshot
#   diff -r BEFORE AFTER                            # compare two
#
# Each file gets info, objects, streams (generalized and all), key, annots, imprints, the bytes
# of a save, and the bytes of a save with one imprint added (file identifiers blanked, since
# each save makes new ones); exit codes are kept beside them.
set -uo pipefail
cd "$(dirname "$0")/.."
OUT="${1:?usage: tools/kvprobe-snapshot.sh OUTDIR [KVPROBE]}"
KVPROBE="$(realpath "${2:-build/tools/kvprobe}")"
CORPUS="${FOLIVO_CORPUS:-../shared/corpus}"
[ -x "$KVPROBE" ] || { echo "kvprobe-snapshot: no probe at $KVPROBE"; exit 1; }
[ -f "$CORPUS/manifest.tsv" ] || { echo "kvprobe-snapshot: no corpus at $CORPUS"; exit 1; }
mkdir -p "$OUT"
OUT="$(realpath "$OUT")"

one() {
  local file="$1" password="$2"
  local src="$(realpath "$CORPUS/$file")" dir="$OUT/${file//\//_}"
  local pw=()
  [ -n "$password" ] && pw=(--password "$password")
  mkdir -p "$dir"
  run() { # name, then the probe's arguments
    local name="$1"; shift
    timeout 120 "$KVPROBE" "$@" >"$dir/$name.out" 2>/dev/null
    echo "$?" >"$dir/$name.rc"
  }
  run info info "$src" "${pw[@]}"
  run objects objects "$src" "${pw[@]}"
  run streams streams "$src" "${pw[@]}"
  run streams-all streams "$src" --decode-level all "${pw[@]}"
  run key key "$src" "${pw[@]}"
  run annots annots "$src" "${pw[@]}"
  run imprints imprints "$src" "${pw[@]}"
  # Written into the snapshot folder by relative name, so two snapshots print the same path.
  cd "$dir" || return
  run save save "$src" saved.pdf "${pw[@]}"
  run add-imprint add-imprint "$src" imprinted.pdf --page 1 --at 36,48 --size 120,80 \
    --property Note=snapshot "${pw[@]}"
  # A save makes a fresh file identifier each time (both halves for a file that had none);
  # blank what is fresh so two snapshots compare.
  local f
  for f in saved.pdf imprinted.pdf; do
    [ -f "$f" ] && perl -0pi -e 's{(/ID \[ )(<[0-9A-Fa-f]*>|\((?:\\.|[^\\)])*\))( <)([0-9A-Fa-f]+)(> \])}{my ($a, $b) = ($2, $4); my $z = "0" x length $b; $1.($a eq "<$b>" ? "<$z>" : $a).$3.$z.$5}ge' "$f"
    # AES output starts each string and stream with a random vector: keep its decrypted form.
    if [ -f "$f" ] && qpdf --show-encryption "--password=$password" "$f" 2>/dev/null | grep -q AES; then
      qpdf --qdf --static-id --decrypt "--password=$password" "$f" "$f.decrypted.qdf" 2>/dev/null
      rm -f "$f"
    fi
  done
}
export -f one
export OUT KVPROBE CORPUS

tail -n +2 "$CORPUS/manifest.tsv" | while IFS=$'\t' read -r file pages password; do
  printf '%s\t%s\n' "$file" "$password"
done | xargs -P "$(nproc)" -d '\n' -n 1 bash -c 'IFS=$'"'"'\t'"'"' read -r f p <<<"$0"; one "$f" "$p"'
echo "kvprobe-snapshot: $(ls "$OUT" | wc -l) files in $OUT"
