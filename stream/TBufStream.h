#pragma once

#include "stream/Stream.h"

#include <cstdint>
#include <cstring>
#include <vector>

namespace zumo {

// One in-memory window of a source stream. The frame reader makes many tiny
// requests (4-byte probes, 3-byte steps back, one read per frame); they are
// served from the window, and the source is read only when a request
// leaves it. Errors are raised as StreamError.
class TBufStream : public Stream {
public:
    // The window size is the requested size rounded up to a multiple of
    // 1,024 and capped at 32,768; a non-positive request gives 1,024.
    TBufStream(Stream* source, int32_t requestedSize);

    void SetSize(int64_t newSize) override;
    int64_t Read(void* dest, int64_t count) override;
    // Read of four bytes (a frame header), straight from the window when
    // they lie in it; answers whether all four came.
    bool Read4(uint8_t* dest) {
        if (bufFill - bufPos >= 4 && bufBase + bufPos + 4 <= size) {
            std::memcpy(dest, bufData.data() + bufPos, 4);
            bufPos += 4;
            if (bufPos >= bufSize) {
                bufBase += bufSize;
                bufPos = 0;
                bufFill = 0;
            }
            return true;
        }
        return Read(dest, 4) == 4;
    }
    int64_t Seek(int64_t offset, int origin) override;
    int64_t Size() override { return size; }

    int32_t BufSize() const { return bufSize; }
    int64_t BufBase() const { return bufBase; }
    int32_t BufPos() const { return bufPos; }
    int32_t BufFill() const { return bufFill; }
    int64_t Position() const { return bufBase + bufPos; }

private:
    void bsReadBuffer();

    Stream* source; // borrowed
    std::vector<uint8_t> bufData;
    int32_t bufSize;
    int64_t bufBase = 0;
    int32_t bufPos = 0;
    int32_t bufFill = 0;
    int64_t size;
};

} // namespace zumo
