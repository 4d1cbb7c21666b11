#!/bin/sh
# The manual page renders without a warning and names every long option the
# program's --help prints.  Usage: man_page.sh FASOGRAM MANPAGE
set -u
program=$1
page=$2
command -v groff >/dev/null 2>&1 || { echo "groff is not installed"; exit 77; }

warnings=$(groff -man -Tutf8 -ww -z "$page" 2>&1)
if [ -n "$warnings" ]; then
  echo "groff warns about $page:"
  echo "$warnings"
  exit 1
fi

options=$(LC_ALL=C "$program" --help | grep -o -- '--[a-z][a-z-]*' | sort -u)
[ -n "$options" ] || { echo "no long option in --help"; exit 1; }
count=0
missing=0
for option in $options; do
  count=$((count + 1))
  # In the page's source each hyphen is written \-.
  escaped=$(printf '%s' "$option" | sed 's/-/\\\\-/g')
  if ! grep -q -- "$escaped" "$page"; then
    echo "$option is missing from $page"
    missing=1
  fi
done
[ "$missing" -eq 0 ] || exit 1
echo "$count long options, all in $page"
