#!/usr/bin/env bash
# The fixed plots of golden_plot in every file format, with the test clock,
# compared byte for byte with the recorded digests (data/golden.sha256): a
# change of any existing output format shows here.
#   golden.sh <golden_plot program> <digest file>
# After an intended change of an output, record the digests again with
#   golden_plot <dir> && (cd <dir> && sha256sum * ) > tests/plot/data/golden.sha256
set -euo pipefail
plot=$1
digests=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$plot" "$work"
cd "$work"
sha256sum --quiet -c "$digests"
# No file beyond the recorded ones.
extra=$(comm -13 <(awk '{print $2}' "$digests" | sort) <(ls | sort))
[ -z "$extra" ] || { echo "files not in the digests: $extra"; exit 1; }
echo "golden plots: $(wc -l <"$digests") files identical"
