// The frame search: which headers are believed, and when the lock on the
// stream's parameters moves to a new kind of frame.
//
// Bytes that look like a frame header are everywhere: in cover art, in
// packed data, and above all in PCM, where every sample of -1 is the byte
// pair FF FF. A header is therefore believed only when the frames that
// follow it confirm it: three frames of one stream in a row, each where
// the one before ends (or fewer, when the run ends right before a tag, or
// at the end of the audio where the search began).
#include "stream/Bitstream.h"

#include "stream/ByteOrder.h"
#include "stream/Header.h"

#include <algorithm>

namespace zumo {

namespace {

using namespace header;

// Sync, version and sampling-frequency bits: what the frames of one stream share.
constexpr uint32_t kLockMask = kSync.Mask() | kVersion.Mask() | kFrequency.Mask();
// Frames of one stream that must follow each other before the first of them is believed.
constexpr int kRunToBelieve = 3;
// Frames are at most as long as the buffer holds, with their header.
constexpr int32_t kLongestFrame = Bitstream::kBufferBytes + 4;

bool SingleChannel(uint32_t h) { return kMode.Of(h) == kSingleChannel; }
bool LayerOne(uint32_t h) { return kLayer.Of(h) == 3; }

// Free-format frames are taken between the lengths of the lowest and the
// highest bit rate of the table (without padding): shorter ones carry too
// little to be audio, longer ones are beyond what the layer allows.
bool FreeLengthInRange(uint32_t h, int32_t length) {
    const uint32_t unpadded = kPadding.With(h, 0);
    const uint32_t lowest = kBitrate.With(unpadded, 1);
    const uint32_t highest = kBitrate.With(unpadded, 14);
    return length >= Header::FrameBytes(lowest, 0) && length <= Header::FrameBytes(highest, 0);
}

// Tags begin with one of these letters ("ID3", "3DI", "TAG", "APETAGEX", "LYRICSBEGIN").
bool TagLetter(uint8_t b) { return b == 'I' || b == '3' || b == 'T' || b == 'A' || b == 'L'; }

} // namespace

bool Bitstream::HeaderAt(int64_t pos, uint32_t& h) {
    if (pos < 0 || pos + 4 > audioEnd) return false;
    uint8_t b[4];
    buffer->Seek(pos, 0);
    if (buffer->Read(b, 4) != 4) return false;
    h = BigEndianWord(b);
    return true;
}

bool Bitstream::MatchesLock(uint32_t h) const {
    return locked && (h & kLockMask) == lockWord && SingleChannel(h) == singleChannel;
}

void Bitstream::Lock(uint32_t h, int32_t free) {
    locked = true;
    lockWord = h & kLockMask;
    singleChannel = SingleChannel(h);
    freeBytes = Header::FreeFormat(h) ? free : 0;
}

bool Bitstream::Accept(int64_t pos, uint32_t h, int32_t free, uint32_t& headerValue) {
    Lock(h, free);
    buffer->Seek(pos + 4, 0);
    frameIndex += 1;
    lastHeader = h;
    headerValue = h;
    return true;
}

bool Bitstream::SyncHeader(uint32_t& headerValue) {
    int64_t pos = buffer->Position();
    uint32_t h = 0;
    int32_t free = 0;
    if (inRun) {
        // Right behind a frame read whole: the usual case, one probe read
        // where the stream stands. The layer, bit rate, padding and the
        // kind of two-channel mode may change from frame to frame.
        inRun = false;
        uint8_t b[4];
        if (pos + 4 <= audioEnd && buffer->Read4(b)) {
            h = BigEndianWord(b);
            if (Header::Plausible(h) && MatchesLock(h) &&
                (!Header::FreeFormat(h) || (freeBytes > 0 && Header::SameStream(h, lastHeader)))) {
                lastHeader = h;
                frameIndex += 1;
                headerValue = h;
                return true;
            }
        }
        if (HeaderAt(pos, h) && Header::Plausible(h)) {
            // Another kind of frame right where the last one ended: the
            // stream changes (joined files, a change of channel mode).
            if (Confirmed(pos, h, true, free)) return Accept(pos, h, free, headerValue);
        }
    }
    // Search, one byte at a time, stepping over tags whole. A run that ends
    // at the end of the audio confirms its first frame only where the
    // search began (the start of the audio, behind a tag or behind the last
    // frame), never a look-alike found further on inside other data. The
    // bytes are looked at a window at a time; only a byte 0xFF or the first
    // letter of a tag asks for more.
    int64_t from = pos;
    uint8_t window[4096];
    for (;;) {
        const int64_t n = PeekBytes(pos, window, std::min<int64_t>(sizeof window, audioEnd - pos));
        if (n < 4) return false;
        int64_t next = pos + n - 3;
        for (int64_t i = 0; i + 4 <= n; ++i) {
            const uint8_t b = window[i];
            if (b == 0xFF) {
                h = BigEndianWord(window + i);
                if (Header::Plausible(h) && Confirmed(pos + i, h, pos + i == from, free))
                    return Accept(pos + i, h, free, headerValue);
            } else if (TagLetter(b)) {
                const int64_t tag = TagSizeAt(pos + i);
                if (tag > 0) {
                    from = next = pos + i + tag;
                    break;
                }
            }
        }
        pos = next;
    }
}

bool Bitstream::Confirmed(int64_t pos, uint32_t h, bool atStart, int32_t& free) {
    free = 0;
    if (!Header::FreeFormat(h)) return RunFollows(pos, h, atStart, 0);
    // Free format: the frame length is the distance to the nearest header
    // of the same stream, less this frame's padding; within a run of that
    // stream it is known already. A new length is measured only where the
    // search began: look-alikes deep inside other data (a quiet steady
    // tone in PCM repeats the byte pairs FF FF at a steady distance) never
    // start a free-format stream.
    int32_t length = 0;
    if (locked && freeBytes > 0 && Header::SameStream(h, lastHeader)) {
        length = freeBytes;
    } else {
        if (!atStart) return false;
        const int32_t d = NearestSameStream(pos, h);
        length = d - static_cast<int32_t>(kPadding.Of(h)) * (LayerOne(h) ? 4 : 1);
        if (d <= 0 || !FreeLengthInRange(h, length) || (LayerOne(h) && length % 4 != 0)) return false;
    }
    if (!RunFollows(pos, h, atStart, length)) return false;
    free = length;
    return true;
}

int32_t Bitstream::NearestSameStream(int64_t pos, uint32_t h) {
    uint8_t window[kLongestFrame + 4];
    const int64_t n = PeekBytes(pos, window, std::min<int64_t>(sizeof window, audioEnd - pos));
    for (int64_t d = 1; d + 4 <= n; ++d) {
        if (window[d] != 0xFF) continue;
        const uint32_t next = BigEndianWord(window + d);
        if (Header::Plausible(next) && Header::SameStream(h, next)) return static_cast<int32_t>(d);
    }
    return -1;
}

bool Bitstream::RunFollows(int64_t pos, uint32_t h, bool endCounts, int32_t free) {
    // The frames behind the first that must be found where the one before
    // ends. A measured free-format length is set by the second frame
    // itself, so one more is needed to confirm it.
    const int behind = free > 0 ? kRunToBelieve : kRunToBelieve - 1;
    uint32_t current = h;
    for (int i = 0; i < behind; ++i) {
        const int32_t length = Header::FrameBytes(current, free);
        if (length <= 4 || length > kLongestFrame) return false;
        const int64_t next = pos + length;
        if (next > audioEnd) return false;
        if (next == audioEnd) return endCounts;
        if (free > 0) {
            // No header of the stream inside a free-format frame.
            const int32_t nearest = NearestSameStream(pos, current);
            if (nearest > 0 && nearest < length) return false;
        }
        uint32_t n = 0;
        if (!HeaderAt(next, n)) return false;
        if (!Header::Plausible(n) || !Header::SameStream(h, n))
            return TagLetter(static_cast<uint8_t>(n >> 24)) && TagSizeAt(next) > 0; // n's first byte
        pos = next;
        current = n;
    }
    return true;
}

} // namespace zumo
