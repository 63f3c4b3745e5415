// The player's list of names and its place in it. The list can change
// while an entry plays (a plug-in may insert and delete entries through
// the player's playlist messages): the entry playing keeps its place, and
// the next one is whatever then follows it.
#pragma once

#include "host/play_list.h"

#include <cstddef>
#include <vector>

class PlayQueue {
public:
    explicit PlayQueue(std::vector<PlayEntry> entries) : entries_(std::move(entries)) {}

    // Whether an entry is due, and which: the first, then after each call
    // of Advance the one after the entry that played.
    bool Due() const { return next_ < entries_.size(); }
    const PlayEntry& Take();
    // The entry playing (or the last one played), from 0; -1 before the first.
    int Position() const { return current_; }
    int Count() const { return static_cast<int>(entries_.size()); }
    // The name at `index`, or null outside the list.
    const char* Name(int index) const;

    // Inserts `name` at `index` (past the end, or negative: at the end) and
    // returns where it went.
    int Insert(int index, const std::string& name);
    // Deletes the entry at `index`; false outside the list.
    bool Delete(int index);

private:
    std::vector<PlayEntry> entries_;
    int current_ = -1;
    std::size_t next_ = 0;
};
