#!/bin/sh
# Prepares Wine for the Windows tests: wine_start.sh <wineserver> <wine>
# Creates the prefix (WINEPREFIX) once, which takes seconds, and keeps one
# server running so that no test's limits are inherited by a server it starts.
# Output goes elsewhere: the server's children would hold CTest's pipe open.
set -e
mkdir -p "$WINEPREFIX"
"$1" -k 2>/dev/null || true  # a server left from an interrupted run
"$1" -p >/dev/null 2>&1
"$2" wineboot --init >/dev/null 2>&1
