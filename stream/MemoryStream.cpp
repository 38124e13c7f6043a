#include "stream/MemoryStream.h"

#include <algorithm>
#include <cstring>

namespace zumo {

MemoryStream::MemoryStream(std::vector<uint8_t> data) : bytes(std::move(data)) {}

MemoryStream::MemoryStream(const uint8_t* data, size_t size) : bytes(data, data + size) {}

void MemoryStream::Truncate(size_t newSize) {
    if (newSize < bytes.size()) bytes.resize(newSize);
}

void MemoryStream::SetSize(int64_t) {}

int64_t MemoryStream::Read(void* dest, int64_t count) {
    const auto size = static_cast<int64_t>(bytes.size());
    if (count <= 0 || position >= size) return 0;
    const int64_t n = std::min(count, size - position);
    std::memcpy(dest, bytes.data() + position, static_cast<size_t>(n));
    position += n;
    return n;
}

int64_t MemoryStream::Seek(int64_t offset, int origin) {
    int64_t target;
    switch (origin) {
    case 0: target = offset; break;
    case 1: target = position + offset; break;
    case 2: target = static_cast<int64_t>(bytes.size()) + offset; break;
    default: return -1;
    }
    if (target < 0) return -1;
    position = target;
    return position;
}

int64_t MemoryStream::Size() { return static_cast<int64_t>(bytes.size()); }

} // namespace zumo
