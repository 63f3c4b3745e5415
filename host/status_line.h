// The one line a person watching a terminal sees: the playing title, the
// time heard and the track's length, redrawn in place.
#pragma once

#include "core/plugin_record.h"

class StatusLine {
public:
    // Shows nothing unless standard output is a terminal.
    StatusLine();
    ~StatusLine();
    StatusLine(const StatusLine&) = delete;
    StatusLine& operator=(const StatusLine&) = delete;

    // Redraws the line from the plug-in's answers, at most a few times a second.
    void Update(PluginRecord* record);
    // Ends the line, so that what is printed next starts on a fresh one.
    void Finish();

private:
    bool enabled_ = false;
    bool drawn_ = false;
    long long last_draw_ = 0;
};
