#!/usr/bin/env bash
# Runs the 32-bit product's Windows runtime tests (CTest label wine-runtime
# of the win32 build) inside the emulated guest (image.sh, run.sh), whose
# kernel runs 32-bit code whatever this machine's does: all in one boot, on
# the same build tree, shared into the guest at its own path.
#   win32_tests.sh [BUILD_DIR]          (default build/win32)
# KESTREL_WIN32_GUEST chooses: always (the default) runs the guest in any
# case; auto runs it only where this kernel cannot run 32-bit programs, as
# the tests have otherwise run natively in the win32 build's own test stage;
# never does not run it.
set -u
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)
build=$(realpath -m "${1:-$repo/build/win32}")
mode=${KESTREL_WIN32_GUEST:-always}
say() { echo "win32 guest: $*"; }
loud() {
    echo "****************************************************************"
    echo "win32 guest: SKIPPED: $*"
    echo "****************************************************************"
}

[ -f "$build/CTestTestfile.cmake" ] || { say "no win32 build at $build"; exit 1; }
case $mode in
never)
    loud "KESTREL_WIN32_GUEST=never: the 32-bit runtime tests ran only if this kernel runs 32-bit code"
    exit 0 ;;
auto)
    # The 32-bit Wine loader is what the tests start first.
    if /usr/lib/wine/wine --version >/dev/null 2>&1; then
        say "KESTREL_WIN32_GUEST=auto and this kernel runs 32-bit programs: the win32 runtime tests ran natively in the win32 test stage"
        exit 0
    fi ;;
always) ;;
*) say "KESTREL_WIN32_GUEST must be auto, always or never, not $mode"; exit 1 ;;
esac
if ! command -v qemu-system-x86_64 >/dev/null; then
    loud "this kernel cannot run 32-bit programs and no emulator is installed (make setup installs qemu-system-x86)"
    exit 0
fi

start=$SECONDS
image=$(bash "$here/image.sh") || { say "the guest image could not be made"; exit 1; }
say "image $image ready after $((SECONDS - start)) s"

shares=(--share "$repo")
case $build/ in "$repo"/*) ;; *) shares+=(--share "$build") ;; esac
started=$SECONDS
# A test that runs out of time is run once more: under emulation on a busy
# machine a Wine start can stall (one in a few dozen), and a rerun on a fresh
# Wine session tells that from a hang of the plug-in, which hangs again.
bash "$here/run.sh" --image "$image" "${shares[@]}" --cwd "$build" --timeout 2400 -- \
    ctest --test-dir "$build" -L wine-runtime --output-on-failure --timeout 900 \
    --repeat after-timeout:2
status=$?
say "guest run took $((SECONDS - started)) s, status $status"
exit $status
