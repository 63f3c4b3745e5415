#!/usr/bin/env bash
# The package step of set-up (scripts/setup.sh) and of the guest image
# (tests/vm/image.sh) against a mirror in the middle of a sync: a small
# repository made here (file: URIs, no network) whose security suite serves
# a truncated i386 index, as a mirror mid-sync does. apt runs with a
# throw-away state and only simulates (apt-get -s); nothing on this machine
# changes.
#   packages_test.sh
# The repository mirrors what happened: libssl3, built for both
# architectures, is newer in the security suite; wine32 (i386) and wine64
# (amd64) both need it through libwine.
set -u
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/.." && pwd)
command -v apt-get >/dev/null && command -v dpkg >/dev/null || { echo "SKIP: no apt here"; exit 77; }
work=$(mktemp -d "${TMPDIR:-/tmp}/kestrel-packages.XXXXXX")
trap "rm -rf \"\$work\"" EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# --- The repository: three suites, each with amd64 and i386 indexes.
stanza() { # NAME VERSION ARCH [DEPENDS]
    printf 'Package: %s\nVersion: %s\nArchitecture: %s\nMulti-Arch: same\n' "$1" "$2" "$3"
    [ -z "${4:-}" ] || printf 'Depends: %s\n' "$4"
    printf 'Filename: pool/%s_%s_%s.deb\nSize: 1000\nMaintainer: nobody\nDescription: %s\n\n' "$1" "$2" "$3" "$1"
}
index() { # SUITE ARCH: its Packages file on standard input
    mkdir -p "$work/mirror/dists/$1/main/binary-$2"
    cat >"$work/mirror/dists/$1/main/binary-$2/Packages"
}
for arch in amd64 i386; do
    { stanza libssl3 1.0 $arch; stanza libwine 8.0 $arch libssl3
      [ $arch = amd64 ] && stanza wine64 8.0 amd64 libwine
      [ $arch = i386 ] && stanza wine32 8.0 i386 libwine
      stanza tzdata 2024a $arch; } | index bookworm $arch
    stanza tzdata 2025b $arch | index bookworm-updates $arch
    stanza libssl3 1.2 $arch | index bookworm-security $arch
done
release() { # SUITE
    local dir=$work/mirror/dists/$1
    {
        printf 'Origin: Debian\nLabel: Debian\nSuite: %s\nCodename: %s\n' "$1" "$1"
        printf 'Date: %s\nArchitectures: amd64 i386\nComponents: main\nSHA256:\n' \
            "$(LC_ALL=C date -u '+%a, %d %b %Y %H:%M:%S UTC')"
        (cd "$dir" && for f in main/binary-*/Packages; do
            printf ' %s %s %s\n' "$(sha256sum <"$f" | cut -d' ' -f1)" "$(stat -c %s "$f")" "$f"
        done)
    } >"$dir/Release"
}
for s in bookworm bookworm-updates bookworm-security; do release $s; done

# --- A throw-away apt state: NAME ARCHITECTURES SUITE...
state() {
    local dir=$work/$1 archs=$2
    shift 2
    mkdir -p "$dir"/{lists/partial,cache/archives/partial,etc/preferences.d,dpkg}
    : >"$dir/dpkg/status"
    for s in "$@"; do echo "deb [trusted=yes] file:$work/mirror $s main"; done >"$dir/etc/sources.list"
    apt_opts=(-o "Dir::State=$dir" -o "Dir::State::Lists=$dir/lists"
              -o "Dir::State::status=$dir/dpkg/status" -o "Dir::Cache=$dir/cache"
              -o "Dir::Etc::SourceList=$dir/etc/sources.list" -o "Dir::Etc::SourceParts=/dev/null"
              -o "Dir::Etc::PreferencesParts=$dir/etc/preferences.d"
              -o "Dir::Etc::Preferences=/dev/null" -o "APT::Architectures=$archs"
              -o "APT::Architecture=amd64" -o "Debug::NoLocking=1" -o "APT::Sandbox::User=root"
              -o "Acquire::Retries::Delay=false")
    KP_APT=(apt-get "${apt_opts[@]}")
    KP_DPKG_STATUS=$dir/dpkg/status
    KP_LOG=$dir/apt.log
    KP_PREFS_FILE=$dir/etc/preferences
    KP_PREFS_OPTION=Dir::Etc::Preferences
    KP_PAUSE=0
}
truncate_index() { # SUITE ARCH
    local f=$work/mirror/dists/$1/main/binary-$2/Packages
    head -c $(($(stat -c %s "$f") - 40)) "$f" >"$f.cut" && mv "$f.cut" "$f"
}

. "$repo/scripts/setup.sh"

# --- The setup's step on the machine the issue was seen on: its apt had
# fetched the security suite for amd64 before i386 was added; now that
# suite's i386 index arrives truncated on every try.
state host amd64 bookworm bookworm-updates bookworm-security
"${KP_APT[@]}" update >"$work/first-update.log" 2>&1 || fail "the first update (amd64 only) failed"
truncate_index bookworm-security i386
state host amd64,i386 bookworm bookworm-updates bookworm-security
# Without a plan apt mixes the suites' states and gives up, as it did.
"${KP_APT[@]}" update >/dev/null 2>&1
"${KP_APT[@]}" -s install wine64 wine32:i386 >"$work/unplanned.log" 2>&1 &&
    fail "apt without a plan installed both architectures: the repository does not reproduce the fault"
KP_WHO=setup
# Not in a subshell: the plan it leaves is what is simulated next.
setup_package_step wine64 wine32:i386 >"$work/step.log" 2>&1 || fail "setup's package step failed"
out=$(cat "$work/step.log")
# A file: source reports the truncated index as a hash mismatch, the mirror
# by its size.
grep -qE "index bookworm-security main i386 did not arrive after 3 tries \((File has unexpected size|Hash Sum mismatch)" <<<"$out" ||
    fail "setup did not name the failed index and why: $out"
grep -q "installing from bookworm, bookworm-updates only, bookworm-security pinned out" <<<"$out" ||
    fail "setup did not say what it did about it: $out"
[ "$(grep -c . <<<"$out")" = 1 ] || fail "setup said more than one line: $out"
plan=$(kp_simulate wine64 wine32:i386 2>&1) || fail "the plan's simulation failed: $plan"
grep -q '^Inst libssl3 (1.0 ' <<<"$plan" && grep -q '^Inst libssl3:i386 (1.0 ' <<<"$plan" ||
    fail "the plan does not install libssl3 1.0 for both architectures: $plan"
[ -z "$(kp_mixed_versions <<<"$plan")" ] || fail "the plan mixes versions: $(kp_mixed_versions <<<"$plan")"

# The mixing check itself: libssl3 1.2 installed for amd64 and 1.0 about to
# come for i386 is what the plan must never choose.
echo "Package: libssl3
Status: install ok installed
Architecture: amd64
Multi-Arch: same
Version: 1.2
" >"$work/host/dpkg/status"
mixed=$(echo "Inst libssl3:i386 (1.0 Debian:12/oldstable [i386])" | kp_mixed_versions)
[ "$mixed" = "libssl3 (amd64 1.2, i386 1.0)" ] || fail "the mixing check missed libssl3: '$mixed'"
# With that newer amd64 package installed, no consistent plan exists for
# i386: set-up stops and says what and why.
out=$(setup_package_step wine64 wine32:i386 2>&1) && fail "setup's step went on with libssl3 1.2 installed"
grep -q "step 'install' cannot install wine64 wine32:i386" <<<"$out" &&
    grep -q "wait until the mirror's sync is over" <<<"$out" ||
    fail "the failure does not name the step, the packages and what to do: $out"
: >"$work/host/dpkg/status"

# A kernel without 32-bit programs needs no i386 package: every suite, the
# security one included, is used for amd64.
setup_package_step wine64 >"$work/step.log" 2>&1 || fail "setup's step for amd64 only failed"
out=$(cat "$work/step.log")
grep -q "no i386 package is needed here, so every suite is used" <<<"$out" ||
    fail "setup did not say it used every suite: $out"
grep -q '^Inst libssl3 (1.2 ' <<<"$(kp_simulate wine64)" ||
    fail "amd64 did not get the security suite's libssl3"

# --- The image's step: the release and its updates from this machine's
# sources, here with the updates' i386 index truncated too.
truncate_index bookworm-updates i386
(
    . "$repo/tests/vm/image.sh"
    packages=(wine64 tzdata)
    mapfile -t sources < <("${KP_APT[@]/#apt-get/apt-cache}" policy | image_sources)
    [ "${sources[*]}" = "file:$work/mirror bookworm file:$work/mirror bookworm-updates" ] ||
        fail "the image's sources are not the release and its updates: ${sources[*]}"
    state guest amd64,i386
    for line in "${sources[@]}"; do echo "deb [trusted=yes] $line main"; done \
        >"$work/guest/etc/sources.list"
    KP_WHO=image.sh
    KP_PREFS_FILE=$work/guest/etc/preferences.d/kestrel-plan
    KP_PREFS_OPTION=""
    image_package_step >"$work/step.log" 2>&1 || fail "the image's package step failed"
    out=$(cat "$work/step.log")
    grep -q "index bookworm-updates main i386 did not arrive" <<<"$out" &&
        grep -q "installing from bookworm only, bookworm-updates pinned out" <<<"$out" ||
        fail "the image's step did not say what it did: $out"
    plan=$(kp_simulate wine64 tzdata wine32:i386 2>&1) || fail "the image's plan failed: $plan"
    grep -q '^Inst tzdata (2024a ' <<<"$plan" || fail "the image took tzdata from the pinned-out suite"
    [ -z "$(kp_mixed_versions <<<"$plan")" ] || fail "the image's plan mixes versions"
    exit $failures
)
failures=$((failures + $?))

[ $failures = 0 ] && echo "package steps: all checks passed"
[ $failures = 0 ]
