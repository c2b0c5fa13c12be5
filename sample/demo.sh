#!/bin/sh
# Packs the sample tree, lists the archive, unpacks it elsewhere and
# compares the result with the original.
set -eu
tool=$(cd "$(dirname "${1:-build/dattool}")" && pwd)/$(basename "${1:-build/dattool}")
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp -R "$here/tree" "$work/tree"
cd "$work"
"$tool" c sample.dat tree
"$tool" l sample.dat
mkdir out && cd out
"$tool" x ../sample.dat
diff -r ../tree tree && echo "Extracted tree matches the original."
