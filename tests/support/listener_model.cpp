#include "support/listener_model.h"

#include <algorithm>
#include <cstring>
#include <sstream>

namespace listener {

namespace {

// Stands in a reason for where a written block lies in the tracks, until the
// block is ruled out for good.
constexpr const char* kWhatWasWritten = "{what was written}";

constexpr int kNone = -1;
// What a decoder hands on at once: after the user disables every track, the
// block in hand may still be written.
constexpr int kBlockSamples = 576;
// How far a late answer may go on from the listener's position: the time the
// plug-in reads is whole milliseconds of three readings.
constexpr int kResumeSlackMs = 3;
constexpr std::size_t kRecentSteps = 24;

enum class Phase {
    Stopped, // nothing plays
    Playing, // the current track is heard (or about to be, after its start)
    Waiting, // between tracks: the current one is about to be heard, not begun
    Ending,  // no track follows: the output plays out, then one notice
};

// What the answer to a restart request that the host is giving does.
enum class Answering { No, Taken, FromStart, Resume, AtEnd };

const char* PhaseName(Phase phase) {
    switch (phase) {
    case Phase::Stopped:
        return "stopped";
    case Phase::Playing:
        return "playing";
    case Phase::Waiting:
        return "between tracks";
    case Phase::Ending:
        return "ending";
    }
    return "?";
}

const char* KindName(Event::Kind kind) {
    static const char* const names[] = {"play",
                                        "stop",
                                        "pause",
                                        "unpause",
                                        "set_output_time",
                                        "info_box",
                                        "get_output_time",
                                        "get_length",
                                        "is_paused",
                                        "restart request taken",
                                        "end-of-stream notice taken",
                                        "out.open",
                                        "out.close",
                                        "out.write",
                                        "out.flush",
                                        "out.pause"};
    return names[static_cast<int>(kind)];
}

} // namespace

const char* Name(Player player) {
    switch (player) {
    case Player::StopPlay:
        return "stop-play";
    case Player::LateStopPlay:
        return "late stop-play";
    case Player::Seek:
        return "seek";
    case Player::Ignore:
        return "ignore";
    }
    return "?";
}

// One account of where the listener is that the journal still allows.
struct Model::Reading {
    Phase phase = Phase::Stopped;
    bool finished = false; // Ending because nothing is left to play, not a last track's end
    std::vector<char> enabled;
    int chosen = kNone; // chosen in Sound Info while nothing played
    int entry = kNone;  // the track a track entry plays alone; kNone: the archive whole
    int track = 0;      // heard, or about to be heard
    int ended = kNone;  // the track whose end (or whose leaving) began the change
    int pos = 0;        // the listener's next sample of `track`
    int next = 0;       // the next sample of `track` to write; kNone: where a late answer says

    bool open = false;
    int rate = 0;
    int out_track = kNone; // what the output holds unheard: samples [out_from, out_to)
    int out_from = 0;
    int out_to = 0;
    // A prompt stop-play player's new track written before its stop and
    // play: it may be decoded, never heard as the track's start.
    bool provisional = false;

    // The dialog moved to another track: until the output is flushed, what
    // is written is the track left.
    bool change_flush = false;
    int left_track = kNone;
    int left_next = 0;
    int finish_grace = 0;  // samples still allowed after every track was disabled
    int done_rows = kNone; // Done pressed, its choice not yet taken in

    bool host_playing = false;
    bool host_stopped = true; // from a stop's return to the next play
    bool paused = false;

    int requests = 0;   // restart requests due that the host has not taken
    bool stale = false; // one may come that a stop overtook
    Answering answering = Answering::No;
    int resume_lo = kNone; // where the output goes on after a late answer
    int resume_hi = kNone;
    enum class InPlay { No, Plain, Answer } in_play = InPlay::No;
    bool open_failed = false;
    int play_track = kNone; // the track a play in progress starts
    std::vector<int> seeks; // the user's, not yet applied

    int notices = 0;
    bool notice_possible = false; // one from a stream a stop or seek overtook
    double since = 0;             // the last sign of progress

    bool operator==(const Reading&) const = default;
};

Model::Model(std::vector<Track> tracks, Player player, double silence_ms)
    : tracks_(std::move(tracks)), player_(player), silence_ms_(silence_ms) {
    Reading first;
    first.enabled.assign(tracks_.size(), 1);
    readings_.push_back(first);
}

Model::~Model() = default;

int Model::Length(int track) const {
    return static_cast<int>(tracks_[static_cast<std::size_t>(track)].samples->size());
}

int Model::LengthMs(int track) const {
    return static_cast<int>(static_cast<std::int64_t>(Length(track)) * 1000 / Rate(track));
}

int Model::NextEnabled(const Reading& r, int after) const {
    // A track entry's stream plays its one track.
    if (r.entry != kNone)
        return kNone;
    const int count = static_cast<int>(tracks_.size());
    for (int step = 1; step < count; ++step) {
        int t = (after + step) % count;
        if (r.enabled[static_cast<std::size_t>(t)])
            return t;
    }
    return kNone;
}

bool Model::Holds(int track, int from, const std::vector<char>& bytes) const {
    const auto& samples = *tracks_[static_cast<std::size_t>(track)].samples;
    const std::size_t count = bytes.size() / 2;
    return from >= 0 && bytes.size() % 2 == 0 && from + count <= samples.size() &&
           std::memcmp(samples.data() + from, bytes.data(), bytes.size()) == 0;
}

std::string Model::Locate(const std::vector<char>& bytes) const {
    for (std::size_t t = 0; t < tracks_.size(); ++t)
        for (int at = 0; at + static_cast<int>(bytes.size() / 2) <= Length(static_cast<int>(t));
             ++at)
            if (Holds(static_cast<int>(t), at, bytes))
                return "track " + std::to_string(t) + " from sample " + std::to_string(at);
    return "no track's audio";
}

std::string Model::Describe(const Reading& r) const {
    std::ostringstream text;
    text << PhaseName(r.phase);
    if (r.entry != kNone)
        text << " (track entry " << r.entry + 1 << ")";
    if (r.phase != Phase::Stopped) {
        text << ", track " << r.track << " at " << Rate(r.track) << " Hz, heard to sample "
             << r.pos;
        if (r.next == kNone)
            text << ", to go on from samples " << r.resume_lo << ".." << r.resume_hi;
        else if (r.next != r.pos)
            text << ", written to " << r.next;
    }
    text << (r.paused ? ", paused" : ", not paused");
    if (r.phase == Phase::Ending)
        text << (r.notices ? ", notice given" : ", notice due");
    text << "; output ";
    if (r.open)
        text << "open at " << r.rate << " Hz";
    else
        text << "closed";
    return text.str();
}

std::string Model::Describe(const Event& e) const {
    std::ostringstream text;
    text << "t=" << static_cast<long>(e.at_ms) << " ms ";
    if (e.FromDevice()) {
        text << KindName(e.kind) << (e.host_thread ? " (host thread)" : " (playback thread)");
        if (e.kind == Event::Kind::Write)
            text << " " << e.bytes.size() << " bytes";
        else if (e.kind == Event::Kind::Open)
            text << " " << e.value << " Hz -> " << e.result;
        else if (e.kind != Event::Kind::Close)
            text << " " << e.value;
    } else {
        text << (e.who == Who::User     ? "user "
                 : e.who == Who::Answer ? "answer "
                                        : "loop ")
             << KindName(e.kind);
        if (e.kind == Event::Kind::TakeRestart || e.kind == Event::Kind::TakeEndOfStream)
            ;
        else if (e.returned)
            text << " returned " << e.value;
        else
            text << " called"
                 << (e.kind == Event::Kind::Seek || e.kind == Event::Kind::InfoBox
                         ? " with " + std::to_string(e.value)
                         : std::string());
    }
    return text.str();
}

std::string Model::Hear(Reading& r, std::int64_t bytes, double at) const {
    if (bytes <= 0)
        return "";
    if (r.paused)
        return "heard " + std::to_string(bytes / 2) + " samples while paused";
    const int samples = static_cast<int>(bytes / 2);
    if (r.out_from + samples > r.out_to)
        return "heard more than the output was given";
    r.out_from += samples;
    if (!r.provisional && r.out_track == r.track && r.phase != Phase::Stopped)
        r.pos = r.out_from;
    r.since = at;
    return "";
}

void Model::Seek(Reading& r, std::size_t which, double at) const {
    const int ms = r.seeks[which];
    r.seeks.erase(r.seeks.begin(), r.seeks.begin() + static_cast<std::ptrdiff_t>(which) + 1);
    r.out_from = r.out_to;
    r.provisional = false;
    r.resume_lo = r.resume_hi = kNone;
    if (r.phase == Phase::Stopped || (r.phase == Phase::Ending && r.finished))
        return;
    if (r.phase == Phase::Ending)
        r.notice_possible = true; // it may have been posted before the seek
    r.phase = Phase::Playing;
    // The decoder lands on a whole ADPCM byte, two samples: at an odd rate
    // an odd second starts at the sample after.
    std::int64_t sample = static_cast<std::int64_t>(ms / 1000) * Rate(r.track);
    sample += sample % 2;
    r.pos = r.next = static_cast<int>(std::min<std::int64_t>(sample, Length(r.track)));
    r.since = at;
}

std::vector<int> Model::Starts(const Reading& r, int next) const {
    if (next != kNone)
        return {next};
    std::vector<int> starts;
    for (int from = r.resume_lo; from <= r.resume_hi; ++from)
        if (from % 2 == 0)
            starts.push_back(from);
    return starts;
}

bool Model::CanEnd(const Reading& r) const {
    return r.phase == Phase::Playing && r.next != kNone && r.next >= Length(r.track) &&
           r.pos >= Length(r.track) && r.out_from == r.out_to && !r.change_flush;
}

Model::Reading Model::EndTrack(Reading r, double at) const {
    r.ended = r.track;
    r.since = at;
    int next = NextEnabled(r, r.track);
    if (next == kNone) {
        r.phase = Phase::Ending;
        r.finished = false;
        return r;
    }
    r.phase = Phase::Waiting;
    r.track = next;
    r.pos = r.next = 0;
    ++r.requests;
    return r;
}

Model::Readings Model::Done(Reading r, int rows, double at) const {
    r.done_rows = kNone;
    for (std::size_t t = 0; t < r.enabled.size(); ++t)
        r.enabled[t] = (rows >> t) & 1 ? 1 : 0;
    const auto on = [&r](int t) { return r.enabled[static_cast<std::size_t>(t)] != 0; };
    switch (r.phase) {
    case Phase::Stopped: {
        // Kept for the next play of the archive, and the player is asked.
        const int current = r.chosen != kNone ? r.chosen : 0;
        if (!on(current)) {
            int next = NextEnabled(r, current);
            if (next != kNone) {
                r.chosen = next;
                ++r.requests;
            }
        }
        return {r};
    }
    case Phase::Playing: {
        if (on(r.track))
            return {r};
        int next = NextEnabled(r, r.track);
        r.ended = r.track;
        r.since = at;
        if (next == kNone) {
            r.phase = Phase::Ending;
            r.finished = true;
            r.finish_grace = kBlockSamples;
            return {r};
        }
        // The output is flushed; the next track is heard from its start.
        r.change_flush = r.open;
        r.left_track = r.track;
        r.left_next = r.next;
        r.phase = Phase::Waiting;
        r.track = next;
        r.pos = r.next = 0;
        ++r.requests;
        return {r};
    }
    case Phase::Waiting: {
        // The track heard next is the one the newest choice implies: the one
        // about to be heard if still enabled, or the next after it; or, read
        // afresh, the next after the track that ended.
        Readings out;
        for (int from : {r.track, r.ended}) {
            if (from == kNone)
                continue;
            Reading aimed = r;
            int next = from == r.track && on(r.track) ? r.track : NextEnabled(r, from);
            if (next == kNone) {
                aimed.phase = Phase::Ending;
                aimed.finished = true;
            } else if (next != r.track) {
                aimed.track = next;
                aimed.pos = aimed.next = 0;
            }
            if (std::find(out.begin(), out.end(), aimed) == out.end())
                out.push_back(aimed);
        }
        return out;
    }
    case Phase::Ending: {
        // An end whose notice has not come yet, overtaken by a choice that
        // leaves the track and enables another: the stream may go on with
        // that one, the notice still on its way.
        Readings out{r};
        int next = NextEnabled(r, r.track);
        if (r.notices == 0 && !on(r.track) && next != kNone) {
            Reading moved = r;
            moved.phase = Phase::Waiting;
            moved.finished = false;
            moved.finish_grace = 0;
            moved.track = next;
            moved.pos = moved.next = 0;
            moved.notice_possible = true;
            ++moved.requests;
            out.push_back(moved);
        }
        return out;
    }
    }
    return {r};
}

Model::Readings Model::Closure(const Reading& reading, double at) const {
    // The steps the plug-in takes unseen: noticing that a track has played
    // out, taking in the dialog's choice, going on at a track's end after a
    // late answer.
    Readings out;
    Readings todo{reading};
    while (!todo.empty() && out.size() < 16) {
        Reading r = todo.back();
        todo.pop_back();
        if (std::find(out.begin(), out.end(), r) != out.end())
            continue;
        out.push_back(r);
        if (r.done_rows != kNone)
            for (Reading& d : Done(r, r.done_rows, at))
                todo.push_back(d);
        if (CanEnd(r))
            todo.push_back(EndTrack(r, at));
        if (r.phase == Phase::Playing && r.next == kNone && r.resume_hi >= Length(r.track)) {
            Reading at_end = r;
            at_end.pos = at_end.next = Length(r.track);
            at_end.resume_lo = at_end.resume_hi = kNone;
            todo.push_back(at_end);
        }
    }
    return out;
}

Model::Readings Model::Write(Reading r, const Event& e, std::string* why) const {
    const int count = static_cast<int>(e.bytes.size() / 2);
    // What was written, in words. Finding the block in the tracks is slow:
    // the words are put in only if every account rules the block out.
    auto got = [&] {
        return "got " + std::string(kWhatWasWritten) + " written at " + std::to_string(r.rate) +
               " Hz";
    };
    if (!r.open) {
        *why = "a block written to a closed output (" + got() + ")";
        return {};
    }
    Readings out;
    std::string unheard;
    // Appends the block at `from` of `track` to what the output holds, then
    // hears what the clock played meanwhile.
    auto append = [&](Reading x, int track, int from, bool provisional) {
        if (x.out_from == x.out_to || x.provisional != provisional) {
            x.out_track = track;
            x.out_from = x.out_to = from;
        }
        x.provisional = provisional;
        x.out_to = from + count;
        x.since = e.at_ms;
        std::string heard = Hear(x, e.heard_after - e.heard_before, e.at_ms);
        if (heard.empty())
            out.push_back(x);
        else
            unheard = heard;
    };
    auto expect = [&](int track, int from) {
        return "expected track " + std::to_string(track) + " from sample " + std::to_string(from) +
               " at " + std::to_string(Rate(track)) + " Hz; " + got();
    };
    if (r.change_flush) {
        // The track left goes on until the dialog's flush; the new one may
        // come without it only once nothing of the old is left unheard.
        if (r.out_from == r.out_to || r.out_track == r.left_track)
            for (int from : Starts(r, r.left_next))
                if (Holds(r.left_track, from, e.bytes)) {
                    Reading x = r;
                    if (r.left_next == kNone)
                        x.resume_lo = x.resume_hi = kNone;
                    x.left_next = from + count;
                    append(x, r.left_track, from, false);
                }
        if (r.out_from == r.out_to)
            r.change_flush = false;
        else if (out.empty())
            *why = "the track left (" + std::to_string(r.left_track) +
                   ") until the dialog's flush; " + got();
    }
    // The current track goes on with the block at `from`; after a late
    // answer's play (nothing due yet) from where the listener was.
    auto go_on = [&](Reading x, int from) {
        if (x.next == kNone) {
            x.pos = from;
            x.resume_lo = x.resume_hi = kNone;
        }
        x.next = from + count;
        append(x, x.track, from, false);
    };
    if (!r.change_flush) {
        switch (r.phase) {
        case Phase::Playing:
            for (int from : Starts(r, r.next))
                if (r.rate == Rate(r.track) && Holds(r.track, from, e.bytes))
                    go_on(r, from);
            if (out.empty())
                *why = r.next != kNone
                           ? expect(r.track, r.next)
                           : "a late answer goes on at an even sample in " +
                                 std::to_string(r.resume_lo) + ".." + std::to_string(r.resume_hi) +
                                 " of track " + std::to_string(r.track) + "; " + got();
            break;
        case Phase::Waiting:
            // The plug-in starts the track itself; and a prompt stop-play
            // player's track may be decoded before its stop and play, into
            // whatever output is open, never to be heard.
            if (r.rate == Rate(r.track) && r.out_from == r.out_to && Holds(r.track, 0, e.bytes)) {
                Reading x = r;
                x.phase = Phase::Playing;
                x.pos = 0;
                x.next = count;
                x.resume_lo = x.resume_hi = kNone;
                append(x, r.track, 0, false);
            }
            if (player_ == Player::StopPlay) {
                int from = r.provisional && r.out_track == r.track ? r.out_to : 0;
                if (Holds(r.track, from, e.bytes))
                    append(r, r.track, from, true);
            }
            if (out.empty())
                *why = expect(r.track, 0) + " (the track about to be heard)";
            break;
        case Phase::Ending:
            // Only the block in hand when every track was disabled.
            for (int from : Starts(r, r.next))
                if (r.finish_grace >= count && Holds(r.track, from, e.bytes)) {
                    Reading x = r;
                    x.finish_grace -= count;
                    go_on(x, from);
                }
            if (out.empty())
                *why = "nothing written after the stream's end; " + got();
            break;
        case Phase::Stopped:
            *why = "nothing written while stopped; " + got();
            break;
        }
    }
    if (out.empty() && why->empty())
        *why = unheard;
    return out;
}

Model::Readings Model::Flush(Reading r, const Event& e, std::string* why) const {
    const int ms = e.value;
    Readings out;
    auto emptied = [](Reading x) {
        x.out_from = x.out_to;
        x.provisional = false;
        if (x.next != kNone && x.phase != Phase::Ending)
            x.next = x.pos;
        return x;
    };
    if (r.change_flush) {
        if (ms == 0) {
            Reading x = emptied(r);
            x.change_flush = false;
            x.resume_lo = x.resume_hi = kNone;
            out.push_back(x);
        } else {
            *why =
                "the flush for the dialog's change must restart at 0 ms, not " + std::to_string(ms);
        }
        return out;
    }
    for (std::size_t j = 0; j < r.seeks.size(); ++j)
        if (r.seeks[j] - r.seeks[j] % 1000 == ms) {
            Reading x = r;
            Seek(x, j, e.at_ms);
            out.push_back(x);
        }
    if (ms == 0)
        out.push_back(emptied(r));
    if (out.empty())
        *why = "a flush to " + std::to_string(ms) + " ms with no seek asked for";
    return out;
}

Model::Readings Model::ApplyDevice(Reading r, const Event& e, std::string* why) const {
    if (!e.host_thread && r.host_stopped) {
        *why = "the playback thread called the output after stop had returned";
        return {};
    }
    switch (e.kind) {
    case Event::Kind::Write:
        return Write(r, e, why);
    case Event::Kind::Flush:
        return Flush(r, e, why);
    case Event::Kind::Open:
        if (r.open) {
            *why = "the output opened while open";
            return {};
        }
        if (e.result < 0) {
            // At a play, the play answers for it; at a track change the
            // plug-in makes itself, the stream ends.
            if (r.in_play != Reading::InPlay::No && e.host_thread) {
                r.open_failed = true;
            } else if (r.phase == Phase::Waiting || r.phase == Phase::Playing) {
                r.phase = Phase::Ending;
                r.finished = true;
                r.since = e.at_ms;
            }
            return {r};
        }
        if (r.phase == Phase::Stopped) {
            *why = "the output opened while nothing plays";
            return {};
        }
        if (e.value != Rate(r.track)) {
            *why =
                std::string(r.phase == Phase::Ending ? "the stream has ended after track "
                            : r.in_play == Reading::InPlay::Plain ? "a plain play starts track "
                                                                  : "next to be heard is track ") +
                std::to_string(r.track) + " at " + std::to_string(Rate(r.track)) +
                " Hz; the output opened at " + std::to_string(e.value) + " Hz";
            return {};
        }
        r.open = true;
        r.rate = e.value;
        r.out_from = r.out_to;
        r.provisional = false;
        if (r.phase == Phase::Playing && r.next != kNone)
            r.next = r.pos;
        return {r};
    case Event::Kind::Close:
        if (!r.open) {
            *why = "the output closed while closed";
            return {};
        }
        r.open = false;
        r.out_from = r.out_to;
        r.provisional = false;
        r.change_flush = false;
        if (r.next != kNone && r.phase != Phase::Ending)
            r.next = r.pos;
        return {r};
    default:
        return {r};
    }
}

Model::Readings Model::ApplyHost(Reading r, const Event& e, std::string* why) const {
    // Whatever else the player does ends its answer to a request.
    if (e.who != Who::Answer && !e.returned)
        r.answering = Answering::No;
    const int value = e.value;
    switch (e.kind) {
    case Event::Kind::TakeRestart:
        r.answering = Answering::No;
        if (r.requests > 0) {
            --r.requests;
            r.answering = Answering::Taken;
        } else if (r.stale) {
            r.stale = false;
        } else {
            *why = "the plug-in asked the player to restart with no track change under way";
            return {};
        }
        return {r};
    case Event::Kind::TakeEndOfStream:
        r.answering = Answering::No;
        if (r.phase == Phase::Ending) {
            if (r.notices > 0) {
                *why = "a second end-of-stream notice for one stream";
                return {};
            }
            if (r.open && r.out_from < r.out_to) {
                *why = "the end-of-stream notice came with " +
                       std::to_string(r.out_to - r.out_from) + " samples not yet heard";
                return {};
            }
            ++r.notices;
            r.since = e.at_ms;
            return {r};
        }
        if (r.notice_possible) {
            r.notice_possible = false;
            return {r};
        }
        *why = "an end-of-stream notice while the stream goes on";
        return {};
    case Event::Kind::Play:
        if (!e.returned) {
            r.host_stopped = false;
            r.open_failed = false;
            // A play's value: 0 for the archive, N for its track entry N.
            // Requests are made only while the archive plays whole, so a
            // track entry's play is never an answer.
            const bool answer =
                e.who == Who::Answer && e.value == 0 &&
                (r.answering == Answering::FromStart || r.answering == Answering::Resume ||
                 r.answering == Answering::AtEnd);
            if (!answer) {
                // A plain play: the first track, or the one chosen while
                // nothing played, or the entry's; every track enabled; not
                // paused.
                r.in_play = Reading::InPlay::Plain;
                std::fill(r.enabled.begin(), r.enabled.end(), 1);
                r.entry = e.value > 0 ? e.value - 1 : kNone;
                r.track = r.entry != kNone ? r.entry : r.chosen != kNone ? r.chosen : 0;
                r.chosen = kNone;
                r.phase = Phase::Playing;
                r.finished = false;
                r.pos = r.next = 0;
                r.paused = false;
                r.seeks.clear();
                r.change_flush = false;
                r.finish_grace = 0;
                r.resume_lo = r.resume_hi = kNone;
                r.requests = 0;
                r.notices = 0;
                r.ended = kNone;
                r.answering = Answering::No;
                if (e.who == Who::User) {
                    r.stale = false;
                    r.notice_possible = false;
                }
            } else {
                r.in_play = Reading::InPlay::Answer;
                if (r.answering == Answering::FromStart) {
                    r.phase = Phase::Playing;
                    r.pos = r.next = 0;
                } else if (r.answering == Answering::Resume) {
                    r.phase = Phase::Playing;
                    r.next = kNone;
                }
            }
            r.play_track = r.track;
            r.since = e.at_ms;
            return {r};
        }
        {
            const Reading::InPlay kind = r.in_play;
            const Answering mode = r.answering;
            r.in_play = Reading::InPlay::No;
            r.answering = Answering::No;
            if (value != 0) {
                if (!r.open_failed) {
                    *why = "play returned " + std::to_string(value) + " with nothing failing";
                    return {};
                }
                if (r.open) {
                    *why = "a failed play left the output open";
                    return {};
                }
                // Requests and notices posted before it may still come.
                r.stale = r.stale || r.requests > 0;
                r.notice_possible =
                    r.notice_possible || mode == Answering::AtEnd || r.phase == Phase::Ending;
                r.phase = Phase::Stopped;
                r.host_playing = false;
                r.host_stopped = true;
                r.paused = false;
                r.chosen = kNone;
                r.requests = 0;
                r.seeks.clear();
                return {r};
            }
            r.host_playing = true;
            if (r.open_failed) {
                if (kind == Reading::InPlay::Plain) {
                    *why = "play returned 0 though the output would not open";
                    return {};
                }
                r.phase = Phase::Ending;
                r.finished = true;
                r.since = e.at_ms;
                return {r};
            }
            if (mode == Answering::AtEnd || r.phase != Phase::Playing || r.track != r.play_track)
                return {r};
            if (!r.open || r.rate != Rate(r.track)) {
                *why = std::string("play returned 0 with the output ") +
                       (r.open ? "open at " + std::to_string(r.rate) + " Hz" : "closed") +
                       "; track " + std::to_string(r.track) + " plays at " +
                       std::to_string(Rate(r.track)) + " Hz";
                return {};
            }
            return {r};
        }
    case Event::Kind::Stop:
        if (!e.returned) {
            if (e.who == Who::Answer && r.answering == Answering::Taken) {
                if (r.phase == Phase::Waiting) {
                    r.answering = Answering::FromStart;
                } else if (r.phase == Phase::Playing) {
                    // Late: the plug-in has gone on by itself; the answer
                    // goes on where the listener is.
                    r.answering = Answering::Resume;
                    const int slack = Rate(r.track) * kResumeSlackMs / 1000 + 2;
                    r.resume_lo = std::max(r.pos - slack, 0);
                    r.resume_hi = std::min(r.pos + slack, Length(r.track));
                } else {
                    r.answering = Answering::AtEnd;
                }
            } else {
                r.answering = Answering::No;
            }
            return {r};
        }
        if (r.open) {
            *why = "the output is still open after stop";
            return {};
        }
        r.host_playing = false;
        r.host_stopped = true;
        r.provisional = false;
        r.change_flush = false;
        if (r.answering == Answering::No) {
            // A plain stop: nothing more is heard, the pause ends, the next
            // play is a plain one. A request or notice the stop overtook may
            // still come.
            const bool at_change =
                r.requests > 0 || r.phase == Phase::Waiting || r.phase == Phase::Ending ||
                (r.phase == Phase::Playing && r.next != kNone && r.next >= Length(r.track));
            r.stale = r.stale || at_change;
            r.notice_possible = r.notice_possible || at_change;
            r.phase = Phase::Stopped;
            r.paused = false;
            r.seeks.clear();
            r.chosen = kNone;
            r.entry = kNone;
            r.requests = 0;
            r.finish_grace = 0;
            r.resume_lo = r.resume_hi = kNone;
        }
        return {r};
    case Event::Kind::Pause:
        if (e.returned && r.host_playing)
            r.paused = true;
        return {r};
    case Event::Kind::Unpause:
        if (!e.returned) {
            r.paused = false;
            r.since = e.at_ms;
        }
        return {r};
    case Event::Kind::Seek: {
        if (e.returned)
            return {r};
        if (e.who == Who::User) {
            if (r.host_playing)
                r.seeks.push_back(value);
            return {r};
        }
        // The player's answer: it starts the track about to be heard and
        // never restarts one begun. Asked for by nothing, it may pass for
        // the user's.
        if (r.answering == Answering::Taken)
            return {r};
        Readings out{r};
        r.seeks.push_back(0);
        out.push_back(r);
        return out;
    }
    case Event::Kind::InfoBox:
        if (!e.returned) {
            if (value >= 0)
                r.done_rows = value;
            return {r};
        }
        if (r.done_rows != kNone)
            return Done(r, r.done_rows, e.at_ms);
        return {r};
    case Event::Kind::GetLength:
    case Event::Kind::GetOutputTime:
    case Event::Kind::IsPaused: {
        if (!e.returned || !r.host_playing)
            return {r};
        if (e.kind == Event::Kind::IsPaused) {
            if (skip_.find("paused") == std::string::npos && value != (r.paused ? 1 : 0)) {
                *why = "is_paused reported " + std::to_string(value) +
                       (r.paused ? "; the listener paused" : "; the listener has not paused");
                return {};
            }
            return {r};
        }
        // The length of the track heard, or between tracks of the one about
        // to be; after a failed start, either.
        int length = LengthMs(r.track);
        bool either = r.phase == Phase::Ending && r.ended != kNone;
        int other = either ? LengthMs(r.ended) : length;
        if (skip_.find("length") != std::string::npos)
            return {r};
        if (e.kind == Event::Kind::GetLength) {
            if (value != length && value != other) {
                *why = "get_length reported " + std::to_string(value) + " ms; track " +
                       std::to_string(r.track) + " lasts " + std::to_string(length) + " ms";
                return {};
            }
        } else if (value < 0 || value > std::max(length, other)) {
            *why = "get_output_time reported " + std::to_string(value) + " ms, outside track " +
                   std::to_string(r.track) + "'s " + std::to_string(length) + " ms";
            return {};
        }
        return {r};
    }
    default:
        return {r};
    }
}

Model::Readings Model::Apply(Reading r, const Event& e, std::string* why) const {
    return e.FromDevice() ? ApplyDevice(r, e, why) : ApplyHost(r, e, why);
}

void Model::Remember(const Event& e) {
    const bool query = e.kind == Event::Kind::GetOutputTime || e.kind == Event::Kind::GetLength ||
                       e.kind == Event::Kind::IsPaused;
    if (query && !e.returned)
        return;
    // The loop's turns in a row make one line: the last values they read.
    if (query && e.who == Who::Loop) {
        static const char* const names[] = {"time", "length", "paused"};
        const std::size_t slot =
            static_cast<std::size_t>(e.kind) - static_cast<std::size_t>(Event::Kind::GetOutputTime);
        if (!loop_line_ || recent_.empty()) {
            recent_.push_back("");
            loop_values_.assign(3, "?");
            loop_turns_ = 0;
        }
        loop_turns_ += slot == 0 ? 1 : 0;
        loop_values_[slot] = std::to_string(e.value);
        recent_.back() = "t=" + std::to_string(static_cast<long>(e.at_ms)) + " ms loop, " +
                         std::to_string(loop_turns_) + " turns, last read: time " +
                         loop_values_[0] + ", length " + loop_values_[1] + ", " + names[2] + " " +
                         loop_values_[2];
        loop_line_ = true;
        writes_in_line_ = 0;
    } else if (e.kind == Event::Kind::Write && !recent_.empty() && writes_in_line_ > 0) {
        // So do the blocks written in a row.
        ++writes_in_line_;
        write_bytes_ += static_cast<long>(e.bytes.size());
        recent_.back() = "t=" + std::to_string(static_cast<long>(e.at_ms)) + " ms out.write" +
                         (e.host_thread ? " (host thread) " : " (playback thread) ") +
                         std::to_string(writes_in_line_) + " blocks, " +
                         std::to_string(write_bytes_) + " bytes in all";
    } else {
        recent_.push_back(Describe(e));
        loop_line_ = false;
        writes_in_line_ = e.kind == Event::Kind::Write ? 1 : 0;
        write_bytes_ = static_cast<long>(e.bytes.size());
    }
    if (recent_.size() > kRecentSteps)
        recent_.pop_front();
}

bool Model::Fail(const std::string& where, const std::string& why) {
    std::ostringstream text;
    text << where << ": " << why << "\n  what the model allowed before it:";
    std::vector<std::string> shown;
    for (const Reading& r : readings_)
        if (std::find(shown.begin(), shown.end(), Describe(r)) == shown.end())
            shown.push_back(Describe(r));
    for (const std::string& line : shown)
        text << "\n    " << line;
    text << "\n  the steps before it:";
    for (const std::string& step : recent_)
        text << "\n    " << step;
    mismatch_ = text.str();
    return false;
}

std::string Model::Overdue(const Reading& r, double now) const {
    if (!r.host_playing || r.paused || r.phase == Phase::Stopped)
        return "";
    if ((r.phase == Phase::Ending && r.notices > 0) || now - r.since <= silence_ms_)
        return "";
    std::string awaited =
        r.phase == Phase::Waiting ? "track " + std::to_string(r.track) + " to begin"
        : r.phase == Phase::Ending
            ? std::string("the end-of-stream notice")
            : "audio of track " + std::to_string(r.track) + " from sample " + std::to_string(r.pos);
    return "nothing for " + std::to_string(static_cast<long>(now - r.since)) +
           " ms while the listener waits for " + awaited;
}

bool Model::Take(const Event& e) {
    ++tally_.steps;
    switch (e.kind) {
    case Event::Kind::Play:
        tally_.plays += e.returned && e.value == 0 ? 1 : 0;
        break;
    case Event::Kind::TakeRestart:
        ++tally_.requests;
        break;
    case Event::Kind::TakeEndOfStream:
        ++tally_.notices;
        break;
    case Event::Kind::Seek:
        tally_.seeks += e.returned ? 0 : 1;
        break;
    case Event::Kind::InfoBox:
        tally_.dialogs += e.returned ? 0 : 1;
        break;
    case Event::Kind::Write:
        ++tally_.writes;
        break;
    default:
        break;
    }
    heard_gap_ = e.heard_before - heard_;
    heard_ = e.heard_after;
    // What was heard up to the step came before it, and so did whatever the
    // plug-in may have done unseen meanwhile; a write's block goes in before
    // what the clock played during the call.
    const std::int64_t before =
        heard_gap_ + (e.kind == Event::Kind::Write ? 0 : e.heard_after - e.heard_before);
    Readings kept;
    std::vector<std::string> reasons;
    auto rule_out = [&reasons](const std::string& reason) {
        if (std::find(reasons.begin(), reasons.end(), reason) == reasons.end())
            reasons.push_back(reason);
    };
    auto keep = [&kept](const Reading& c) {
        // The same account reached twice keeps the earlier sign of progress:
        // the later deadline would let a stall pass.
        auto same = std::find_if(kept.begin(), kept.end(), [&c](const Reading& k) {
            Reading a = k;
            a.since = c.since;
            return a == c;
        });
        if (same == kept.end())
            kept.push_back(c);
        else
            same->since = std::min(same->since, c.since);
    };
    for (Reading r : readings_) {
        std::string reason = Overdue(r, e.at_ms);
        if (reason.empty())
            reason = Hear(r, before, e.at_ms);
        if (!reason.empty()) {
            rule_out(reason);
            continue;
        }
        for (const Reading& c : Closure(r, e.at_ms)) {
            reason.clear();
            Readings out = Apply(c, e, &reason);
            if (out.empty())
                rule_out(reason);
            for (const Reading& o : out)
                for (const Reading& d : Closure(o, e.at_ms))
                    keep(d);
        }
    }
    if (kept.empty()) {
        std::string why;
        for (std::size_t n = 0; n < reasons.size() && n < 3; ++n)
            why += (n ? "\n  or: " : "") + reasons[n];
        const std::string written = Locate(e.bytes);
        for (auto at = why.find(kWhatWasWritten); at != std::string::npos;
             at = why.find(kWhatWasWritten, at + written.size()))
            why.replace(at, std::strlen(kWhatWasWritten), written);
        return Fail("step " + std::to_string(tally_.steps) + " (" + Describe(e) + ")", why);
    }
    readings_ = std::move(kept);
    tally_.most_readings = std::max(tally_.most_readings, readings_.size());
    Remember(e);
    return true;
}

bool Model::Tick(double now_ms) {
    Readings kept;
    std::string why;
    for (const Reading& r : readings_) {
        std::string reason = Overdue(r, now_ms);
        if (reason.empty())
            kept.push_back(r);
        else if (why.empty())
            why = reason;
    }
    if (kept.empty())
        return Fail("at t=" + std::to_string(static_cast<long>(now_ms)) + " ms, after step " +
                        std::to_string(tally_.steps),
                    why);
    readings_ = std::move(kept);
    return true;
}

bool Model::Awaiting() const {
    return std::any_of(readings_.begin(), readings_.end(), [this](const Reading& r) {
        return r.host_playing && !r.paused &&
               (r.phase == Phase::Waiting || (r.phase == Phase::Ending && r.notices == 0) ||
                CanEnd(r));
    });
}

} // namespace listener
