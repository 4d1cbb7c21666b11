#!/usr/bin/env bash
# Installs everything the build and the test suite need on a fresh Debian
# machine (run as root).  Packages already present are not fetched again.
set -euo pipefail

pkgs=(build-essential cmake pkg-config libgtest-dev libgmock-dev libbenchmark-dev
      zlib1g-dev libx11-dev libmpfr-dev libfftw3-dev clang-format locales
      # the message catalogues (msgfmt) and the check of the manual page (groff)
      gettext groff-base
      ghostscript qpdf libtiff-tools python3 python3-pil poppler-utils
      hershey-fonts-data xvfb xdotool x11-apps libxml2-utils librsvg2-bin
      python3-dev pybind11-dev python3-pybind11 python3-numpy python3-pytest
      python3-pip python3-setuptools python3-wheel
      python3-dask python3-distributed python3-astropy
      # the multiple-precision reference of the tests of nearly singular fits
      python3-mpmath
      # real series for the tests of the automatic grid: statsmodels' data
      # sets (sunspots, co2, elnino) and R's (lynx, sunspot.month)
      python3-statsmodels r-base-core
      # the fuzz build (tools/fuzz.sh): clang, libFuzzer and the sanitizer
      # runtimes, llvm-symbolizer for the reports
      clang libclang-rt-dev llvm)

missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# The locale tests run part of the suite under a locale whose decimal
# separator is a comma, and the batch messages under a Spanish locale.
for loc in de_DE es_ES; do
  if ! locale -a 2>/dev/null | grep -qi "^$loc\.utf-\?8$"; then
    sed -i "s/^# *\($loc.UTF-8 UTF-8\)/\1/" /etc/locale.gen
    grep -q "^$loc.UTF-8 UTF-8" /etc/locale.gen || echo "$loc.UTF-8 UTF-8" >> /etc/locale.gen
    need_locale_gen=1
  fi
done
if [ -n "${need_locale_gen:-}" ]; then
  locale-gen >/dev/null
fi
