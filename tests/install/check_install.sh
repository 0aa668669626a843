#!/usr/bin/env bash
# usage: check_install.sh BUILD_DIR CONSUMER_SOURCE_DIR
set -euo pipefail
build=$1
consumer=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null
# The CMake package.
cmake -S "$consumer" -B "$work/cmake-build" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/cmake-build" >/dev/null
"$work/cmake-build/consumer"
# pkg-config, for every installed library.
export PKG_CONFIG_PATH=$prefix/lib/pkgconfig
for pc in "$prefix"/lib/pkgconfig/*.pc; do
  lib=$(basename "$pc" .pc)
  pkg-config --exists "$lib"
done
c++ -std=c++17 "$consumer/main.cpp" -o "$work/pc-consumer" \
  $(pkg-config --cflags --libs $(cat "$consumer/pkg-modules")) -Wl,-rpath,"$prefix/lib"
"$work/pc-consumer"
echo "install consumer ok"
