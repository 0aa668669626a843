#!/usr/bin/env bash
# usage: build_consumers.sh PREFIX CONSUMER_SOURCE_DIR WORK_DIR
# Builds and runs the outside consumer against the tree at PREFIX, once
# through the CMake package and once through pkg-config.
set -euo pipefail
prefix=$1
consumer=$2
work=$3
libdir=$prefix/lib
cmake -S "$consumer" -B "$work/cmake-build" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/cmake-build" >/dev/null
"$work/cmake-build/consumer"
export PKG_CONFIG_PATH=$libdir/pkgconfig
for pc in "$libdir"/pkgconfig/*.pc; do
  pkg-config --exists "$(basename "$pc" .pc)"
done
c++ -std=c++17 "$consumer/main.cpp" -o "$work/pc-consumer" \
  $(pkg-config --cflags --libs $(cat "$consumer/pkg-modules")) -Wl,-rpath,"$libdir"
"$work/pc-consumer"
