#!/usr/bin/env bash
# installed_demo.sh BUILD_DIR SCRATCH_DIR: installs BUILD_DIR into a fresh prefix,
# checks the layout, and runs the installed pv7parent demo from another folder.
set -euo pipefail
build=$1
scratch=$2
prefix=$(mktemp -d "$scratch/install-prefix.XXXXXX")
work=$(mktemp -d "$scratch/install-work.XXXXXX")
trap 'rm -rf "$prefix" "$work"' EXIT

cmake --install "$build" --prefix "$prefix" >/dev/null
for f in bin/pv7host bin/pv7parent bin/xmltool lib/pv7host/pv7host lib/pv7host/libcef.so \
         lib/pv7host/demo/demo.html lib/pv7host/fonts.conf share/doc/pv7host/README.md \
         share/doc/pv7host/protocol.md share/doc/pv7host/examples/parent.py; do
  [ -e "$prefix/$f" ] || { echo "missing after install: $f"; exit 1; }
done
[ -L "$prefix/bin/pv7host" ] || { echo "bin/pv7host is not a link"; exit 1; }
version=$(sed -n 's/^project([^ ]* VERSION \([0-9.]*\).*/\1/p' "$(dirname "$0")/../../CMakeLists.txt")
[ -n "$version" ] || { echo "no version in CMakeLists.txt"; exit 1; }
"$prefix/bin/xmltool" --version | grep -q "$version" || { echo "xmltool --version does not say $version"; exit 1; }
"$prefix/bin/pv7parent" --version | grep -q "$version" || { echo "pv7parent --version does not say $version"; exit 1; }

# The demo, with the build folder out of reach: nothing may come from it.
cd "$work"
status=0
"$prefix/bin/pv7parent" >out.txt 2>err.txt || status=$?
cat out.txt err.txt
[ "$status" = 0 ] || { echo "the installed demo ended with status $status"; exit 1; }
grep -q "^host started: $prefix/bin/pv7host" out.txt
grep -q "^console demo page loaded" out.txt
grep -q "^console button clicked" out.txt
[ -s demo.png ] || { echo "no demo.png"; exit 1; }
echo "installed demo ran"
