#include "host/status_line.h"

#include "host/host_clock.h"

#include <cstdio>
#ifdef _WIN32
#include <io.h>
#define KESTREL_ISATTY _isatty
#define KESTREL_FILENO _fileno
#else
#include <unistd.h>
#define KESTREL_ISATTY isatty
#define KESTREL_FILENO fileno
#endif

namespace {

constexpr int kTitleChars = 2048; // the host's title buffer, as large as a player's
constexpr double kRedrawMs = 250;

void PrintTime(int ms) {
    if (ms < 0) {
        std::fputs("--:--", stdout);
        return;
    }
    int seconds = ms / 1000;
    std::printf("%d:%02d", seconds / 60, seconds % 60);
}

} // namespace

StatusLine::StatusLine() : enabled_(KESTREL_ISATTY(KESTREL_FILENO(stdout)) != 0) {}

StatusLine::~StatusLine() {
    Finish();
}

void StatusLine::Update(PluginRecord* record) {
    if (!enabled_ || (drawn_ && TicksToMs(ClockTicks() - last_draw_) < kRedrawMs))
        return;
    last_draw_ = ClockTicks();
    drawn_ = true;
    char title[kTitleChars] = {};
    int length = -1;
    record->get_file_info(nullptr, title, &length);
    int heard = record->get_output_time();
    std::printf("\r\x1b[K%s  ", title);
    PrintTime(heard);
    std::fputs(" / ", stdout);
    PrintTime(length);
    std::fflush(stdout);
}

void StatusLine::Finish() {
    if (drawn_)
        std::fputs("\n", stdout);
    drawn_ = false;
}
