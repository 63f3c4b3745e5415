// kestrel-play's command line.
#pragma once

#include "host/player.h"

#include <string>
#include <vector>

constexpr double kFastSpeed = 1000.0; // seconds of audio per second: the plug-in's pace decides

constexpr char kUsage[] =
    "usage: kestrel-play [--plugin PATH] [--fast | --speed N] [--wav OUT.wav]\n"
    "                    [--pcm OUT.pcm] [--events OUT.jsonl] [--seek MS@AT]...\n"
    "                    [--pause AT:FOR]...\n"
    "                    [--dsp double|half|zero|send] [--until MS] [--fail-open N]\n"
    "                    [--restart-answer stop-play|seek|ignore|late[:MS]]\n"
    "                    [--user STEP[@AT],...]...\n"
    "                    [--info-box AT:STEP,... [--dialog-events OUT.jsonl] [--shots DIR]]\n"
    "                    [--info FIELD]... [--convert OUT.wav] NAME...\n"
    "Plays each NAME through the plug-in (default: the one beside this program)\n"
    "on a headless output device with a two-second buffer drained in real time,\n"
    "moving on to the next at the end-of-stream notice. A NAME is an archive, a\n"
    "track entry (ARCHIVE|N.MIX) or a playlist (.m3u, .m3u8: UTF-8, relative\n"
    "entries from its folder), which stands for the names it lists.\n"
    "  --fast          drain as fast as the plug-in keeps up; actions at exact times\n"
    "  --speed N       drain at N times real time\n"
    "  --wav OUT       write what was heard as one 16-bit WAV file in which every\n"
    "                  track sounds at its own speed: at the highest rate heard,\n"
    "                  audio at lower rates resampled to it\n"
    "  --pcm OUT       write the exact bytes heard, as the plug-in wrote them, in\n"
    "                  order and without a header\n"
    "  --events OUT    log every call, message, message box and gap heard as JSON\n"
    "                  lines\n"
    "  --seek MS@AT    ask for a seek to MS once the output time reaches AT\n"
    "  --pause AT:FOR  pause once the output time reaches AT, for FOR real ms\n"
    "  --dsp MODE      a DSP stage that doubles, halves or drops every block, or\n"
    "                  (send) passes it on after the stage and the visualisation\n"
    "                  feed each send a message to the host's window\n"
    "  --until MS      stop once MS of audio has been heard in all\n"
    "  --fail-open N   the N-th opening of the output fails\n"
    "  --restart-answer HOW  answer the plug-in's restart request with stop and\n"
    "                  play (stop-play, the default), with a seek to 0 (seek), not\n"
    "                  at all (ignore), or late: leave it in the queue and make\n"
    "                  no call at all for MS real ms (default 2500), then stop\n"
    "                  and play\n"
    "  --user STEP[@AT],...  the user's actions, in order: stop, play (of the\n"
    "                  archive being played; stop first if it plays), pause,\n"
    "                  unpause, seek=MS, wait=MS (real ms); @AT holds a step\n"
    "                  until AT ms of audio have been heard in all (as --until\n"
    "                  counts), e.g. stop@1200,wait=1700,play. Messages the\n"
    "                  plug-in posted are answered before each action, and an\n"
    "                  action comes 600 ms or more after an ignored request\n"
    "  --info FIELD    before each NAME, ask the plug-in's extended file\n"
    "                  information for FIELD (title, length, track, ...) and\n"
    "                  print FIELD=value or \"FIELD not handled\"; repeatable\n"
    "  --convert OUT   play nothing: read each NAME through the plug-in's\n"
    "                  extended read into a 16-bit WAV file, OUT for one NAME,\n"
    "                  OUT/01.wav, OUT/02.wav, ... (by place in the list) for more\n"
    "  -h, --help      this text\n"
    "Sound Info dialog automation (first NAME):\n"
    "  --info-box AT:STEP,...  open the info box once the output time reaches AT,\n"
    "                  then carry out the steps: read, select=N, deselect=N|all,\n"
    "                  done, cancel, cool, escape, enter, close, expect=CAPTION,\n"
    "                  shot=NAME\n"
    "  --dialog-events OUT  log the steps and what the dialogs show as JSON lines\n"
    "  --shots DIR     where shot=NAME waits for the file NAME.done\n"
    "Actions run in the order given. Exit status: 0 played, 1 a play failed,\n"
    "2 bad arguments, no plug-in or an output file that cannot be written,\n"
    "3 the plug-in broke the output's contract (or played audio while paused),\n"
    "4 a dialog step failed.\n";

struct CommandLine {
    PlayerOptions options;
    std::vector<std::string> names; // as given: playlists not yet read
    bool help = false;
};

// Parses argv; on an error returns false with the reason in `error`.
// A whole decimal int, nothing else; false if `text` is not one.
bool ParseInt(const std::string& text, int* value);

bool ParseCommandLine(int argc, char** argv, CommandLine* parsed, std::string* error);
