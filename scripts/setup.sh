#!/usr/bin/env bash
# Installs what the build and the tests need on a fresh Debian machine.
#   setup.sh [test|demo]
# test (the default): everything `make test` uses; demo: only what the demo
# builds with. Idempotent: only missing packages are installed, and nothing
# is fetched when none is missing. The package indexes are fetched with
# retries; while the mirror is in the middle of a sync, the plan of
# scripts/packages.sh decides which suites to install from and says so in
# one line. Sourced (by the package step's test), it only defines its
# functions.
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
. "$here/packages.sh"

demo_packages=(cmake make g++ ninja-build)
test_packages=("${demo_packages[@]}" googletest libgtest-dev libbenchmark-dev
               clang clang-format libclang-rt-14-dev valgrind python3
               g++-mingw-w64-i686-posix binutils-mingw-w64-i686
               g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
               wine wine64 xvfb xauth imagemagick x11-utils xdotool
               qemu-system-x86 debootstrap e2fsprogs)
# Only where this kernel runs 32-bit programs: elsewhere the 32-bit tests run
# in the emulated machine (tests/vm), which brings its own.
i386_packages=(wine32:i386)

say() { echo "setup: $*" >&2; }

# Whether this kernel starts a 32-bit x86 program: a 93-byte one that only
# exits, written here, so that the answer needs nothing installed.
# KESTREL_KERNEL_RUNS_32BIT=yes|no answers instead (for tests).
kernel_runs_32bit() {
    case ${KESTREL_KERNEL_RUNS_32BIT:-} in yes) return 0 ;; no) return 1 ;; esac
    local probe status
    probe=$(mktemp "${TMPDIR:-/tmp}/kestrel-elf32.XXXXXX")
    # ELF header: 32-bit, little-endian, executable for i386, entry 0x08048054,
    # one program header at 52; the header loads the file at 0x08048000; the
    # code at 84: mov eax, 1 (exit); xor ebx, ebx; int 0x80.
    printf '\177ELF\1\1\1\0\0\0\0\0\0\0\0\0\2\0\3\0\1\0\0\0\124\200\4\010\064\0\0\0\0\0\0\0\0\0\0\0\064\0\040\0\1\0\0\0\0\0\0\0''\1\0\0\0\0\0\0\0\0\200\4\010\0\200\4\010\135\0\0\0\135\0\0\0\5\0\0\0\0\020\0\0''\270\1\0\0\0\061\333\315\200' >"$probe"
    chmod 700 "$probe"
    "$probe" 2>/dev/null && status=0 || status=1
    rm -f "$probe"
    return $status
}

# The package step for PACKAGE... on the apt of KP_APT: the indexes, the
# plan, and a simulation of the install under it. The plan's pins go with
# this run only: apt reads them from a throw-away copy of the machine's
# preferences file (KP_PREFS_FILE, through KP_PREFS_OPTION).
setup_package_step() {
    kp_update "$@" || return 1
    kp_plan "$@" || return 1
    # The machine's own preferences file, which the option replaces, first.
    local own=""
    eval "$(apt-config shell own Dir::Etc::Preferences/f)"
    if [ ${#kp_pinned[@]} -gt 0 ] && [ -f "$own" ]; then
        { cat "$own"; echo; cat "$KP_PREFS_FILE"; } >"$KP_PREFS_FILE.merged" &&
            mv "$KP_PREFS_FILE.merged" "$KP_PREFS_FILE"
    fi
    [ -z "$kp_note" ] || say "$kp_note"
    kp_simulate "$@" >/dev/null
}

[[ ${BASH_SOURCE[0]} == "$0" ]] || return 0
set -euo pipefail
profile=${1:-test}
case $profile in
demo) packages=("${demo_packages[@]}") ;;
test) packages=("${test_packages[@]}") ;;
*) say "unknown profile $profile (test or demo)"; exit 2 ;;
esac

runs_32bit=no
kernel_runs_32bit && runs_32bit=yes
if [ "$profile" = test ]; then
    if [ $runs_32bit = yes ]; then
        packages+=("${i386_packages[@]}")
        if ! dpkg --print-foreign-architectures | grep -qx i386; then
            say "adding the i386 architecture (for ${i386_packages[*]})"
            dpkg --add-architecture i386 ||
                { say "step 'dpkg --add-architecture i386' failed: run set-up as root"; exit 1; }
        fi
    fi
fi

have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }
need=()
for p in "${packages[@]}"; do have "$p" || need+=("$p"); done
[ ${#need[@]} -gt 0 ] || exit 0
if [ "$profile" = test ] && [ $runs_32bit = no ]; then
    say "this kernel does not run 32-bit programs: ${i386_packages[*]} left out (the 32-bit tests run in the emulated machine)"
fi
[ "$(id -u)" = 0 ] || { say "installing ${need[*]} needs root: run it as root (or install them by hand)"; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/kestrel-setup.XXXXXX")
trap 'rm -rf "$work"' EXIT
export DEBIAN_FRONTEND=noninteractive
# apt's messages in English: the plan reads which index failed from them.
KP_APT=(env LC_ALL=C apt-get -q)
KP_LOG=$work/apt.log
KP_WHO=setup
KP_PREFS_FILE=$work/preferences
KP_PREFS_OPTION=Dir::Etc::Preferences

say "installing ${need[*]}"
setup_package_step "${need[@]}" || exit 1
if ! kp_apt_planned install -y -q --no-install-recommends "${need[@]}" >"$KP_LOG" 2>&1; then
    tail -n 15 "$KP_LOG" >&2
    say "step 'install' failed for ${need[*]} (apt's last lines above); run 'apt-get install --no-install-recommends ${need[*]}' to see why, mend it and run it again"
    exit 1
fi
