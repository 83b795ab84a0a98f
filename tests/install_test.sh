#!/usr/bin/env bash
# Installs into a temporary prefix and runs the program on the sample page; the man page
# renders without a warning; the .deb holds the program and the man page and passes lintian.
set -eu
build=$1 source=$2 version=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmake --install "$build" --prefix "$work/prefix" >/dev/null
"$work/prefix/bin/tagsplit" <"$source/examples/sample.html" | cmp - "$source/examples/sample.split.html"
page="$work/prefix/share/man/man1/tagsplit.1"
warnings=$(groff -man -ww -z "$page" 2>&1)
[ -z "$warnings" ] || { echo "$warnings"; exit 1; }
! command -v mandoc >/dev/null || mandoc -Tlint -W warning "$page"
command -v dpkg-deb >/dev/null || { echo "dpkg-deb not installed: no package made"; exit 0; }
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work" >/dev/null
files=$(dpkg-deb -c "$work/tagsplit_${version}_amd64.deb")
grep -q ' ./usr/bin/tagsplit$' <<<"$files" && grep -q ' ./usr/share/man/man1/tagsplit.1.gz$' <<<"$files"
! command -v lintian >/dev/null || lintian --allow-root --fail-on warning "$work"/*.deb
