#include "host/event_log.h"

#include "host/host_clock.h"

#include <cinttypes>

std::string JsonString(const char* text) {
    std::string out = "\"";
    for (const char* c = text ? text : ""; *c; ++c) {
        unsigned char u = static_cast<unsigned char>(*c);
        switch (u) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (u < 0x20 || u >= 0x7F) {
                // 8-bit text of unknown code page: kept as its byte values.
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", u);
                out += escaped;
            } else {
                out += static_cast<char>(u);
            }
        }
    }
    return out + "\"";
}

EventLog::EventLog() : start_(ClockTicks()), host_thread_(GetCurrentThreadId()) {
    InitializeCriticalSection(&lock_);
}

EventLog::~EventLog() {
    if (file_)
        std::fclose(file_);
    DeleteCriticalSection(&lock_);
}

bool EventLog::Open(const std::string& path) {
    file_ = std::fopen(path.c_str(), "wb");
    start_ = ClockTicks();
    return file_ != nullptr;
}

void EventLog::WriteLine(const std::string& text) {
    EnterCriticalSection(&lock_);
    std::fputs(text.c_str(), file_);
    std::fputc('\n', file_);
    // Flushed line by line, so that a run that dies leaves its story behind.
    std::fflush(file_);
    LeaveCriticalSection(&lock_);
}

EventLog::Line::Line(EventLog* log, const char* event) : log_(log) {
    if (!log_)
        return;
    char head[96];
    std::snprintf(head, sizeof head, "{\"t\":%.3f,\"thread\":\"%s\",\"ev\":", MsSince(log_->start_),
                  GetCurrentThreadId() == log_->host_thread_ ? "host" : "play");
    text_ = head + JsonString(event);
}

EventLog::Line::~Line() {
    if (log_)
        log_->WriteLine(text_ + "}");
}

void EventLog::Line::Name(const char* name) {
    text_ += ',';
    text_ += JsonString(name);
    text_ += ':';
}

EventLog::Line& EventLog::Line::Int(const char* name, std::int64_t value) {
    if (log_) {
        Name(name);
        char number[32];
        std::snprintf(number, sizeof number, "%" PRId64, value);
        text_ += number;
    }
    return *this;
}

EventLog::Line& EventLog::Line::Num(const char* name, double value) {
    if (log_) {
        Name(name);
        char number[48];
        std::snprintf(number, sizeof number, "%.3f", value);
        text_ += number;
    }
    return *this;
}

EventLog::Line& EventLog::Line::Str(const char* name, const char* value) {
    if (log_) {
        Name(name);
        text_ += JsonString(value);
    }
    return *this;
}

EventLog::Line& EventLog::Line::Bool(const char* name, bool value) {
    if (log_) {
        Name(name);
        text_ += value ? "true" : "false";
    }
    return *this;
}
