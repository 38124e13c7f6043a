#include "stream/Bitstream.h"

#include "stream/ByteOrder.h"
#include "stream/FileStream.h"

namespace zumo {

namespace {

constexpr int32_t kWindowSize = 16384;

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

bool Bitstream::Reset() {
    buffer->Seek(audioStart, 0);
    bitPosition = 0;
    frameIndex = -1;
    inRun = false;
    return true;
}

int64_t Bitstream::StreamSize() { return source->Size(); }

int64_t Bitstream::AudioSize() {
    const int64_t size = audioEnd - audioStart;
    return size > 0 ? size : 0;
}

bool Bitstream::ReadFrame(int32_t byteCount) {
    inRun = false;
    if (byteCount < 0 || byteCount > kBufferBytes) return false;
    // A frame never reaches into the trailing tags: one that would is cut
    // short, like a frame at the end of the file.
    const int64_t available = std::max<int64_t>(audioEnd - buffer->Position(), 0);
    const int64_t n = buffer->Read(frameBuffer.data(), std::min<int64_t>(byteCount, available));
    bitPosition = 0;
    readSize = byteCount;
    // The bytes become big-endian words, the next bit of the body always
    // the highest bit of its word.
    if (byteCount > 0) {
        for (int32_t w = (byteCount - 1) / 4; w >= 0; --w) frameBuffer[w] = FromBigEndian(frameBuffer[w]);
    }
    inRun = n == byteCount;
    return inRun;
}

} // namespace zumo
