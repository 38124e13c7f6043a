// Arbitrary bytes through the stream layer alone: frame search, headers,
// CRC, bit reading of every frame body, and the Layer III reservoir.
#include "stream/BitReserve.h"
#include "stream/Bitstream.h"
#include "stream/Header.h"
#include "stream/MemoryStream.h"

#include <cstddef>
#include <cstdint>
#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const uint8_t widths = data[0];
    zumo::Bitstream stream(std::make_unique<zumo::MemoryStream>(data + 1, size - 1));
    zumo::Header header;
    zumo::BitReserve reserve;
    zumo::Crc16* crc = nullptr;
    uint32_t sink = 0;
    int frames = 0;
    while (header.ReadHeader(stream, crc) && frames < 2000) {
        ++frames;
        (void)header.FrameCount(stream);
        (void)header.TotalMs(stream);
        // Read more bits than the body holds, in widths taken from the input.
        const int bytes = header.frameSize + 8;
        for (int read = 0; read < bytes * 8;) {
            const int n = 1 + (widths + read) % 32;
            sink ^= stream.GetBits(n);
            read += n;
        }
        for (int i = 0; i < header.frameSize && i < 64; ++i) reserve.PutByte(static_cast<uint8_t>(sink + i));
        sink ^= reserve.GetBits(1 + widths % 17);
        (void)header.ChecksumOk();
    }
    stream.Reset();
    return static_cast<int>(sink & 0);
}
