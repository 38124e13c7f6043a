#include "stream/Bitstream.h"

#include "stream/FileStream.h"
#include "stream/StreamError.h"

#include <cstring>

namespace zumo {

namespace {

constexpr int32_t kWindowSize = 16384;

uint32_t ByteSwap(uint32_t v) { return __builtin_bswap32(v); }

// The layer bits of a probe (b1 bits 2..1) are 00 only for the reserved
// layer code, which almost always means a false sync.
bool ReservedLayer(uint32_t raw) { return ((raw >> 8) & 0x06) == 0; }

} // namespace

Bitstream::Bitstream(const std::string& fileName) : Bitstream(std::make_unique<FileStream>(fileName)) {}

Bitstream::Bitstream(std::unique_ptr<Stream> src)
    : source(std::move(src)), buffer(std::make_unique<TBufStream>(source.get(), kWindowSize)) {
    FindTags();
    Reset();
}

Bitstream::~Bitstream() {
    // The buffered stream borrows the source: it goes first.
    buffer.reset();
    source.reset();
}

// Looks for tags that are not audio: ID3v2 tags at the start (cover art in
// them often holds byte pairs that look like a frame header), and an ID3v1
// tag in the last 128 bytes.
void Bitstream::FindTags() {
    try {
        FindTagsIn(buffer->Size());
    } catch (const StreamError&) {
        // An unreadable file has no tags; the frame search reports the rest.
        audioStart = 0;
        trailingTag = 0;
    }
}

void Bitstream::FindTagsIn(int64_t size) {
    int64_t pos = 0;
    for (;;) {
        uint8_t h[10];
        if (pos + 10 > size) break;
        buffer->Seek(pos, 0);
        if (buffer->Read(h, 10) != 10) break;
        if (std::memcmp(h, "ID3", 3) != 0 || h[3] == 0xFF || h[4] == 0xFF) break;
        if ((h[6] | h[7] | h[8] | h[9]) & 0x80) break; // not a sync-safe size
        int64_t tagSize = (int64_t{h[6]} << 21) | (int64_t{h[7]} << 14) | (int64_t{h[8]} << 7) | h[9];
        tagSize += 10;
        if (h[5] & 0x10) tagSize += 10; // footer present
        if (pos + tagSize > size) break;
        pos += tagSize;
    }
    audioStart = pos;

    if (size - audioStart >= 128) {
        uint8_t t[3];
        buffer->Seek(size - 128, 0);
        if (buffer->Read(t, 3) == 3 && std::memcmp(t, "TAG", 3) == 0) trailingTag = 128;
    }
}

bool Bitstream::Reset() {
    buffer->Seek(audioStart, 0);
    bitPosition = 0;
    frameIndex = -1;
    return true;
}

int64_t Bitstream::StreamSize() { return source->Size(); }

int64_t Bitstream::AudioSize() {
    const int64_t size = StreamSize() - audioStart - trailingTag;
    return size > 0 ? size : 0;
}

bool Bitstream::SyncHeader(bool locked, uint32_t& headerValue) {
    for (;;) {
        uint8_t b[4];
        if (buffer->Read(b, 4) < 4) return false;
        const uint32_t raw = uint32_t{b[0]} | (uint32_t{b[1]} << 8) | (uint32_t{b[2]} << 16) | (uint32_t{b[3]} << 24);
        bool match;
        if (!locked) {
            match = (raw & 0xF0FF) == 0xF0FF;
        } else {
            match = (raw & 0x000CF8FF) == syncWord && ((b[3] & 0xC0) == 0xC0) == singleChannel;
        }
        if (match && !ReservedLayer(raw)) {
            headerValue = ByteSwap(raw);
            frameIndex += 1;
            return true;
        }
        buffer->Seek(-3, 1);
    }
}

void Bitstream::SetSyncWord(uint32_t headerValue) {
    syncWord = ByteSwap(headerValue & ~uint32_t{0xC0});
    singleChannel = (headerValue & 0xC0) == 0xC0;
}

bool Bitstream::ReadFrame(int32_t byteCount) {
    if (byteCount < 0 || byteCount > kBufferBytes) return false;
    const int64_t n = buffer->Read(frameBuffer.data(), byteCount);
    bitPosition = 0;
    readSize = byteCount;
    if (byteCount > 0) {
        for (int32_t w = (byteCount - 1) / 4; w >= 0; --w) frameBuffer[w] = ByteSwap(frameBuffer[w]);
    }
    return n == byteCount;
}

} // namespace zumo
