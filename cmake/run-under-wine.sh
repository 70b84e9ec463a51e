#!/bin/sh
# Runs a Windows program under Wine for ctest and test discovery:
#   run-under-wine.sh WINE WINESERVER PROGRAM [ARGUMENT]...
# with WINEPREFIX and the other Wine settings in the environment. The Wine
# server is started first so that it stays a minute after its last program
# ends: by default it leaves after three seconds, and a test starting just
# then loses its connection.
set -eu
wine=$1
WINESERVER=$2
export WINESERVER
shift 2
"$WINESERVER" --persistent=60 2>/dev/null || true
exec "$wine" "$@"
