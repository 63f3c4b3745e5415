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
"$@"
status=$?
wineserver -k >/dev/null 2>&1
wineserver -w >/dev/null 2>&1
exit $status
