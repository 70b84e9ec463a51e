#!/bin/sh
# Installs the build into a scratch prefix and checks that the bundle lands
# there whole, and that the default prefix is the platform's standard
# plug-in folder (by default Linux's).
set -eu
build=$1
arch=$2
standard=${3:-/usr/OFX/Plugins}
here=$(dirname "$0")
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

default=$(sed -n 's/^CMAKE_INSTALL_PREFIX:PATH=//p' "$build/CMakeCache.txt")
[ "$default" = "$standard" ] || fail "default prefix is '$default'"

cmake --install "$build" --prefix "$prefix" >/dev/null
"$here/check_module.sh" "$prefix/QvoVantorel.ofx.bundle" "$arch"
