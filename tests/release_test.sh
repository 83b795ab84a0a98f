#!/usr/bin/env bash
# Installs into a temporary prefix and runs the sample page; the program needs libc.so.6 alone;
# the man page renders without warnings; the .deb holds the program and the man page and passes
# lintian.
set -euo pipefail
build=$1
source=$2
version=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmake --install "$build" --prefix "$work/prefix" >/dev/null
program="$work/prefix/bin/tagsplit"
"$program" <"$source/examples/sample.html" | cmp - "$source/examples/sample.split.html"
readelf -d "$program" | sed -n 's/.*(NEEDED).*\[\(.*\)\]$/\1/p' | diff - <(echo libc.so.6)
page="$work/prefix/share/man/man1/tagsplit.1"
if command -v groff >/dev/null; then
  groff -man -ww -z "$page" 2>&1 | diff - /dev/null
fi
if command -v mandoc >/dev/null; then
  mandoc -Tlint -W warning "$page"
fi
if ! command -v dpkg-deb >/dev/null; then
  echo "dpkg-deb not installed: no package made"
  exit 0
fi
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work" >/dev/null
package="$work/tagsplit_${version}_$(dpkg --print-architecture).deb"
dpkg-deb -c "$package" | grep -q ' ./usr/bin/tagsplit$'
dpkg-deb -c "$package" | grep -q ' ./usr/share/man/man1/tagsplit.1.gz$'
if command -v lintian >/dev/null; then
  lintian --allow-root --fail-on warning "$package"
fi
