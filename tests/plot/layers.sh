#!/usr/bin/env bash
# The folders of the library include only their own and lower folders:
#   core < drivers < pipeline < text < axes < life
# (plotix.h, the public interface, may be included anywhere), and the program
# in app/ includes no internal header of the library. No two units of the
# library (a header with its source) include each other, and no two headers
# share a file name. Prints every include against these rules and fails when
# there is one.
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
# Units that include each other: "a/x" includes "b/y" (from x.h or x.cpp)
# and "b/y" includes "a/x".
edges=$(grep -rnoE '^#include "[a-z]+/[a-z_0-9]+\.h"' plot --include='*.cpp' --include='*.h' |
  sed -E 's|^plot/([a-z]+/[a-z_0-9]+)\.(cpp\|h):[0-9]+:#include "([a-z]+/[a-z_0-9]+)\.h"$|\1 \3|' |
  awk '$1 != $2' | sort -u)
while read -r a b; do
  [ -n "$a" ] || continue
  if grep -qxF "$b $a" <<<"$edges" && [[ "$a" < "$b" ]]; then
    echo "units include each other: $a and $b"
    bad=$((bad + 1))
  fi
done <<<"$edges"
while read -r count name; do
  echo "$count headers named $name"
  bad=$((bad + 1))
done < <(find plot -name '*.h' -printf '%f\n' | sort | uniq -c | awk '$1 > 1')
echo "upward includes, mutual includes and shared header names: $bad"
[ "$bad" -eq 0 ]
