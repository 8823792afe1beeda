#!/usr/bin/env bash
# Checks that talvo can be used from an installed copy: installs the build in BUILD_DIR
# (default build/, configured and built here when it is not yet) to a fresh temporary prefix,
# copies the example out of the source tree, then builds and runs it twice against that prefix
# only: with CMake's find_package, and with pkg-config.
set -euo pipefail
cd "$(dirname "$0")/.."
src=$PWD
build=${1:-build}

if [[ ! -f $build/CMakeCache.txt ]]; then
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTALVO_BENCH=OFF >/dev/null
fi
cmake --build "$build" -j"$(nproc)" --target talvo talvo_mfc talvo_platform talvo_tool >/dev/null

tmp=$(mktemp -d /tmp/talvo-install.XXXXXX)
trap 'rm -rf "$tmp"' EXIT
prefix=$tmp/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null
cp -r "$src/examples" "$tmp/examples"
strip=$src/tools/samples/walker.bmp

# A client compiles with the installed headers alone.
test -f "$prefix/include/talvo/Image.h" -a -f "$prefix/include/talvo/platform/host.h"
test -x "$prefix/bin/talvo"

echo "check-install: find_package against $prefix"
cmake -S "$tmp/examples" -B "$tmp/cmake-build" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS="-Wall -Wextra -Werror" >/dev/null
cmake --build "$tmp/cmake-build" >/dev/null
"$tmp/cmake-build/talvo_example" "$strip" "$tmp/cmake.jpg"

echo "check-install: pkg-config against $prefix"
export PKG_CONFIG_PATH=$prefix/lib/pkgconfig
pkg-config --exists --print-errors talvo
make -s -C "$tmp/examples" CXXFLAGS="-O2 -Wall -Wextra -Werror" >/dev/null
LD_LIBRARY_PATH=$prefix/lib "$tmp/examples/talvo_example" "$strip" "$tmp/pkg-config.jpg"

# The installed program runs from the prefix too, with the sample strips installed beside it.
"$prefix/bin/talvo" demo --help | grep -q "default: $prefix/bin/../share/talvo/samples"
(cd "$tmp" && "$prefix/bin/talvo" demo --bpp 32 --seconds 0 --out "$tmp" >/dev/null)
test -s "$tmp/demo-32.jpg"
echo "check-install: ok"
