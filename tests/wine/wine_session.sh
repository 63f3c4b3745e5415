#!/usr/bin/env bash
# Runs one Wine test in a session of its own: one X display for every
# program it starts, and a Wine server that ends with it, so that the next
# test's programs do not find a server (and a desktop) made for another
# display, or none.
#   wine_session.sh COMMAND...
# KESTREL_WINEPREFIX, where set, names a ready prefix to use instead of the
# build's own (the emulated test machine has one made in advance).
set -u
[ -n "${KESTREL_WINEPREFIX:-}" ] && export WINEPREFIX=$KESTREL_WINEPREFIX
if [ -z "${DISPLAY:-}" ] && command -v xvfb-run >/dev/null; then
    exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$@"
fi
# One Windows process kept waiting on its input for the whole test keeps the
# session's Wine server and services up, so that each program the test starts
# takes well under a second instead of several (far more under emulation).
# A first program started before the test's brings the services up with no
# output of the test's to hold open: a test that reads a program's output to
# its end would otherwise wait for them. Not while the prefix is still to be
# made: two first starts would race.
if [ -f "${WINEPREFIX:-$HOME/.wine}/system.reg" ] && command -v wine >/dev/null; then
    coproc keeper { exec wine cmd.exe >/dev/null 2>&1; }
    timeout 300 wine cmd.exe /c exit </dev/null >/dev/null 2>&1
fi
"$@"
status=$?
wineserver -k >/dev/null 2>&1
wineserver -w >/dev/null 2>&1
exit $status
