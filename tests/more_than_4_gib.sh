#!/usr/bin/env bash
# More than 4 GiB through a pipe, made on the fly: every byte comes out and the
# status is 0, so no count wraps at 2^32.
set -eu
tagsplit=$1
lines=720000000   # each "<a>\tb\n" is 6 bytes in and "<a>\r\nb" 6 bytes out
status_file=$(mktemp)
count=$(yes $'<a>\tb' | head -n "$lines" | { "$tagsplit"; echo $? >"$status_file"; } | wc -c)
status=$(cat "$status_file")
rm -f "$status_file"
echo "bytes out: $count, status: $status"
[ "$count" -eq $((lines * 6)) ] && [ "$status" -eq 0 ]
