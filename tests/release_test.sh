#!/usr/bin/env bash
# release_test.sh BUILD SOURCE VERSION: makes the release set with scripts/release in
# BUILD/release-set and checks what ships: every file and its checksum; each tarball's files,
# its program static (no interpreter, no libraries needed), its man page rendering without
# warnings; each package's architecture, files and empty dependency list, lintian and rpmlint
# without errors; and the .deb for this machine installed, run on the sample and removed.
set -euo pipefail
build=$1
source=$2
version=$3
needed=(aarch64-linux-gnu-g++ i686-linux-gnu-g++ i686-w64-mingw32-g++ x86_64-w64-mingw32-g++
  rpmbuild rpm rpmlint dpkg-deb lintian groff mandoc readelf)
for tool in "${needed[@]}"; do
  if ! command -v "$tool" >/dev/null; then
    echo "SKIPPED: the release set needs $tool"
    exit 77
  fi
done
fail() {
  echo "FAILED: $*"
  exit 1
}
set_dir=$build/release-set
rm -rf "$set_dir"
"$source/scripts/release" "$set_dir" >/dev/null
cd "$set_dir"
sha256sum --quiet -c SHA256SUMS

declare -A deb_arch=([x86_64]=amd64 [aarch64]=arm64 [i686]=i386)
files=(SHA256SUMS tagsplit-$version-windows-i686.zip tagsplit-$version-windows-x86_64.zip)
for arch in x86_64 aarch64 i686; do
  folder=tagsplit-$version-linux-$arch
  files+=("$folder.tar.gz" "tagsplit_${version}_${deb_arch[$arch]}.deb")
  tar -xzf "$folder.tar.gz"
  diff <(ls "$folder") <(printf '%s\n' CHANGELOG.md LICENSE README.md tagsplit tagsplit.1)
  [[ $(readelf -lW "$folder/tagsplit") != *INTERP* ]] || fail "$folder/tagsplit has an interpreter"
  [[ $(readelf -dW "$folder/tagsplit") != *NEEDED* ]] || fail "$folder/tagsplit needs libraries"
  groff -man -ww -z "$folder/tagsplit.1" 2>&1 | diff - /dev/null
  mandoc -Tlint -W warning "$folder/tagsplit.1"

  deb=tagsplit_${version}_${deb_arch[$arch]}.deb
  test "$(dpkg-deb -f "$deb" Architecture)" = "${deb_arch[$arch]}"
  test -z "$(dpkg-deb -f "$deb" Depends)"
  listing=$(dpkg-deb -c "$deb")$'\n'
  [[ $listing == *" ./usr/bin/tagsplit"$'\n'* ]] || fail "$deb lacks the program"
  [[ $listing == *" ./usr/share/man/man1/tagsplit.1.gz"$'\n'* ]] || fail "$deb lacks the man page"
  if [[ $arch != i686 ]]; then
    rpm=tagsplit-$version-1.$arch.rpm
    files+=("$rpm")
    test "$(rpm -qp --qf '%{ARCH}' "$rpm")" = "$arch"
    # rpm's own capabilities alone: no library, no other package.
    [[ -z $(rpm -qp --requires "$rpm" | grep -v '^rpmlib(') ]] || fail "$rpm needs more than rpm"
    diff <(rpm -qlp "$rpm") <(printf '%s\n' /usr/bin/tagsplit /usr/share/man/man1/tagsplit.1.gz)
  fi
done
diff <(ls | grep -v '^tagsplit-.*-linux-[^.]*$') <(printf '%s\n' "${files[@]}" | sort)
lintian --allow-root --fail-on warning ./*.deb
rpmlint -c "$source/tests/rpmlint.toml" ./*.rpm >/dev/null

# The package for this machine, installed into a folder of its own rather than the system.
root=$set_dir/installed
mkdir -p "$root/var/lib/dpkg/updates" "$root/var/lib/dpkg/info"
touch "$root/var/lib/dpkg/status"
deb=tagsplit_${version}_$(dpkg --print-architecture).deb
dpkg --root="$root" --force-not-root --force-script-chrootless -i "$deb" >/dev/null
"$root/usr/bin/tagsplit" <"$source/examples/sample.html" |
  cmp - "$source/examples/sample.split.html"
dpkg --root="$root" --force-not-root --force-script-chrootless -r tagsplit >/dev/null
test ! -e "$root/usr/bin/tagsplit"
echo "the release set: ${#files[@]} files, all as they must be"
