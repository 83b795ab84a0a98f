#!/usr/bin/env bash
# Installs into a temporary prefix and runs the installed program on the sample
# page; the man page renders without a warning; the .deb holds its files,
# installs and removes cleanly in a dpkg tree of its own, and passes lintian.
set -eu
build=$1 source=$2 version=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmake --install "$build" --prefix "$work/prefix" >/dev/null
"$work/prefix/bin/tagsplit" <"$source/examples/sample.html" | cmp - "$source/examples/sample.split.html"
page="$work/prefix/share/man/man1/tagsplit.1"
warnings=$(groff -man -ww -z "$page" 2>&1)
[ -z "$warnings" ] || { echo "$warnings"; exit 1; }
if command -v mandoc >/dev/null; then mandoc -Tlint -W warning "$page"; else echo "mandoc not installed"; fi

command -v dpkg-deb >/dev/null || { echo "dpkg-deb not installed: no package made"; exit 0; }
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work" >/dev/null
deb="$work/tagsplit_${version}_amd64.deb"
root="$work/root"
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
touch "$root/var/lib/dpkg/status"
dpkg --root="$root" --force-not-root --force-depends --force-script-chrootless -i "$deb" >/dev/null
test -f "$root/usr/share/man/man1/tagsplit.1.gz"
"$root/usr/bin/tagsplit" <"$source/examples/sample.html" | cmp - "$source/examples/sample.split.html"
dpkg --root="$root" --force-not-root --force-script-chrootless -r tagsplit >/dev/null
left=$(find "$root/usr" -type f 2>/dev/null || true)
[ -z "$left" ] || { echo "left after removal: $left"; exit 1; }
if command -v lintian >/dev/null; then lintian --allow-root --fail-on warning "$deb"; else echo "lintian not installed"; fi
echo "installed, man page clean, package complete"
