#include "decoder/track_decoder.h"

#include <algorithm>

// The one chunk walk: decodes `data_bytes` data bytes (fewer if the stream
// ends), refilling the chunk as it empties, and hands each run of codes to
// `codes` with the ADPCM step, which stays in a local copy (in registers)
// until the walk is done.
template <typename Codes> void TrackDecoder::Walk(int data_bytes, Codes codes) {
    AdpcmDecoder adpcm = adpcm_;
    while (data_bytes > 0 && !ended_) {
        if (chunk_remaining_ == 0 && !RefillChunk(adpcm)) {
            ended_ = true;
            break;
        }
        const int run = std::min<int>(chunk_remaining_, data_bytes);
        codes(adpcm, chunk_ + (chunk_size_ - chunk_remaining_), run);
        position_ += kPcmBytesPerDataByte * run;
        data_bytes -= run;
        chunk_remaining_ = static_cast<std::uint16_t>(chunk_remaining_ - run);
    }
    adpcm_ = adpcm;
}

// Reads the next chunk, first noting a seek checkpoint at this boundary with
// the decoder state `adpcm`. Returns false when the stream has ended: no full
// chunk header, a wrong signature, a data size of 0 or above what a chunk may
// hold, or no data at all behind the header.
bool TrackDecoder::RefillChunk(const AdpcmDecoder& adpcm) {
    if (!measuring_)
        checkpoints_.Note(track_offset_, position_, archive_position_, adpcm.state());
    if (!source_)
        return false;
    ChunkHeader header{};
    std::size_t got = source_->ReadAt(archive_position_, &header, kChunkHeaderBytes);
    archive_position_ += got;
    if (got != static_cast<std::size_t>(kChunkHeaderBytes) || header.signature != kChunkSignature ||
        header.data_size == 0 || header.data_size > kChunkDataBytes)
        return false;
    // A chunk cut short by the end of the source still counts its full
    // size; its missing tail decodes from what the buffer held before.
    got = source_->ReadAt(archive_position_, chunk_, header.data_size);
    archive_position_ += got;
    if (got == 0)
        return false;
    chunk_size_ = header.data_size;
    chunk_remaining_ = header.data_size;
    return true;
}

int TrackDecoder::Read(char* buffer, int count) {
    const int start = position_;
    // Whole data bytes for the count rounded up; count + 3 could overflow.
    Walk(count > 0 ? (count - 1) / 4 + 1 : 0,
         [out = buffer](AdpcmDecoder& adpcm, const std::uint8_t* data, int run) mutable {
             for (int i = 0; i < run; ++i) {
                 const std::uint8_t b = data[i];
                 const auto low = static_cast<std::int16_t>(adpcm.DecodeNibble(b & 0x0F));
                 const auto high = static_cast<std::int16_t>(adpcm.DecodeNibble(b >> 4));
                 out[4 * i] = static_cast<char>(low & 0xFF);
                 out[4 * i + 1] = static_cast<char>((low >> 8) & 0xFF);
                 out[4 * i + 2] = static_cast<char>(high & 0xFF);
                 out[4 * i + 3] = static_cast<char>((high >> 8) & 0xFF);
             }
             out += 4 * run;
         });
    return position_ - start;
}

int TrackDecoder::Measure(int limit) {
    RewindTo(0);
    // The same walk as Read's, over the same chunks, with nothing decoded:
    // the decoder state it passes is not the stream's, so no checkpoint is
    // taken from it.
    measuring_ = true;
    Walk(limit > 0 ? (limit - 1) / 4 + 1 : 0, [](AdpcmDecoder&, const std::uint8_t*, int) {});
    measuring_ = false;
    const int held = position_;
    RewindTo(0);
    return held;
}

// Puts the decoder at the track's first chunk, or at the checkpoint that
// serves `target`, with the stream not ended.
void TrackDecoder::RewindTo(int target) {
    checkpoints_.Follow(track_offset_);
    SeekCheckpoint start{
        static_cast<std::uint64_t>(track_offset_) + kTrackHeaderBytes, 0, {0, 0, 0}};
    if (const SeekCheckpoint* from = checkpoints_.Before(track_offset_, target))
        start = *from;
    adpcm_ = AdpcmDecoder(start.adpcm);
    chunk_size_ = 0;
    chunk_remaining_ = 0;
    archive_position_ = start.archive_position;
    position_ = start.output_position;
    ended_ = false;
}

void TrackDecoder::Seek(int target, bool rewind) {
    if (rewind) {
        RewindTo(target);
    } else if (!ended_) {
        // Forward: jump ahead over audio decoded before, if remembered.
        const SeekCheckpoint* ahead = checkpoints_.Before(track_offset_, target);
        if (ahead && ahead->output_position > position_)
            RewindTo(target);
    }
    // After the end only a rewind brings the stream back; going on would read
    // whatever follows the last chunk as if it were one.
    if (target > position_)
        Walk((target - position_ - 1) / 4 + 1,
             [](AdpcmDecoder& adpcm, const std::uint8_t* data, int run) {
                 for (int i = 0; i < run; ++i) {
                     adpcm.DecodeNibble(data[i] & 0x0F);
                     adpcm.DecodeNibble(data[i] >> 4);
                 }
             });
}
