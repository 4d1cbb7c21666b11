#!/usr/bin/env bash
# The folders of the library include only their own and lower folders:
#   core < drivers < pipeline < text < axes < life
# (plotix.h, the public interface, may be included anywhere), and the program
# in app/ includes no internal header of the library. Prints every include
# against that direction and fails when there is one.
#   layers.sh <source directory>
set -euo pipefail
cd "$1"
order=(core drivers pipeline text axes life)
rank() {
  local i
  for i in "${!order[@]}"; do [ "${order[$i]}" = "$1" ] && { echo "$i"; return; }; done
  echo -1
}
bad=0
for from in "${order[@]}"; do
  r=$(rank "$from")
  while IFS=: read -r file line text; do
    to=$(sed -E 's/.*#include "([a-z]+)\/.*/\1/' <<<"$text")
    t=$(rank "$to")
    if [ "$t" -gt "$r" ]; then
      echo "upward: $file:$line: $text"
      bad=$((bad + 1))
    fi
  done < <(grep -rnE '^#include "[a-z]+/' "plot/$from" || true)
done
while IFS= read -r hit; do
  echo "internal header in app/: $hit"
  bad=$((bad + 1))
done < <(grep -rnE '^#include "(core|drivers|pipeline|text|axes|life)/' app || true)
echo "upward includes: $bad"
[ "$bad" -eq 0 ]
