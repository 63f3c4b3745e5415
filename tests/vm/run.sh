#!/usr/bin/env bash
# Boots the test guest, runs one command in it and returns its exit status.
#   run.sh [--image DIR] [--timeout SECONDS] [--share PATH]... [--cwd PATH]
#          [--writable] [--memory MB] -- COMMAND [ARG]...
# Each shared folder appears in the guest at the same absolute path as here,
# so build trees and their test files work there unchanged. The command runs
# as root under bash with its output on this script's standard output.
# The guest's disk is thrown away after the run unless --writable (used
# while the image is made). The emulator is killed when the time limit runs
# out, when this script is interrupted or ends, and when its parent dies.
# Exit status: the command's; 124 when the time limit ran out; 125 when the
# guest ended without reporting a status or could not be started.
set -u
here=$(cd "$(dirname "$0")" && pwd)

image=""
limit=1800
cwd=/
writable=0
memory=3072
shares=()
while [ $# -gt 0 ]; do
    case $1 in
    --image) image=$2; shift 2 ;;
    --timeout) limit=$2; shift 2 ;;
    --share) shares+=("$(realpath -e "$2")") || exit 125; shift 2 ;;
    --cwd) cwd=$2; shift 2 ;;
    --writable) writable=1; shift ;;
    --memory) memory=$2; shift 2 ;;
    --) shift; break ;;
    *) echo "run.sh: unknown option $1" >&2; exit 125 ;;
    esac
done
[ $# -gt 0 ] || { echo "usage: run.sh [options] -- COMMAND [ARG]..." >&2; exit 125; }
if [ -z "$image" ]; then
    image=$(bash "$here/image.sh" --path) || exit 125
fi
for f in disk.img vmlinuz initrd.img; do
    [ -f "$image/$f" ] || { echo "run.sh: no $f in $image (make it with tests/vm/image.sh)" >&2; exit 125; }
done
command -v qemu-system-x86_64 >/dev/null || { echo "run.sh: qemu-system-x86_64 is not installed" >&2; exit 125; }

control=$(mktemp -d "${TMPDIR:-/tmp}/kestrel-vm.XXXXXX") || exit 125
qemu_pid=""
watchdog_pid=""
cleanup() {
    [ -n "$watchdog_pid" ] && kill "$watchdog_pid" 2>/dev/null
    if [ -n "$qemu_pid" ] && kill -0 "$qemu_pid" 2>/dev/null; then
        kill -TERM "$qemu_pid" 2>/dev/null
        for _ in 1 2 3 4 5 6 7 8 9 10; do kill -0 "$qemu_pid" 2>/dev/null || break; sleep 0.5; done
        kill -KILL "$qemu_pid" 2>/dev/null
        wait "$qemu_pid" 2>/dev/null
    fi
    rm -rf "$control"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM HUP

# The job: the command, quoted for bash, and where the shared folders go.
printf '%q ' "$@" >"$control/command"
echo >>"$control/command"
# The guest's init is a POSIX shell: values are single-quoted for it (bash's
# %q writes $'...' for a value of several lines, which it does not read).
quoted() { printf "'%s'" "$(printf '%s' "$1" | sed "s/'/'\\\\''/g")"; }
{
    printf 'SHARES=%s\n' "$(quoted "$(for i in "${!shares[@]}"; do echo "share$i ${shares[$i]}"; done)")"
    # The page cache makes the shares behave as local files for mmap, which
    # Wine uses to load a program or library straight from its build tree;
    # nothing else writes to them while the guest runs.
    printf 'MOUNT_OPTIONS=%s\n' "$(quoted "trans=virtio,version=9p2000.L,msize=512000,cache=loose")"
    printf 'CWD=%s\n' "$(quoted "$cwd")"
} >"$control/job"

drive="file=$image/disk.img,format=raw,if=virtio,cache=unsafe"
if [ $writable = 1 ]; then
    drive+=",discard=unmap"
else
    drive+=",snapshot=on"
fi
args=(-nodefaults -no-user-config -display none -no-reboot
      -machine pc -accel tcg,thread=multi -cpu max,-smap -smp 2 -m "$memory"
      -kernel "$image/vmlinuz" -initrd "$image/initrd.img"
      -append "console=ttyS0 root=/dev/vda rw init=/usr/local/sbin/kestrel-init quiet loglevel=3 panic=1"
      -drive "$drive"
      -chardev stdio,id=console,signal=off -serial chardev:console
      -virtfs "local,path=$control,mount_tag=kestrel-control,security_model=none,id=kestrel-control")
for i in "${!shares[@]}"; do
    args+=(-virtfs "local,path=${shares[$i]},mount_tag=share$i,security_model=none,multidevs=remap,id=share$i")
done

# setpriv: the emulator dies with this script even if the script is killed
# outright.
start=$SECONDS
setpriv --pdeathsig KILL -- qemu-system-x86_64 "${args[@]}" </dev/null &
qemu_pid=$!
setpriv --pdeathsig KILL -- sleep "$limit" &
watchdog_pid=$!
finished=""
wait -n -p finished "$qemu_pid" "$watchdog_pid"
qemu_status=$?
if [ "$finished" = "$watchdog_pid" ]; then
    watchdog_pid=""
    echo "run.sh: time limit of $limit s reached, stopping the guest" >&2
    exit 124
fi
qemu_pid=""
elapsed=$((SECONDS - start))

if [ -f "$control/status" ]; then
    status=$(cat "$control/status")
    echo "run.sh: guest ran for ${elapsed} s, command status $status" >&2
    exit "$status"
fi
echo "run.sh: the guest ended after ${elapsed} s (emulator status $qemu_status) without reporting a status" >&2
exit 125
