#include "host/play_queue.h"

const PlayEntry& PlayQueue::Take() {
    current_ = static_cast<int>(next_++);
    return entries_[static_cast<std::size_t>(current_)];
}

const char* PlayQueue::Name(int index) const {
    if (index < 0 || index >= Count())
        return nullptr;
    return entries_[static_cast<std::size_t>(index)].name.c_str();
}

int PlayQueue::Insert(int index, const std::string& name) {
    if (index < 0 || index > Count())
        index = Count();
    PlayEntry entry;
    entry.name = name;
    entries_.insert(entries_.begin() + index, entry);
    // An entry before the next one due moves it (and the playing one) on.
    if (static_cast<std::size_t>(index) < next_) {
        ++next_;
        if (index <= current_)
            ++current_;
    }
    return index;
}

bool PlayQueue::Delete(int index) {
    if (index < 0 || index >= Count())
        return false;
    entries_.erase(entries_.begin() + index);
    if (static_cast<std::size_t>(index) < next_)
        --next_;
    // The playing entry deleted: the place goes to the one that follows it.
    if (index < current_)
        --current_;
    return true;
}
