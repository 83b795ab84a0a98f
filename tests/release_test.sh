#!/usr/bin/env bash
# release_test.sh BUILD SOURCE VERSION: makes the release set with scripts/release in
# BUILD/release-set and checks what ships: every file and its checksum; each tarball's files,
# its program static (no interpreter, no libraries needed) and for its processor, its man page
# rendering without warnings; each zip's files; each package's architecture, files and empty
# dependency list, lintian without warnings and rpmlint without errors; the x86_64 program and
# the .deb for this machine, installed, run on the sample; the .deb removed. The tarballs and
# zips stay unpacked there, for the end-to-end rows of what ships.
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
# The presets the release command runs need CMake 3.25; the rest of the tests, 3.21.
cmake_version=$(cmake --version)
if [[ ! $cmake_version =~ ([0-9]+)\.([0-9]+) ]] || ((BASH_REMATCH[1] * 100 + BASH_REMATCH[2] < 325))
then
  echo "SKIPPED: the release set needs CMake 3.25"
  exit 77
fi
fail() {
  echo "FAILED: $*"
  exit 1
}
set_dir=$build/release-set
rm -rf "$set_dir"
"$source/scripts/release" "$set_dir" >/dev/null
cd "$set_dir"
sha256sum --quiet -c SHA256SUMS

files=(SHA256SUMS)
for arch in i686 x86_64; do
  folder=tagsplit-$version-windows-$arch
  files+=("$folder.zip")
  python3 -m zipfile -e "$folder.zip" .
  diff <(ls "$folder") <(printf '%s\n' LICENSE.txt README.txt tagsplit.exe)
done

declare -A deb_arch=([x86_64]=amd64 [aarch64]=arm64 [i686]=i386)
declare -A machine=([x86_64]=X86-64 [aarch64]=AArch64 [i686]=80386)
for arch in x86_64 aarch64 i686; do
  folder=tagsplit-$version-linux-$arch
  files+=("$folder.tar.gz" "tagsplit_${version}_${deb_arch[$arch]}.deb")
  tar -xzf "$folder.tar.gz"
  diff <(ls "$folder") <(printf '%s\n' CHANGELOG.md LICENSE README.md tagsplit tagsplit.1)
  headers=$(readelf -hlW "$folder/tagsplit")
  dynamic=$(readelf -dW "$folder/tagsplit")
  [[ $headers == *"Machine:"*"${machine[$arch]}"* ]] || fail "$folder/tagsplit: another processor's"
  [[ $headers != *INTERP* ]] || fail "$folder/tagsplit has an interpreter"
  [[ $dynamic != *NEEDED* ]] || fail "$folder/tagsplit needs libraries"
  groff -man -ww -z "$folder/tagsplit.1" 2>&1 | diff - /dev/null
  mandoc -Tlint -W warning "$folder/tagsplit.1"

  deb=tagsplit_${version}_${deb_arch[$arch]}.deb
  test "$(dpkg-deb -f "$deb" Architecture)" = "${deb_arch[$arch]}"
  depends=$(dpkg-deb -f "$deb" Depends)
  test -z "$depends"
  listing=$(dpkg-deb -c "$deb")$'\n'
  [[ $listing == *" ./usr/bin/tagsplit"$'\n'* ]] || fail "$deb lacks the program"
  [[ $listing == *" ./usr/share/man/man1/tagsplit.1.gz"$'\n'* ]] || fail "$deb lacks the man page"
  if [[ $arch != i686 ]]; then
    rpm=tagsplit-$version-1.$arch.rpm
    files+=("$rpm")
    test "$(rpm -qp --qf '%{ARCH}' "$rpm")" = "$arch"
    # rpm's own capabilities alone: no library, no other package.
    requires=$(rpm -qp --requires "$rpm")
    [[ -z $(grep -v '^rpmlib(' <<<"$requires") ]] || fail "$rpm needs more than rpm"
    diff <(rpm -qlp "$rpm") <(printf '%s\n' /usr/bin/tagsplit /usr/share/licenses/tagsplit \
      /usr/share/licenses/tagsplit/LICENSE /usr/share/man/man1/tagsplit.1.gz)
  fi
done
diff <(find . -maxdepth 1 -type f -printf '%f\n' | sort) <(printf '%s\n' "${files[@]}" | sort)
lintian --allow-root --fail-on warning ./*.deb
rpmlint -c "$source/tests/rpmlint.toml" ./*.rpm >/dev/null

"tagsplit-$version-linux-x86_64/tagsplit" <"$source/examples/sample.html" |
  cmp - "$source/examples/sample.split.html"
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
