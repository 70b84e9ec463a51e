#!/bin/sh
# Checks a macOS module (a Mach-O file, thin or universal) with LLVM's
# object tools. Each slice is a bundle (MH_BUNDLE) that exports
# OfxGetNumberOfPlugins and OfxGetPlugin and nothing else, links only
# /usr/lib/libSystem.B.dylib, binds only symbols the project's libSystem
# stub lists, and records its minimum macOS; an arm64 slice carries a code
# signature whose every page hash holds (recomputed here with sha256sum,
# apart from the host library's loader). The bundle's Info.plist names the
# module, the plug-in's identifier, a three-part version and each slice's
# minimum macOS. SLICES (e.g. "x86_64 arm64") is the list of slices the
# file must hold, when given.
set -eu
binary=$1
OBJDUMP=${LLVM_OBJDUMP:-llvm-objdump-14}
LIPO=${LLVM_LIPO:-llvm-lipo-14}
here=$(dirname "$0")
stub="$here/../cmake/macos-sysroot/usr/lib/libSystem.tbd"
fail() { echo "FAIL: $*"; exit 1; }
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# Minimum macOS per slice.
minimum() {
  case $1 in
    x86_64) echo 10.13 ;;
    arm64) echo 11.0 ;;
    *) fail "unexpected slice $1" ;;
  esac
}

# The big-endian 32-bit number at byte $2 of file $1.
be32() {
  od -An -tu1 -v -j "$2" -N 4 "$1" |
    awk '{ printf "%.0f\n", (($1 * 256 + $2) * 256 + $3) * 256 + $4 }'
}
byte() { od -An -tu1 -v -j "$2" -N 1 "$1" | tr -d ' '; }

# Every page hash of the slice's CodeDirectories against the pages; sets
# `signed`.
check_signature() {
  slice=$1
  set -- $("$OBJDUMP" --macho --private-headers "$slice" |
    awk '/cmd LC_CODE_SIGNATURE/ { found = 1 }
         found && /dataoff/ { offset = $2 }
         found && /datasize/ { print offset, $2; exit }')
  [ $# -eq 2 ] || fail "the arm64 slice is not signed"
  signature=$1
  [ "$(be32 "$slice" "$signature")" = 4208856256 ] ||   # 0xfade0cc0
    fail "the code signature is not a signature blob"
  count=$(be32 "$slice" $((signature + 8)))
  directories=0
  i=0
  while [ "$i" -lt "$count" ]; do
    cd=$((signature + $(be32 "$slice" $((signature + 16 + 8 * i)))))
    i=$((i + 1))
    [ "$(be32 "$slice" "$cd")" = 4208856066 ] || continue   # 0xfade0c02
    directories=$((directories + 1))
    hashes=$((cd + $(be32 "$slice" $((cd + 16)))))
    slots=$(be32 "$slice" $((cd + 28)))
    limit=$(be32 "$slice" $((cd + 32)))
    [ "$(byte "$slice" $((cd + 36)))" = 32 ] && [ "$(byte "$slice" $((cd + 37)))" = 2 ] ||
      fail "the code directory does not hash with SHA-256"
    page=$((1 << $(byte "$slice" $((cd + 39)))))
    [ "$slots" -eq $(((limit + page - 1) / page)) ] && [ "$limit" -le "$signature" ] ||
      fail "the code signature does not cover the module"
    n=0
    while [ "$n" -lt "$slots" ]; do
      length=$((limit - n * page < page ? limit - n * page : page))
      got=$(tail -c +$((n * page + 1)) "$slice" | head -c "$length" | sha256sum | cut -d' ' -f1)
      recorded=$(od -An -tx1 -v -j $((hashes + 32 * n)) -N 32 "$slice" | tr -d ' \n')
      [ "$got" = "$recorded" ] || fail "page $n does not match the code signature"
      n=$((n + 1))
    done
  done
  [ "$directories" -gt 0 ] || fail "the code signature holds no code directory"
  signed=", $slots pages signed"
}

slices=$("$LIPO" -archs "$binary" | xargs)
[ -z "${SLICES:-}" ] || [ "$slices" = "$SLICES" ] ||
  fail "$binary holds [$slices], not [$SLICES]"
allowed=$(sed -n '/symbols:/,/]/p' "$stub" | tr -d '[],' | sed 's/symbols://' | xargs -n1 | sort)
summary=""
for arch in $slices; do
  slice="$scratch/$arch"
  if [ "$slices" = "$arch" ]; then
    cp "$binary" "$slice"
  else
    "$LIPO" -thin "$arch" -output "$slice" "$binary"
  fi
  headers=$("$OBJDUMP" --macho --private-headers "$slice")
  echo "$headers" | awk '$1 ~ /^MH_MAGIC/ { print $5; exit }' | grep -qx BUNDLE ||
    fail "the $arch slice is not a bundle"
  want=$(minimum "$arch")
  recorded=$(echo "$headers" |
    awk '/cmd LC_BUILD_VERSION|cmd LC_VERSION_MIN_MACOSX/ { found = 1 }
         found && ($1 == "minos" || $1 == "version") { print $2; exit }')
  [ "$recorded" = "$want" ] ||
    fail "the $arch slice records macOS '$recorded' as its minimum, not $want"

  exports=$("$OBJDUMP" --macho --exports-trie "$slice" | awk '/^0x/ { print $2 }' | sort | xargs)
  [ "$exports" = "_OfxGetNumberOfPlugins _OfxGetPlugin" ] ||
    fail "the $arch slice exports '$exports'"
  dylibs=$("$OBJDUMP" --macho --dylibs-used "$slice" | awk 'NR > 1 { print $1 }' | xargs)
  [ "$dylibs" = /usr/lib/libSystem.B.dylib ] ||
    fail "the $arch slice links '$dylibs'"
  binds=$("$OBJDUMP" --macho --bind --lazy-bind --weak-bind "$slice" |
    awk '$1 ~ /^__/ { print $NF }' | sort -u)
  extra=$(echo "$binds" | grep -vxF "$allowed" | xargs || true)
  [ -z "$extra" ] || fail "the $arch slice binds symbols the stub does not list: $extra"

  signed=""
  if [ "$arch" = arm64 ]; then
    check_signature "$slice"
  fi
  summary="$summary [$arch: macOS $want, binds $(echo "$binds" | xargs)$signed]"
done

plist="$(dirname "$binary")/../Info.plist"
[ -f "$plist" ] || fail "no Info.plist beside the module"
# The string after <key>$1</key>, or after the first such key below $2.
plist_string() {
  sed -n "${2:+/<key>$2<\/key>/,\$}p" "$plist" | grep -A1 "<key>$1</key>" |
    sed -n 's/.*<string>\(.*\)<\/string>.*/\1/p' | head -n1
}
for entry in "CFBundleExecutable|$(basename "$binary")" "CFBundlePackageType|BNDL" \
             "CFBundleIdentifier|com.Qvo.Vantorel.R108"; do
  key=${entry%%|*}
  [ "$(plist_string "$key")" = "${entry#*|}" ] ||
    fail "Info.plist does not give $key as ${entry#*|}"
done
plist_string CFBundleShortVersionString | grep -qx '[0-9]*\.[0-9]*\.[0-9]*' ||
  fail "Info.plist gives no three-part CFBundleShortVersionString"
for arch in $slices; do
  case $(plist_string "$arch" LSMinimumSystemVersionByArchitecture) in
    "$(minimum "$arch")"|"$(minimum "$arch")".*) ;;
    *) fail "Info.plist does not give macOS $(minimum "$arch") for $arch" ;;
  esac
done
echo "module ok: exports [$exports] links [$dylibs]$summary"
