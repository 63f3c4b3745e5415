// The host's log of what happened, one JSON object a line: every call the
// plug-in made into the host, every message it posted, every message box,
// and the host's own calls and measurements. Each line carries "t" (ms since
// the log was opened), "thread" ("host" for the thread that opened the log,
// "play" for any other) and "ev" (what happened).
#pragma once

#include "platform/win32.h"

#include <cstdint>
#include <cstdio>
#include <string>

class EventLog {
public:
    EventLog();
    ~EventLog();
    EventLog(const EventLog&) = delete;
    EventLog& operator=(const EventLog&) = delete;

    // Starts writing to `path`; false if it cannot be created. Until then
    // (and without it) events cost next to nothing and go nowhere.
    bool Open(const std::string& path);
    bool Enabled() const { return file_ != nullptr; }

    // One line under construction; written whole when it goes out of scope.
    class Line {
    public:
        Line(EventLog* log, const char* event);
        ~Line();
        Line(const Line&) = delete;
        Line& operator=(const Line&) = delete;
        Line& Int(const char* name, std::int64_t value);
        Line& Num(const char* name, double value);
        Line& Str(const char* name, const char* value);
        Line& Bool(const char* name, bool value);

    private:
        void Name(const char* name);
        EventLog* log_; // null when the log is off
        std::string text_;
    };

    Line Event(const char* event) { return Line(Enabled() ? this : nullptr, event); }

private:
    void WriteLine(const std::string& text);

    std::FILE* file_ = nullptr;
    std::int64_t start_ = 0;
    DWORD host_thread_ = 0;
    CRITICAL_SECTION lock_;
};

// `text` as a JSON string literal, quotes included.
std::string JsonString(const char* text);
