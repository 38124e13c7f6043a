#include "stream/TBufStream.h"

#include "stream/StreamError.h"

#include <algorithm>
#include <cstring>

namespace zumo {

namespace {

int32_t WindowSize(int32_t requested) {
    if (requested <= 0) return 1024;
    const int64_t rounded = (static_cast<int64_t>(requested) + 1023) / 1024 * 1024;
    return static_cast<int32_t>(std::min<int64_t>(rounded, 32768));
}

} // namespace

TBufStream::TBufStream(Stream* src, int32_t requestedSize)
    : source(src), bufData(static_cast<size_t>(WindowSize(requestedSize)), 0), bufSize(WindowSize(requestedSize)),
      size(src->Size()) {}

void TBufStream::bsReadBuffer() {
    bufFill = 0;
    if (source->Seek(bufBase, 0) == -1) throw StreamError("TBufStream.bsReadBuffer: seek failed");
    const int64_t n = source->Read(bufData.data(), bufSize);
    if (n <= 0) throw StreamError("TBufStream.bsReadBuffer: read failed");
    bufFill = static_cast<int32_t>(n);
}

int64_t TBufStream::Read(void* dest, int64_t count) {
    if (bufBase + bufPos + count > size) count = size - bufBase - bufPos;
    if (count <= 0) return 0;
    auto* out = static_cast<uint8_t*>(dest);

    if (bufFill == 0) bsReadBuffer();
    // A window that came back shorter than expected (the file shrank) may
    // end before bufPos; such a read copies nothing from it.
    int64_t chunk = std::clamp<int64_t>(bufFill - bufPos, 0, count);
    if (chunk > 0) std::memcpy(out, bufData.data() + bufPos, static_cast<size_t>(chunk));
    int64_t copied = 0;
    int64_t remaining = count - chunk;
    while (remaining > 0) {
        copied += chunk;
        bufBase += bufSize;
        bufPos = 0;
        bsReadBuffer();
        chunk = std::min<int64_t>(remaining, bufFill);
        std::memcpy(out + copied, bufData.data(), static_cast<size_t>(chunk));
        remaining -= chunk;
    }
    bufPos += static_cast<int32_t>(chunk);
    if (bufPos >= bufSize) {
        bufBase += bufSize;
        bufPos = 0;
        bufFill = 0;
    }
    return count;
}

int64_t TBufStream::Seek(int64_t offset, int origin) {
    int64_t target;
    switch (origin) {
    case 0: target = offset; break;
    case 1: target = bufBase + bufPos + offset; break;
    case 2: target = size + offset; break;
    default: throw StreamError("TBufStream.Seek: invalid origin");
    }
    if (target < 0 || target > size) throw StreamError("TBufStream.Seek: invalid new position");
    const int64_t newBase = target & ~static_cast<int64_t>(bufSize - 1);
    if (newBase != bufBase) {
        bufBase = newBase;
        bufFill = 0;
    }
    bufPos = static_cast<int32_t>(target - newBase);
    return target;
}

void TBufStream::SetSize(int64_t newSize) {
    size = std::max<int64_t>(newSize, 0);
    if (bufBase + bufPos > size) Seek(size, 0);
    source->SetSize(newSize);
}

} // namespace zumo
