#!/usr/bin/env bash
# Runs one stage of the build or the tests and says how long it took.
#   timed.sh NAME COMMAND...
start=$SECONDS
"${@:2}"
status=$?
echo "== $1: $((SECONDS - start)) s$([ $status = 0 ] || echo ", failed with status $status")"
exit $status
