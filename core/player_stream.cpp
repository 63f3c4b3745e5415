// The current track's stream: the decoder reads the open archive, and the
// stream lock with the decoding and seeking flags keeps its operations from
// overlapping. The playback loop adds each block's length to
// output_position in the same locked step as the block.
#include "core/player_state.h"

int PlayerState::DecodeBlock(char* buffer, int count) {
    if (end_of_stream)
        return 0;
    StreamLock hold(stream_lock);
    decoding = 1;
    // The decoder reads the track the last seek attached it to: every start
    // and every change of track rewinds before its first block.
    const int written = decoder.Read(buffer, count);
    if (decoder.ended())
        end_of_stream = 1;
    decoding = 0;
    return written;
}

void PlayerState::SeekStream(int target, int rewind) {
    StreamLock hold(stream_lock);
    seeking = 1;
    // A stream ended (or told it has) goes nowhere but back to its start.
    if (rewind || !end_of_stream) {
        archive_source.Use(archive_file);
        decoder.Attach(&archive_source, static_cast<std::uint32_t>(track_offset.load()));
        decoder.Seek(target, rewind != 0);
        output_position = decoder.position();
        end_of_stream = decoder.ended() ? 1 : 0;
    }
    seeking = 0;
}

bool PlayerState::ReadTrackHeader(TrackHeader* header) {
    StreamLock hold(stream_lock);
    // The archive may have been opened anew since the last read: nothing
    // read ahead of it is kept.
    archive_source.Open(archive_file);
    return ::ReadTrackHeader(archive_source, static_cast<std::uint32_t>(track_offset.load()),
                             header);
}
