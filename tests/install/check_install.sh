#!/usr/bin/env bash
# usage: check_install.sh BUILD_DIR CONSUMER_SOURCE_DIR
set -euo pipefail
here=$(dirname "$0")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmake --install "$1" --prefix "$work/prefix" >/dev/null
"$here/build_consumers.sh" "$work/prefix" "$2" "$work"
echo "install consumer ok"
