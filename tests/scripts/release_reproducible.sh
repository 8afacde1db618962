#!/usr/bin/env bash
# A release is made again, from the last commit, in two fresh clones whose
# folders differ in name and depth: the two programs must be the same bytes,
# and so must the two archives. The clones share this checkout's
# dependencies (build/deps) through links, as another machine builds the
# same ones from the same packages.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() { echo "reproducible release: FAILED: $*" >&2; exit 1; }

release_in() {
    local tree=$1
    git clone --quiet --no-hardlinks "$root" "$tree"
    mkdir -p "$tree/build/deps"
    for entry in "$root"/build/deps/*; do
        ln -s "$(readlink -f "$entry")" "$tree/build/deps/"
    done
    (cd "$tree" && scripts/release) >"$tree.log" 2>&1 || {
        tail -n 20 "$tree.log" >&2
        fail "scripts/release failed in $tree"
    }
}

one=$work/one
two=$work/a/second/clone
mkdir -p "$(dirname "$two")"
release_in "$one"
release_in "$two"

program_sum() { python3 -c 'import hashlib, sys, zipfile
print(hashlib.sha256(zipfile.ZipFile(sys.argv[1]).read("quillgate.exe")).hexdigest())' "$1"/dist/quillgate-*-win32.zip; }
first=$(program_sum "$one")
second=$(program_sum "$two")
echo "quillgate.exe built in $one: $first"
echo "quillgate.exe built in $two: $second"
[ "$first" = "$second" ] || fail "the two programs differ"
cmp "$one"/dist/SHA256SUMS "$two"/dist/SHA256SUMS || fail "the two archives differ"
echo "reproducible release: the same program and archive from both folders ($(cut -c1-16 "$one/dist/SHA256SUMS")...)"
