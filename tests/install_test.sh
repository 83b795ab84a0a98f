#!/usr/bin/env bash
# Installs into a temporary prefix and runs the installed program on the sample page.
set -eu
build=$1 source=$2
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
test -x "$prefix/bin/tagsplit"
test -f "$prefix/share/man/man1/tagsplit.1"
"$prefix/bin/tagsplit" <"$source/examples/sample.html" | cmp - "$source/examples/sample.split.html"
echo "installed program gives the expected bytes"
