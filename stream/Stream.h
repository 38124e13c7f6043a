#pragma once

#include <cstdint>

namespace zumo {

// A readable, seekable byte source. Positions and sizes are 64-bit so that
// files of 2 GiB and more never wrap.
class Stream {
public:
    virtual ~Stream() = default;
    virtual void SetSize(int64_t newSize) = 0;
    // Copies up to count bytes to dest; returns the number delivered.
    virtual int64_t Read(void* dest, int64_t count) = 0;
    // origin 0 = from the beginning, 1 = from the current position, 2 = from the end.
    virtual int64_t Seek(int64_t offset, int origin) = 0;
    virtual int64_t Size() = 0;
};

} // namespace zumo
