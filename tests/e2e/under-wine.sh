#!/usr/bin/env bash
# Runs the end-to-end tests of the Linux-built test binary against a
# Windows build of dattool under wine64:
#   tests/e2e/under-wine.sh build/tests/dattool_tests build-x86_64/dattool.exe
# Further arguments go to the test binary. Unit tests are left out: they
# test the Linux library, not the program. WINE names another loader, such
# as /usr/lib/wine/wine for the 32-bit build where the machine runs 32-bit code.
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
# minute after its last client keeps each run of the program cheap.
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
/usr/lib/wine/wineserver -p60 || true

# The end-to-end suites are those of the test files that run the program.
here=$(cd "$(dirname "$0")/.." && pwd)
suites=$(grep -rl --include='*_test.cpp' 'runTool(' "$here" |
  xargs sed -n 's/^ *TEST\(_F\|_P\)\? *( *\([A-Za-z0-9_]*\) *,.*/\2/p' | sort -u)
if [ -z "$suites" ]; then
  echo "no end-to-end suites found" >&2
  exit 1
fi
filter=""
for s in $suites; do filter+="$s.*:*/$s.*:"; done

DATTOOL_EXE=$exe DATTOOL_WRAPPER=$wine "$tests" --gtest_filter="${filter%:}" "$@"
