# Sourced by the Windows test scripts: how they fail or skip, what they need,
# and the scratch folder each works in (removed when the script ends).
fail() { echo "FAIL: $*"; exit 1; }
skip() { echo "SKIP: $*"; exit 77; }

# need_program PATH WHAT: fails unless PATH is a file.
need_program() { [ -f "$1" ] || fail "no $2 at $1"; }
# need_native_mixtool PATH
need_native_mixtool() {
    [ -x "$1" ] || fail "no native mixtool at $1 (build the native preset, or set KESTREL_NATIVE_BUILD_DIR)"
}

# enter_scratch [FILE]...: makes the scratch folder, enters it and copies the
# files in (a media player's folder: the host and the plug-in side by side).
enter_scratch() {
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT
    cd "$work" || fail "cannot enter $work"
    [ $# -eq 0 ] || cp "$@" . || fail "cannot copy the programs"
}

# captured VAR COMMAND...: runs COMMAND with its output in a file, never a
# pipe (a Wine service that a program's start brings up may inherit a pipe
# and hold it open until the session ends), and puts that output in VAR.
# Returns COMMAND's status.
captured() {
    local into=$1 status
    shift
    "$@" >"${work:-.}/captured.txt" 2>&1 </dev/null
    status=$?
    printf -v "$into" '%s' "$(cat "${work:-.}/captured.txt")"
    return $status
}

# skip_if_not_run OUTPUT: skips when Wine could not execute the program at all
# (a kernel without 32-bit code, or no loader for this build's programs).
skip_if_not_run() {
    if grep -qi "exec format error\|cannot execute" <<<"$1"; then
        skip "wine cannot run 32-bit programs here: $(head -n 1 <<<"$1")"
    fi
}
