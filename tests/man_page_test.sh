#!/usr/bin/env bash
# The man page renders without a single warning.
set -eu
page=$1
warnings=$(groff -man -ww -z "$page" 2>&1)
[ -z "$warnings" ] || { echo "$warnings"; exit 1; }
if command -v mandoc >/dev/null; then
  mandoc -Tlint -W warning "$page"
else
  echo "mandoc not installed: its lint was not run"
fi
echo "man page renders cleanly"
