#!/usr/bin/env bash
# usage: check_debian.sh BUILD_DIR CONSUMER_SOURCE_DIR VERSION
# Makes the Debian packages of the build, checks what each holds and depends
# on, unpacks them into a scratch root and builds the outside consumer against
# the development package there; the unpacked mmtool must find its plugins.
set -euo pipefail
build=$1
consumer=$2
version=$3
here=$(dirname "$0")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/packages" >"$work/cpack.log" 2>&1 || {
  cat "$work/cpack.log" >&2
  exit 1
}
fail() { echo "check_debian: $*" >&2; exit 1; }

# package file name, then files it must hold, then packages it must depend on
check() {
  local deb=$work/packages/$1_${version}_amd64.deb files depends
  [ -f "$deb" ] || fail "$1: no package"
  files=$(dpkg-deb -c "$deb" | awk '{print $6}')
  for f in $2; do
    grep -qx "./usr/$f" <<<"$files" || fail "$1 lacks /usr/$f"
  done
  depends=$(dpkg-deb -f "$deb" Depends)
  for d in $3; do
    grep -qE "(^|, )$d( |,|$)" <<<"$depends" || fail "$1 does not depend on $d: $depends"
  done
  dpkg-deb -x "$deb" "$work/root"
}
check libmultimedia0 \
  "lib/libavifile.so.0 lib/libgstvideoreader.so.0 lib/libgstplugin.so lib/libmj2kplugin.so lib/libmjpegaviplugin.so
   lib/libvideoflowconverter.so lib/libaudioflowconverter.so" \
  "libgstreamer1.0-0 libjpeg62-turbo libopenjp2-7 libstdc\+\+6"
check libmultimedia-dev \
  "include/avi/avifile.hpp include/common/export.hpp lib/libavifile.so lib/cmake/multimedia/multimediaConfig.cmake
   lib/pkgconfig/avifile.pc" \
  "libmultimedia0 libboost-dev"
check mmtool "bin/mmtool" "libmultimedia0"
# Headers and CMake files only in the development package, libraries only in the runtime one.
dpkg-deb -c "$work/packages/libmultimedia0_${version}_amd64.deb" | grep -qE '\.(hpp|pc|cmake)$' &&
  fail "the runtime package holds development files"
dpkg-deb -c "$work/packages/mmtool_${version}_amd64.deb" | grep -q '/lib/' && fail "the mmtool package holds libraries"

"$here/build_consumers.sh" "$work/root/usr" "$consumer" "$work"
tool=$work/root/usr/bin/mmtool
[ "$("$tool" --version)" = "mmtool $version" ] || fail "unpacked mmtool --version"
"$tool" sample --seconds 0.2 "$work/clip.avi" >/dev/null
"$tool" info --json "$work/clip.avi" | grep -q '"IsPluginSuccess": true' || fail "unpacked mmtool found no plugin"
echo "debian packages ok"
