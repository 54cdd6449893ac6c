#!/usr/bin/env bash
# Fails when a file of one top folder includes a header of a folder above it. Lowest first:
# platform, engine, document, display, app. The document layer also stays free of Qt Widgets,
# so that it can be driven and tested without a window.
set -euo pipefail
cd "$(dirname "$0")/.."
folders=(platform engine document display app)
declare -A rank home
for i in "${!folders[@]}"; do rank[${folders[$i]}]=$i; done
for folder in "${folders[@]}"; do
  [ -d "$folder" ] || continue
  while read -r f; do home[$(basename "$f")]=$folder; done < <(find "$folder" -name '*.h')
done
bad=0
for folder in "${folders[@]}"; do
  [ -d "$folder" ] || continue
  while read -r f; do
    while read -r header; do
      owner=${home[$(basename "$header")]:-}
      [ -n "$owner" ] || continue
      if [ "${rank[$owner]}" -gt "${rank[$folder]}" ]; then
        echo "$f includes $header from $owner/, a folder above $folder/"
        bad=1
      fi
    done < <(sed -n 's/^#include "\([^"]*\)".*/\1/p' "$f")
    if [ "$folder" != display ] && [ "$folder" != app ] && grep -qE '^#include <Qt?Widgets|^#include <Q(Widget|Dialog|MainWindow|MessageBox|AbstractScrollArea|Application)>' "$f"; then
      echo "$f uses Qt Widgets below display/"
      bad=1
    fi
  done < <(find "$folder" -name '*.h' -o -name '*.cpp')
done
[ "$bad" = 0 ] && echo "folder layers: every include points down"
exit "$bad"
