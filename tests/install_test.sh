#!/usr/bin/env bash
# Installs into a temporary prefix and runs the program on the sample page; the program needs
# libc alone; the man page renders without a warning; the .deb holds the program and the man
# page and passes lintian.
set -eu
build=$1
source=$2
version=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmake --install "$build" --prefix "$work/prefix" >/dev/null
program="$work/prefix/bin/tagsplit"
"$program" <"$source/examples/sample.html" | cmp - "$source/examples/sample.split.html"
needed=$(readelf -d "$program" | sed -n 's/.*(NEEDED).*\[\(.*\)\]$/\1/p')
if [ "$needed" != libc.so.6 ]; then
  echo "the program needs these libraries, not libc.so.6 alone:"
  echo "$needed"
  exit 1
fi
page="$work/prefix/share/man/man1/tagsplit.1"
warnings=$(groff -man -ww -z "$page" 2>&1)
if [ -n "$warnings" ]; then
  echo "$warnings"
  exit 1
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
files=$(dpkg-deb -c "$package")
grep -q ' ./usr/bin/tagsplit$' <<<"$files"
grep -q ' ./usr/share/man/man1/tagsplit.1.gz$' <<<"$files"
if command -v lintian >/dev/null; then
  lintian --allow-root --fail-on warning "$package"
fi
