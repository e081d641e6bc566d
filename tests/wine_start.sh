#!/bin/sh
# wine_start.sh <wineserver> <wine>: makes the prefix (WINEPREFIX) and TMPDIR, and keeps one
# server running, away from CTest's pipe, so no test's limits reach a server.
"$1" -k 2>/dev/null  # a server left from an interrupted run
mkdir -p "$WINEPREFIX" "$TMPDIR" && "$1" -p >/dev/null 2>&1 && exec "$2" wineboot --init >/dev/null 2>&1
