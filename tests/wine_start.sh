#!/bin/sh
# Prepares Wine for the Windows tests: wine_start.sh <wineserver> <wine>. Makes
# the prefix (WINEPREFIX) once and keeps one server running, its output away
# from CTest's pipe, so that no test's limits reach a server it would start.
set -e
mkdir -p "$WINEPREFIX"
"$1" -k 2>/dev/null || true  # a server left from an interrupted run
"$1" -p >/dev/null 2>&1
"$2" wineboot --init >/dev/null 2>&1
