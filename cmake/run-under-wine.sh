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
# A new server starts Wine's own background programs for the session with
# the first program; they are started here with their output closed, one
# caller at a time, since whoever reads a program's output waits until
# every process holding it has ended.
(
  flock 9
  if "$WINESERVER" --persistent=60 </dev/null >/dev/null 2>&1; then
    "$wine" wineboot </dev/null >/dev/null 2>&1 || true
  fi
) 9>"$WINEPREFIX.lock"
exec "$wine" "$@"
