// Files put together the way real files come: runs of frames of several
// formats (MPEG-1, 2 and 2.5, every layer, free format, every channel
// mode) joined end to end, with tags (ID3v2 with and without footer,
// APEv2 with and without header, ID3v1, Lyrics3) and junk between and
// around them. The input is read as a recipe for such a file, the frame
// bodies and tag contents drawn from it, and the file goes through the
// player's whole decode path.
#include "fuzz/FuzzDecode.h"
#include "stream/Header.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

class Recipe {
public:
    Recipe(const uint8_t* data, size_t size) : data(data), size(size) {}
    bool Done() const { return at >= size; }
    uint8_t Next() { return at < size ? data[at++] : 0; }
    // n bytes: from the input while it lasts, then from a generator seeded by it.
    void Fill(std::vector<uint8_t>& out, size_t n) {
        for (size_t i = 0; i < n; ++i) {
            if (at < size) {
                out.push_back(data[at++]);
            } else {
                seed = seed * 1664525u + 1013904223u;
                out.push_back(static_cast<uint8_t>(seed >> 24));
            }
        }
    }

private:
    const uint8_t* data;
    size_t size;
    size_t at = 0;
    uint32_t seed = 12345;
};

void Put32(std::vector<uint8_t>& out, uint32_t v, bool bigEndian) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (bigEndian ? 24 - 8 * i : 8 * i)));
}

void AppendFrames(std::vector<uint8_t>& file, Recipe& r) {
    const uint8_t a = r.Next(), b = r.Next();
    const int count = 1 + r.Next() % 4;
    const int version = a & 3; // 0: MPEG-2.5, 2: MPEG-2, 3 and 1: MPEG-1
    const int layerBits = version == 0 ? 1 : 1 + (a >> 2) % 3;
    uint32_t h = 0xFFE00000u | (uint32_t(version == 1 ? 3 : version) << 19) | (uint32_t(layerBits) << 17);
    h |= uint32_t((b >> 4) & 1) << 16; // protection
    h |= uint32_t(b % 15) << 12;       // bit-rate index, 0 free format
    h |= uint32_t((a >> 4) % 3) << 10; // sampling frequency
    h |= uint32_t(a >> 6) << 6;        // mode
    h |= uint32_t((b >> 5) & 3) << 4;  // mode extension
    const int32_t freeBytes = 96 + 4 * (r.Next() % 200);
    for (int i = 0; i < count; ++i) {
        const uint32_t frame = h | (uint32_t((b >> 7) & (i & 1)) << 9); // padding every other frame
        const int32_t length = zumo::Header::FrameBytes(frame, freeBytes);
        if (length <= 4 || length > 1736) return;
        Put32(file, frame, true);
        r.Fill(file, static_cast<size_t>(length - 4));
    }
}

void AppendTag(std::vector<uint8_t>& file, Recipe& r, int kind) {
    const size_t length = size_t{r.Next()} * 4;
    std::vector<uint8_t> body;
    r.Fill(body, length);
    switch (kind) {
    case 0: { // ID3v2, footer when asked
        const bool footer = r.Next() & 1;
        const auto n = static_cast<uint32_t>(body.size());
        const uint8_t head[10] = {'I',
                                  'D',
                                  '3',
                                  4,
                                  0,
                                  static_cast<uint8_t>(footer ? 0x10 : 0),
                                  static_cast<uint8_t>((n >> 21) & 0x7F),
                                  static_cast<uint8_t>((n >> 14) & 0x7F),
                                  static_cast<uint8_t>((n >> 7) & 0x7F),
                                  static_cast<uint8_t>(n & 0x7F)};
        file.insert(file.end(), head, head + 10);
        file.insert(file.end(), body.begin(), body.end());
        if (footer) {
            file.insert(file.end(), {'3', 'D', 'I'});
            file.insert(file.end(), head + 3, head + 10);
        }
        break;
    }
    case 1: { // APEv2, header when asked
        const bool header = r.Next() & 1;
        auto block = [&](bool isHeader) {
            file.insert(file.end(), {'A', 'P', 'E', 'T', 'A', 'G', 'E', 'X'});
            Put32(file, 2000, false);
            Put32(file, static_cast<uint32_t>(body.size() + 32), false);
            Put32(file, 1, false);
            Put32(file, (header ? 1u << 31 : 0) | (isHeader ? 1u << 29 : 0), false);
            file.resize(file.size() + 8, 0);
        };
        if (header) block(true);
        file.insert(file.end(), body.begin(), body.end());
        block(false);
        break;
    }
    case 2: // ID3v1
        file.insert(file.end(), {'T', 'A', 'G'});
        body.resize(125, 0);
        file.insert(file.end(), body.begin(), body.end());
        break;
    default: { // Lyrics3 v2
        const std::string begin = "LYRICSBEGIN";
        std::vector<uint8_t> tag(begin.begin(), begin.end());
        tag.insert(tag.end(), body.begin(), body.end());
        const std::string n = std::to_string(tag.size());
        const std::string end = std::string(6 - n.size(), '0') + n + "LYRICS200";
        file.insert(file.end(), tag.begin(), tag.end());
        file.insert(file.end(), end.begin(), end.end());
        break;
    }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    Recipe recipe(data + 1, size - 1);
    std::vector<uint8_t> file;
    // Files of a few frames of each part keep the run fast.
    for (int parts = 0; !recipe.Done() && parts < 10 && file.size() < 16384; ++parts) {
        const uint8_t op = recipe.Next();
        if (op < 160) {
            AppendFrames(file, recipe);
        } else if (op < 240) {
            AppendTag(file, recipe, op % 4);
        } else {
            recipe.Fill(file, op - 230u); // junk
        }
    }
    zumo::fuzz::PlayInMemory(file.data(), file.size(), data[0]);
    return 0;
}
