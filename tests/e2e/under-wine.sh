#!/usr/bin/env bash
# Runs the end-to-end test program against a Windows build of dattool under
# wine:
#   tests/e2e/under-wine.sh build/tests/e2e_tests build-x86_64/dattool.exe
# Further arguments go to the test program. WINE names another loader, such
# as /usr/lib/wine/wine for the 32-bit build.
set -euo pipefail
tests=$1
exe=$2
shift 2
wine=${WINE:-/usr/lib/wine/wine64}
export WINEDEBUG=-all
# Without the debugger a crash ends the program with a failing status
# instead of a debugger session that may exit 0.
export WINEDLLOVERRIDES=winedbg.exe=d
export WINEPREFIX=${WINEPREFIX:-${HOME:-/root}/.wine}

# The prefix is made once (about ten seconds), always by the 64-bit loader:
# a prefix the 32-bit loader made first cannot run the 64-bit program, while
# one made by the 64-bit loader serves both. A server that stays up for a
# minute after its last client, and the services it keeps, make each run of
# the program cheap.
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  /usr/lib/wine/wine64 wineboot -i
  # The registry reaches the disk when the server exits.
  /usr/lib/wine/wineserver -w
fi
if [ "$wine" = /usr/lib/wine/wine64 ] && ! grep -qx '#arch=win64' "$WINEPREFIX/system.reg"; then
  echo "$WINEPREFIX was made by the 32-bit loader and cannot run 64-bit programs; name another WINEPREFIX" >&2
  exit 1
fi
# A server already running (exit status 1 here) serves as well.
/usr/lib/wine/wineserver -p60 </dev/null >/dev/null 2>&1 || true
# Wine's own services (services.exe, rpcss.exe and the rest) start with the
# first program and inherit its standard handles. Started here, with output
# going nowhere, they cannot keep a test's output pipe open for as long as
# they live, nor write their own messages into it.
/usr/lib/wine/wine64 cmd /c exit </dev/null >/dev/null 2>&1

DATTOOL_EXE=$exe DATTOOL_WRAPPER=$wine "$tests" "$@"
