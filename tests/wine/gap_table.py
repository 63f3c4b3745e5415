#!/usr/bin/env python3
"""Measures the gap a listener hears between two tracks, for each kind of
player kestrel-play stands in for, in real time, and prints a table.

    gap_table.py KESTREL_PLAY MIXTOOL [PLUGIN] [--changes N]

PLUGIN defaults to the in_kestrel library beside KESTREL_PLAY. An archive of
one-second tones is played (in a scratch folder, with the player and the
plug-in copied beside its index) until N track changes (default 4) have been
heard, once per kind of player; the "gap" events of the log give the real
time from the last sample of one track heard to the first of the next. Gaps
elsewhere than at a track's end (a late answer's stop and play) are listed
apart. A run takes about N seconds, plus the waits the plug-in makes."""
import json
import os
import shutil
import subprocess
import sys
import tempfile

KINDS = ["stop-play", "seek", "ignore", "late"]
TRACK_MS = 1000
# Where a gap lies within a track: at its end, give or take what a late
# answer's resume or a rounding moves the heard count by.
AT_END_MS = 20


def gaps(log):
    events = [json.loads(line) for line in open(log)]
    changes, others = [], []
    for e in events:
        if e["ev"] != "gap":
            continue
        into = e["heard_ms"] % TRACK_MS
        at_end = min(into, TRACK_MS - into) <= AT_END_MS
        (changes if at_end else others).append(e)
    return changes, others


def main():
    args = [a for a in sys.argv[1:] if not a.startswith("--")]
    changes = 4
    if "--changes" in sys.argv:
        changes = int(sys.argv[sys.argv.index("--changes") + 1])
        args.remove(str(changes))
    if len(args) < 2:
        raise SystemExit(__doc__)
    play, mixtool = os.path.abspath(args[0]), os.path.abspath(args[1])
    beside = [os.path.join(os.path.dirname(play), "in_kestrel" + ext) for ext in (".so", ".dll")]
    plugin = os.path.abspath(args[2]) if len(args) > 2 else \
        ([p for p in beside if os.path.exists(p)] or beside)[0]
    work = tempfile.mkdtemp()
    try:
        for f in (play, plugin):
            shutil.copy(f, work)
        tones = ["tone:%s:1:22050:T%d" % (f, n) for n, f in
                 enumerate(["437.31", "523.17", "611.13", "700.7", "350.3"])]
        subprocess.run([mixtool, "build", "--index-dir", work, "-o", work + "/gaps.mix"] + tones,
                       check=True, stdout=subprocess.DEVNULL)
        rows = []
        for kind in KINDS:
            log = "%s/%s.jsonl" % (work, kind)
            until = changes * TRACK_MS + TRACK_MS // 2
            subprocess.run([os.path.join(work, os.path.basename(play)), "--restart-answer", kind,
                            "--until", str(until), "--events", log, work + "/gaps.mix"],
                           check=True, stdout=subprocess.DEVNULL, timeout=120)
            found, others = gaps(log)
            rows.append((kind, found, others))
    finally:
        shutil.rmtree(work)
    # A change heard without a cut in the output (no flush, close or open
    # between the two tracks) logs no gap: it counts as none.
    print("| player | first change (ms) | later changes (ms) | changes with a cut | "
          "other gaps (ms, at heard ms) |")
    print("|---|---|---|---|---|")
    for kind, found, others in rows:
        first = "%.0f" % found[0]["ms"] if found else "-"
        later = ", ".join("%.0f" % g["ms"] for g in found[1:]) or "-"
        other = ", ".join("%.0f at %.0f" % (g["ms"], g["heard_ms"]) for g in others) or "-"
        print("| %s | %s | %s | %d of %d | %s |" % (kind, first, later, len(found), changes,
                                                     other))


if __name__ == "__main__":
    main()
