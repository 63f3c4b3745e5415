# The package step that scripts/setup.sh (this machine) and tests/vm/image.sh
# (the guest's disk) share: fetch the package indexes, and install packages
# of two architectures so that a package built for both (Multi-Arch: same)
# never comes at two versions, even while the mirror is in the middle of a
# sync. Sourced, not run. The caller sets:
#   KP_APT          the apt-get command, as an array (with the options of a
#                   throw-away state, or run in a chroot)
#   KP_PREFS_FILE   where the plan's pins are written, as this script sees it
#   KP_PREFS_OPTION the apt option that makes apt read them ("" when apt
#                   reads that file anyway)
#   KP_LOG          a file for apt's output
#   KP_WHO          the name messages start with
# A mirror in the middle of a sync serves an index that does not match its
# release file ("File has unexpected size ... Mirror sync in progress?");
# apt then keeps that suite's old indexes, or none, and the two architectures
# can see one suite at different states: e.g. libssl3 newer for amd64 (an old
# index) than for i386 (none). The plan pins such a suite out for every
# architecture, so every package comes from the suites whose indexes all
# arrived, at one state.

KP_ATTEMPTS=${KP_ATTEMPTS:-3}
KP_PAUSE=${KP_PAUSE:-10}
kp_failed=()   # "SUITE COMPONENT ARCH" of each index that did not arrive ("SUITE - -": the suite)
kp_pinned=()   # suites pinned out
kp_note=""     # the one line that says what was done about them

kp_say() { echo "$KP_WHO: $*" >&2; }

# apt-get update for installing PACKAGE..., retrying each download
# (Acquire::Retries) and, while an index that matters still fails, the whole
# update after a pause (a sync takes minutes). Fills kp_failed; fails only
# when apt failed without naming an index.
kp_update() {
    local attempt status
    for ((attempt = 1; attempt <= KP_ATTEMPTS; attempt++)); do
        "${KP_APT[@]}" -o Acquire::Retries=3 update >"$KP_LOG" 2>&1
        status=$?
        # A suite that cannot be reached at all is only a warning to apt.
        mapfile -t kp_failed < <(kp_failed_indexes <"$KP_LOG")
        [ ${#kp_failed[@]} -gt 0 ] && ! kp_failures_unneeded "$@" || break
        [ $attempt = "$KP_ATTEMPTS" ] || sleep "$KP_PAUSE"
    done
    if [ $status != 0 ] && [ ${#kp_failed[@]} = 0 ]; then
        kp_say "step 'apt-get update' failed and named no index: $(grep -m1 '^E:' "$KP_LOG")"
        kp_say "check this machine's network and apt sources (apt-get update shows the details), then run it again"
        return 1
    fi
}

# The indexes apt's update output says it could not fetch, one line each:
# "SUITE COMPONENT ARCH", or "SUITE - -" for a suite's release file.
kp_failed_indexes() {
    sed -nE 's#^[EW]: Failed to fetch [^ ]*/dists/([^/ ]+)/(.*)$#\1 \2#p' | while read -r suite rest; do
        case $rest in
        *InRelease* | Release*) echo "$suite - -" ;;
        *) component=${rest%%/*}
           arch=$(sed -nE 's#.*/binary-([a-z0-9]+)/.*#\1#p' <<<"$rest")
           echo "$suite $component ${arch:--}" ;;
        esac
    done | sort -u
}

# Whether every index in kp_failed is an i386 one and no PACKAGE is for i386.
kp_failures_unneeded() {
    local p line
    for p in "$@"; do [[ $p != *:i386 ]] || return 1; done
    for line in "${kp_failed[@]}"; do [[ $line == *" i386" ]] || return 1; done
}

# The plan for installing PACKAGE... (names with :i386 for the other
# architecture): after kp_update, pins out every suite one of whose indexes
# failed, unless all of them are i386 indexes and no i386 package is wanted
# (the amd64 packages then come from every suite, security updates
# included). Sets kp_note and writes the pins; fails, saying why and what to
# do, if the packages cannot then be installed at consistent versions.
kp_plan() {
    kp_pinned=()
    kp_note=""
    : >"$KP_PREFS_FILE"
    [ ${#kp_failed[@]} = 0 ] && return 0
    local failed_list
    failed_list=$(printf '%s\n' "${kp_failed[@]}" | sed -E 's/ - -$/ (release file)/' | paste -sd, - |
        sed 's/,/, /g')
    local why
    why=$(grep -m1 -oE '(File has unexpected size|Hash Sum mismatch|Mirror sync in progress|Could not (connect|resolve)|Temporary failure)[^[]*' "$KP_LOG" |
        sed -E 's/ +$//')
    local advice="wait until the mirror's sync is over (usually within the hour) and run it again"
    [[ ! $why =~ ^(Could|Temporary) ]] || advice="check this machine's network and apt sources, then run it again"
    if kp_failures_unneeded "$@"; then
        kp_note="index $failed_list did not arrive (${why:-see apt-get update}); no i386 package is needed here, so every suite is used"
        return 0
    fi
    mapfile -t kp_pinned < <(printf '%s\n' "${kp_failed[@]}" | cut -d' ' -f1 | sort -u)
    local kept
    kept=$("${KP_APT[@]}" indextargets --format '$(RELEASE)' 'Created-By: Packages' 2>/dev/null |
        sort -u | grep -vxF -f <(printf '%s\n' "${kp_pinned[@]}") | paste -sd' ' -)
    if [ -z "$kept" ]; then
        kp_say "step 'apt-get update': index $failed_list did not arrive (${why:-see $KP_LOG}) and no other suite is left to install from"
        kp_say "$advice"
        return 1
    fi
    # By code name and by archive name: a source may call the suite either.
    for suite in "${kp_pinned[@]}"; do
        printf 'Package: *\nPin: release %s=%s\nPin-Priority: -1\n\n' n "$suite" a "$suite"
    done >>"$KP_PREFS_FILE"
    kp_note="index $failed_list did not arrive after $KP_ATTEMPTS tries (${why:-see apt-get update}); installing from ${kept// /, } only, ${kp_pinned[*]} pinned out for every architecture so that none is seen at two states"
}

# apt-get with the plan's pins.
kp_apt_planned() {
    if [ ${#kp_pinned[@]} -gt 0 ] && [ -n "$KP_PREFS_OPTION" ]; then
        "${KP_APT[@]}" -o "$KP_PREFS_OPTION=$KP_PREFS_FILE" "$@"
    else
        "${KP_APT[@]}" "$@"
    fi
}

# Simulates installing PACKAGE... under the plan; prints apt's simulation.
# Fails, naming the packages and what to do, if apt cannot or if the result
# would hold one Multi-Arch package at two versions.
kp_simulate() {
    local out
    if ! out=$(kp_apt_planned -s install --no-install-recommends "$@" 2>&1); then
        kp_say "step 'install' cannot install ${*}: $(grep -m1 -E '^E:' <<<"$out")"
        grep -E '^ +[^ ]+ : (Depends|Breaks|Conflicts)' <<<"$out" | head -n 5 | sed "s/^ */$KP_WHO:   /" >&2
        if [ ${#kp_pinned[@]} -gt 0 ]; then
            kp_say "the packages installed here are newer than what the suites left can match ($kp_note)"
            kp_say "wait until the mirror's sync is over (usually within the hour) and run it again"
        else
            kp_say "see 'apt-get -s install --no-install-recommends $*' for the details"
        fi
        return 1
    fi
    echo "$out"
    local mixed
    mixed=$(kp_mixed_versions <<<"$out")
    if [ -n "$mixed" ]; then
        kp_say "step 'install' would hold packages at two versions across architectures: $mixed"
        kp_say "wait until the mirror's sync is over (usually within the hour) and run it again"
        return 1
    fi
}

# From apt-get -s output and the packages installed (from KP_DPKG_STATUS, a
# dpkg status file, or this machine's), the packages that would end up
# installed for two architectures at different versions:
# "NAME (ARCH VERSION, ARCH VERSION)", one per line.
kp_mixed_versions() {
    local native
    native=$(dpkg --print-architecture)
    {
        dpkg-query ${KP_DPKG_STATUS:+--admindir="$(dirname "$KP_DPKG_STATUS")"} -W \
            -f='${db:Status-Abbrev} ${Package} ${Architecture} ${Version}\n' 2>/dev/null |
            awk '$1 ~ /^[ih]i/ { print $2, $3, $4 }'
        echo "--"
        cat
    } | awk -v native="$native" '
        $0 == "--" { simulated = 1; next }
        !simulated { version[$1 " " ($2 == "all" ? native : $2)] = $3; next }
        $1 == "Inst" || $1 == "Remv" {
            name = $2; arch = native
            if (name ~ /:/) { arch = name; sub(".*:", "", arch); sub(":.*", "", name) }
            if ($1 == "Remv") { delete version[name " " arch]; next }
            for (i = 3; i <= NF; i++) if ($i ~ /^\(/) { v = substr($i, 2); break }
            version[name " " arch] = v
        }
        END {
            for (key in version) {
                split(key, k, " ")
                if (k[1] in seen && seen[k[1]] != version[key])
                    print k[1] " (" seenarch[k[1]] " " seen[k[1]] ", " k[2] " " version[key] ")"
                seen[k[1]] = version[key]; seenarch[k[1]] = k[2]
            }
        }' | sort
}
