#pragma once

#include "stream/Stream.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zumo {

// A stream over bytes held in memory, with the same contract as FileStream.
// Used by the tests, the fuzz targets and the benchmark; the bytes can be
// cut short while the stream is in use to stand for a file that shrinks.
class MemoryStream : public Stream {
public:
    explicit MemoryStream(std::vector<uint8_t> bytes);
    MemoryStream(const uint8_t* data, size_t size);

    void Truncate(size_t newSize);

    void SetSize(int64_t newSize) override;
    int64_t Read(void* dest, int64_t count) override;
    int64_t Seek(int64_t position, int origin) override;
    int64_t Size() override;

private:
    std::vector<uint8_t> bytes;
    int64_t position = 0;
};

} // namespace zumo
