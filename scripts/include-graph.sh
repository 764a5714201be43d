#!/usr/bin/env bash
# Prints the include edges between the folders of src/ ("from -> to  count") and
# flags each edge that points upward in the layering below. A folder may include its own
# headers and those of folders to its left.
# Then checks privacy and the tests: a header in src/<folder>/internal/ is included only by
# that folder's sources (never by its public headers) and its tests (tests/<folder>/); a
# test folder includes what its subsystem may (and the test helpers of those folders and
# tests/support/, whose helpers include only util and platform). Each breach is printed
# with its file and line. Exits 1 when anything is flagged.
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

# "FILE:LINE FOLDER/REST" for each include of a folder's header under top (src or tests).
includes() {
  (cd "$root/$1" && grep -rnHE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"[^"/]+/' --include='*.h' --include='*.cpp' . |
    sed -E "s|^\./|$1/|; s|^([^:]*:[0-9]+):.*#[[:space:]]*include[[:space:]]*\"([^\"]+)\".*|\1 \2|")
}

breaches=0
breach() {
  echo "$1: includes $2: $3"
  breaches=$((breaches + 1))
}

while read -r at header; do
  [[ -z "$at" ]] && continue
  file=${at%%:*}
  from=$(cut -d/ -f2 <<< "$file")
  [[ "$file" == */*/* ]] || from=tools
  to=${header%%/*}
  if [[ "$header" == */internal/* ]]; then
    if [[ "$from" != "$to" ]]; then
      breach "$at" "$header" "private to src/$to/ and tests/$to/"
    elif [[ "$file" == *.h && "$file" != */internal/* ]]; then
      breach "$at" "$header" "a public header includes no internal one"
    fi
  fi
done <<< "$(includes src)"

while read -r at header; do
  [[ -z "$at" ]] && continue
  file=${at%%:*}
  from=$(cut -d/ -f2 <<< "$file")
  to=${header%%/*}
  if [[ "$from" == support ]]; then
    if [[ "$header" == */internal/* || ( "$to" != support && $(rank "$to") -gt $(rank platform) ) ]]; then
      breach "$at" "$header" "tests/support/ helpers include only util, platform and support"
    fi
    continue
  fi
  [[ "$to" == support ]] && continue
  if [[ "$header" == */internal/* && "$from" != "$to" ]]; then
    breach "$at" "$header" "private to src/$to/ and tests/$to/"
  elif (( $(rank "$to") < 0 || $(rank "$to") > $(rank "$from") )); then
    breach "$at" "$header" "tests/$from/ include only what src/$from/ may"
  fi
done <<< "$(includes tests)"

if (( upward > 0 )); then
  echo "$upward upward edge(s); order, lowest first: ${order[*]}"
fi
if (( breaches > 0 )); then
  echo "$breaches include(s) of private or higher headers"
fi
if (( upward > 0 || breaches > 0 )); then
  exit 1
fi
echo "no upward edges, no private headers included from outside"
