#!/usr/bin/env bash
# Builds the .deb, checks its files, installs and removes it in a dpkg tree of
# its own (the machine's packages are never touched), and runs lintian.
set -eu
build=$1 version=$2
command -v dpkg-deb >/dev/null || { echo "SKIPPED: dpkg-deb is not installed"; exit 0; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work" >/dev/null
deb="$work/tagsplit_${version}_amd64.deb"
files=$(dpkg-deb -c "$deb")
grep -q ' ./usr/bin/tagsplit$' <<<"$files"
grep -q ' ./usr/share/man/man1/tagsplit.1.gz$' <<<"$files"

root="$work/root"
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
touch "$root/var/lib/dpkg/status"
dpkg --root="$root" --force-not-root --force-depends --force-script-chrootless -i "$deb" >/dev/null
"$root/usr/bin/tagsplit" x >/dev/null || [ $? -eq 2 ]
dpkg --root="$root" --force-not-root --force-script-chrootless -r tagsplit >/dev/null
left=$(find "$root/usr" -type f 2>/dev/null || true)
[ -z "$left" ] || { echo "left after removal: $left"; exit 1; }

if command -v lintian >/dev/null; then
  lintian --allow-root --fail-on warning "$deb"
else
  echo "lintian not installed: not run"
fi
echo "package $deb is complete and installs and removes cleanly"
