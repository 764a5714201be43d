#!/usr/bin/env bash
# Prints the include edges between the folders of src/ ("from -> to  count") and
# flags each edge that points upward in the layering below. Exits 1 when any does.
# A folder may include its own headers and those of folders to its left.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
order=(util platform config logging data notify intake shell tools)

rank() {
  local i
  for i in "${!order[@]}"; do
    if [[ "${order[$i]}" == "$1" ]]; then echo "$i"; return; fi
  done
  echo -1
}

cd "$root/src"
# src/main.cpp sits at the top beside tools.
edges="$(
  grep -rHE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"[^"/]+/' --include='*.h' --include='*.cpp' . |
  sed -E 's|^\./||; s|^([^:]*):.*#[[:space:]]*include[[:space:]]*"([^"/]+)/.*|\1 \2|' |
  awk '{ n = split($1, p, "/"); from = (n > 1) ? p[1] : "tools"; if (from != $2) print from, $2 }' |
  sort | uniq -c | awk '{ print $2, $3, $1 }'
)"

upward=0
while read -r from to count; do
  [[ -z "$from" ]] && continue
  fr="$(rank "$from")"
  tr="$(rank "$to")"
  flag=""
  if (( tr < 0 || fr < 0 )); then
    flag="  UNKNOWN FOLDER"
    upward=$((upward + 1))
  elif (( tr > fr )); then
    flag="  UPWARD"
    upward=$((upward + 1))
  fi
  printf '%-9s -> %-9s %4d%s\n' "$from" "$to" "$count" "$flag"
done <<< "$edges"

if (( upward > 0 )); then
  echo "$upward upward edge(s); order, lowest first: ${order[*]}"
  exit 1
fi
echo "no upward edges"
