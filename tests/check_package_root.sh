#!/bin/sh
# Checks the package root the build lays out for the Debian package and the
# debug-symbols archive beside it:
#  - the module and the tool are stripped, the module still exports just
#    the two entry points (check_module.sh) and the stripped tool renders
#    through the stripped module;
#  - the archive holds both unstripped, at their installed paths, each with
#    the build ID of its stripped copy and found by it under .build-id/;
#  - the compressed files are gzip's best, with no name or time in them.
#
# usage: check_package_root.sh ROOT ARCH DEBUG_ARCHIVE
set -eu
[ $# -eq 3 ] || { echo "usage: $0 ROOT ARCH DEBUG_ARCHIVE" >&2; exit 2; }
root=$1 arch=$2 archive=$3
here=$(dirname "$0")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
problem() { printf 'FAIL: %s\n' "$*"; failures=$((failures + 1)); }
readelf=${READELF:-readelf}

build_id() { "$readelf" -n "$1" | sed -n 's/^ *Build ID: *//p'; }
has_symbols() { "$readelf" -S -W "$1" | grep -q ' \.symtab '; }

bundle=usr/OFX/Plugins/QvoVantorel.ofx.bundle
module=$bundle/Contents/$arch/QvoVantorel.ofx
tool=usr/bin/vantorel

"$here/check_module.sh" "$root/$bundle" "$arch" >"$work/module" ||
  problem "the stripped module: $(cat "$work/module")"
"$root/$tool" describe --bundle "$root/$bundle" >"$work/describe" 2>&1 ||
  problem "the stripped tool and module: $(tail -n 2 "$work/describe")"
"$root/$tool" chart "$work/chart.png" --bundle "$root/$bundle" >/dev/null 2>&1 &&
  [ -s "$work/chart.png" ] || problem "the stripped tool and module wrote no chart"

name=$(basename "$archive" .tar.gz)
tar -xzf "$archive" -C "$work" || problem "cannot unpack $archive"
for file in $module $tool; do
  has_symbols "$root/$file" && problem "$file is not stripped"
  [ -n "$(build_id "$root/$file")" ] || problem "$file has no build ID"
  debug=$work/$name/$file
  if [ ! -f "$debug" ]; then
    problem "$archive has no $file"
    continue
  fi
  has_symbols "$debug" || problem "$file in $archive has no symbols"
  id=$(build_id "$root/$file")
  [ "$(build_id "$debug")" = "$id" ] ||
    problem "$file in $archive is not the build of the packaged one"
  link=$work/$name/.build-id/$(echo "$id" | cut -c1-2)/$(echo "$id" | cut -c3-).debug
  [ -L "$link" ] && cmp -s "$link" "$debug" ||
    problem "$archive does not find $file by its build ID $id"
done

for file in $(cd "$root" && find . -name '*.gz'); do
  gzip -t "$root/$file" || problem "$file is not sound gzip"
  # Header: flags (byte 4) with no name, no time (bytes 5-8), best (byte 9).
  header=$(od -An -tu1 -j3 -N7 "$root/$file" | tr -s ' ' | sed 's/^ //')
  [ "$header" = "0 0 0 0 0 2 3" ] ||
    problem "$file is not compressed by gzip -9n (header $header)"
done

if [ "$failures" -gt 0 ]; then
  echo "$failures failure(s) in $root"
  exit 1
fi
echo "PASS: $root and $archive"
