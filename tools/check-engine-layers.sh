#!/usr/bin/env bash
# Fails when an engine file includes a header of a layer above its own. The layers, lowest
# first, are the folders of engine/: syntax, file, font, document, content, annotation, text; redraw sits
# above them all.
set -euo pipefail
cd "$(dirname "$0")/../engine"
layers=(syntax file font document content annotation text redraw)
declare -A rank home
for i in "${!layers[@]}"; do rank[${layers[$i]}]=$i; done
for layer in "${layers[@]}"; do
  for f in "$layer"/*.h; do [ -e "$f" ] && home[$(basename "$f")]=$layer; done
done
bad=0
for layer in "${layers[@]}"; do
  for f in "$layer"/*.h "$layer"/*.cpp; do
    [ -e "$f" ] || continue
    while read -r header; do
      owner=${home[$header]:-}
      [ -n "$owner" ] || continue
      if [ "${rank[$owner]}" -gt "${rank[$layer]}" ]; then
        echo "$f includes $header from $owner/, a layer above $layer/"
        bad=1
      fi
    done < <(sed -n 's/^#include "\([^"]*\)".*/\1/p' "$f")
  done
done
[ "$bad" = 0 ] && echo "engine layers: every include points down"
exit "$bad"
