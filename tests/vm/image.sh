#!/usr/bin/env bash
# Makes the disk image of the test guest, a Debian bookworm amd64 machine
# with 64- and 32-bit Wine, Xvfb, CTest and Python, and prints its folder.
#   image.sh          make it unless a ready one is in the cache; print its folder
#   image.sh --path   print the ready image's folder, or fail
# The image lives outside the work tree, in $KESTREL_VM_CACHE
# (/var/cache/kestrel-vm by default), in a folder named after the hash of
# this recipe (this script and the guest's files), so any change to the
# recipe makes a new one and later runs reuse it. Packages come from the
# mirror this machine's apt uses, from the release and its updates only (a
# guest without a network needs no security suite), through the package
# step of scripts/packages.sh, so that a suite in the middle of a sync is
# left out whole rather than seen at two states; the downloaded packages are
# kept in the cache for the next build. Needs root (debootstrap, chroot).
# Sourced (by the package step's test), it only defines its functions.
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo=$(cd "$here/../.." && pwd)
suite=bookworm
packages=(linux-image-amd64 initramfs-tools kmod iproute2 procps
          wine wine64 xvfb xauth x11-utils xdotool imagemagick cmake python3)
i386_packages=(wine32:i386)
. "$repo/scripts/packages.sh"

# The guest's sources, from `apt-cache policy` on standard input: "URI SUITE"
# for the release and its updates, as this machine's apt has them.
image_sources() {
    awk -v s="$suite" '$3 ~ "^" s "(-updates)?/main$" && $4 == "amd64" {
        sub("/main$", "", $3); print $2, $3 }' | sort -u
}

# The guest's package step, on the apt of KP_APT whose sources are
# image_sources': the indexes, the plan, and a simulation of the whole
# install (both architectures) under it.
image_package_step() {
    kp_update "${packages[@]}" "${i386_packages[@]}" || return 1
    kp_plan "${packages[@]}" "${i386_packages[@]}" || return 1
    [ -z "$kp_note" ] || kp_say "$kp_note"
    kp_simulate "${packages[@]}" "${i386_packages[@]}" >/dev/null
}

[[ ${BASH_SOURCE[0]} == "$0" ]] || return 0
set -euo pipefail
cache=${KESTREL_VM_CACHE:-/var/cache/kestrel-vm}
# Everything that goes into the image: this script, the package step it
# shares with set-up, and the guest's own files.
recipe=$(cat "$here/image.sh" "$repo/scripts/packages.sh" "$here"/guest/* | sha256sum | cut -c1-16)
image=$cache/image-$recipe
ready() { [ -f "$image/ready" ]; }

if [ "${1:-}" = --path ]; then
    ready || { echo "image.sh: no guest image at $image; make it with tests/vm/image.sh" >&2; exit 1; }
    echo "$image"
    exit 0
fi
if ready; then
    touch "$image/ready"
    echo "$image"
    exit 0
fi

log() { echo "image.sh: $*" >&2; }
[ "$(id -u)" = 0 ] || { log "making the guest image needs root"; exit 1; }
for tool in debootstrap mkfs.ext4 qemu-system-x86_64 unshare; do
    command -v $tool >/dev/null || { log "$tool is not installed (make setup)"; exit 1; }
done

mkdir -p "$cache/debs"
exec 9>"$cache/lock"
flock 9
ready && { echo "$image"; exit 0; }
# Left by a build that was killed outright: under the lock no other is running.
rm -rf --one-file-system "$cache"/build.*

# The mirror and suites this machine's apt uses for bookworm: "URI SUITE" lines.
mapfile -t sources < <(apt-cache policy | image_sources)
main_uri=$(printf '%s\n' "${sources[@]}" | awk -v s="$suite" '$2 == s { print $1; exit }')
[ -n "$main_uri" ] || { log "this machine's apt has no $suite main amd64 source to take packages from"; exit 1; }

work=$(mktemp -d "$cache/build.XXXXXX")
trap 'rm -rf --one-file-system "$work"' EXIT
root=$work/root
t0=$SECONDS
step() { log "$1 ($((SECONDS - t0)) s so far)"; }

step "debootstrap $suite into $root"
# Everything that mounts runs in a mount namespace of its own, so that no
# mount outlives it on any path.
unshare --mount --propagation private -- \
    debootstrap --variant=minbase --arch=amd64 --cache-dir="$cache/debs" \
    "$suite" "$root" "$main_uri" >"$work/debootstrap.log" 2>&1 ||
    { tail -n 30 "$work/debootstrap.log" >&2
      log "step 'debootstrap $suite' from $main_uri failed (its last lines above); if the mirror is in the middle of a sync, run it again once that is over"
      exit 1; }

step "installing the packages"
for line in "${sources[@]}"; do
    read -r uri s <<<"$line"
    echo "deb $uri $s main"
done >"$root/etc/apt/sources.list"
cat >"$root/etc/dpkg/dpkg.cfg.d/kestrel-vm" <<'CFG'
path-exclude=/usr/share/doc/*
path-exclude=/usr/share/man/*
path-exclude=/usr/share/info/*
path-exclude=/usr/share/locale/*
path-exclude=/usr/share/lintian/*
CFG
printf '#!/bin/sh\nexit 101\n' >"$root/usr/sbin/policy-rc.d"
chmod 755 "$root/usr/sbin/policy-rc.d"
# A small initramfs that can mount the virtio disk; the rest comes from it.
mkdir -p "$root/etc/initramfs-tools/conf.d"
echo MODULES=list >"$root/etc/initramfs-tools/conf.d/kestrel-vm"
printf '%s\n' virtio_pci virtio_blk ext4 crc32c_generic >>"$root/etc/initramfs-tools/modules"
cp /etc/resolv.conf "$root/etc/resolv.conf"
find "$cache/debs" -name '*.deb' -exec cp -l -t "$root/var/cache/apt/archives/" {} + 2>/dev/null || true
in_root() {
    unshare --mount --propagation private -- sh -c '
        mount -t proc proc "$0/proc" && exec chroot "$0" /usr/bin/env -i \
            PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 \
            DEBIAN_FRONTEND=noninteractive "$@"' "$root" "$@"
}
in_root dpkg --add-architecture i386
KP_APT=(in_root apt-get -q)
KP_LOG=$work/apt-plan.log
KP_WHO=image.sh
# The chroot's apt reads the plan's pins from its own preferences.d; they go
# with the rest of apt's files below.
KP_PREFS_FILE=$root/etc/apt/preferences.d/kestrel-plan
KP_PREFS_OPTION=""
KP_DPKG_STATUS=$root/var/lib/dpkg/status
image_package_step || { log "step 'packages' failed (see above; apt's output: $KP_LOG)"; exit 1; }
{
    in_root apt-get dist-upgrade -y -q &&
        in_root apt-get install -y -q --no-install-recommends "${packages[@]}" &&
        in_root apt-get install -y -q --no-install-recommends --download-only "${i386_packages[@]}"
} >"$work/apt.log" 2>&1 ||
    { tail -n 30 "$work/apt.log" >&2
      log "step 'install' failed for ${packages[*]} ${i386_packages[*]} (apt's last lines above)"
      exit 1; }
# The i386 packages are only unpacked here: their scripts run i386 programs,
# which a kernel without 32-bit support cannot start. They are configured
# here where that works, and in any case by the guest at its first boot
# (guest/bake).
mapfile -t debs < <(in_root apt-get -s install --no-install-recommends "${i386_packages[@]}" |
    awk '$1 == "Inst" { name = $2; sub(":.*", "", name)
                        for (i = 3; i <= NF; i++) {
                            if ($i ~ /^\(/) version = substr($i, 2)
                            if ($i ~ /^\[[^]]+\]\)$/) { arch = $i; gsub("[][()]", "", arch) }
                        }
                        gsub(":", "%3a", version); print name "_" version "_" arch ".deb" }')
files=()
for deb in "${debs[@]}"; do
    [ -f "$root/var/cache/apt/archives/$deb" ] || { log "no downloaded package $deb"; exit 1; }
    files+=("/var/cache/apt/archives/$deb")
done
in_root dpkg --unpack --force-depends "${files[@]}" >>"$work/apt.log" 2>&1 ||
    { tail -n 30 "$work/apt.log" >&2; log "unpacking the i386 packages failed"; exit 1; }
in_root dpkg --configure -a >>"$work/apt.log" 2>&1 ||
    log "some i386 packages are left for the guest to configure"
cp -l -n "$root"/var/cache/apt/archives/*.deb "$cache/debs/" 2>/dev/null || true

step "installing the guest's own files"
install -m 755 "$here/guest/init" "$root/usr/local/sbin/kestrel-init"
install -m 755 "$here/guest/bake" "$root/usr/local/sbin/kestrel-bake"
echo kestrel-vm >"$root/etc/hostname"
printf '127.0.0.1\tlocalhost kestrel-vm\n::1\tlocalhost\n' >"$root/etc/hosts"
# Nothing in the image names the mirror: apt's sources, lists, logs and examples go.
rm -f "$root/etc/resolv.conf" "$root/usr/sbin/policy-rc.d" "$root/etc/apt/sources.list" \
    "$KP_PREFS_FILE"
rm -rf "$root"/var/lib/apt/lists/* "$root"/var/cache/apt/* "$root"/var/log/* \
    "$root"/usr/share/doc "$root"/debootstrap
mirror_host=$(sed -E 's|^[a-z]+://([^/]+).*|\1|' <<<"$main_uri")
if left=$(grep -rlsI --exclude-dir=proc -F "$mirror_host" "$root/etc" "$root/var" "$root/root"); then
    log "these files in the image name the mirror: $left"
    exit 1
fi

step "making the disk"
mkdir -p "$work/image"
cp "$(readlink -f "$root/vmlinuz")" "$work/image/vmlinuz"
cp "$(readlink -f "$root/initrd.img")" "$work/image/initrd.img"
# Room for the Wine prefix (over a gigabyte before its duplicates are linked) and the tests.
size_mb=$(( $(du -sxm "$root" | cut -f1) + 4096 ))
mkfs.ext4 -q -F -L kestrel-root -E root_owner=0:0 -d "$root" "$work/image/disk.img" "${size_mb}M" >&2
rm -rf --one-file-system "$root"

step "first boot: package scripts, Wine prefix"
bash "$here/run.sh" --image "$work/image" --writable --timeout 1800 -- /usr/local/sbin/kestrel-bake >&2 ||
    { log "the guest's first boot failed"; exit 1; }

# Images of other recipes go once no checkout has used them for a day.
find "$cache" -maxdepth 2 -path "$cache/image-*/ready" -mmin +1440 -printf '%h\0' |
    xargs -0 -r rm -rf --one-file-system
mv "$work/image" "$image"
touch "$image/ready"
step "image ready at $image ($(du -sh "$image" | cut -f1))"
echo "$image"
