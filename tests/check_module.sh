#!/bin/sh
# Checks the built bundle the way a host installer would see it: the layout,
# the icon, the two exported functions and nothing else, no C++ runtime
# among the module's shared-library dependencies, and no allocator.
# The object tools are the target's own, from NM, READELF and OBJDUMP (by
# default the build machine's); a Win64 module is a PE file, checked by
# check_module_win64.sh, and a macOS module a Mach-O file, checked by
# check_module_macos.sh.
set -eu
bundle=$1
arch=$2
binary="$bundle/Contents/$arch/QvoVantorel.ofx"
NM=${NM:-nm}
READELF=${READELF:-readelf}
fail() { echo "FAIL: $*"; exit 1; }

[ -f "$binary" ] || fail "no module at $binary"
for icon in svg png; do
  [ -s "$bundle/Contents/Resources/com.Qvo.Vantorel.R108.$icon" ] ||
    fail "missing icon com.Qvo.Vantorel.R108.$icon"
done
case $arch in
  Win64) exec "$(dirname "$0")/check_module_win64.sh" "$binary" ;;
  MacOS) exec "$(dirname "$0")/check_module_macos.sh" "$binary" ;;
esac

exports=$("$NM" -D --defined-only "$binary" | awk '{print $3}' | sort | tr '\n' ' ')
[ "$exports" = "OfxGetNumberOfPlugins OfxGetPlugin " ] ||
  fail "exports are '$exports'"

needed=$("$READELF" -d "$binary" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | tr '\n' ' ')
for lib in $needed; do
  case $lib in
    libc.so.*|libm.so.*|ld-linux*) ;;
    *) fail "unexpected dependency $lib (all: $needed)" ;;
  esac
done

# __cxa_finalize belongs to the C library; the rest would be the C++ runtime.
if "$READELF" -Ws --dyn-syms "$binary" | grep -v '__cxa_finalize' |
  grep -q -e '__cxa_' -e '__gxx_personality' -e '_Znw' -e '_ZdlPv' -e '_ZNSt'; then
  fail "the module refers to the C++ runtime"
fi
# Rendering allocates nothing: the module does not even import an allocator.
allocators=$("$NM" -D --undefined-only "$binary" | awk '{print $2}' | sed 's/@.*//' |
  grep -x -E 'malloc|calloc|realloc|reallocarray|free|aligned_alloc|posix_memalign|memalign|valloc|pvalloc|strdup|strndup|mmap|mmap64|sbrk|brk' |
  tr '\n' ' ' || true)
[ -z "$allocators" ] || fail "the module imports allocators: $allocators"
echo "module ok: exports [$exports] needs [$needed]"
