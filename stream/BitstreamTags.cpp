// Tags that are not audio, wherever they sit: ID3v2 (with or without a
// footer), ID3v1 (and its extended "TAG+" block), APEv2 (header or footer)
// and Lyrics3. Each is skipped whole by its size, so that nothing inside
// it (cover art is full of byte pairs that look like frame headers) is
// ever taken for audio.
#include "stream/Bitstream.h"

#include "stream/StreamError.h"

#include <algorithm>
#include <cstring>

namespace zumo {

namespace {

constexpr int64_t kId3v1Size = 128;
constexpr int64_t kId3v1ExtendedSize = 227; // "TAG+", in front of an ID3v1 tag
constexpr int64_t kApeSize = 32;            // an APEv2 header or footer
constexpr int64_t kLyrics1Longest = 5100;   // lyrics of a Lyrics3 v1 tag
constexpr int64_t kLyrics2Longest = 999999; // the six-digit size of a Lyrics3 v2 tag

uint32_t LittleEndian32(const uint8_t* p) {
    return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

// The body size of an ID3v2 header or footer ("ID3" or "3DI"), or -1 when
// the ten bytes are not one.
int64_t Id3v2BodySize(const uint8_t* t, const char* magic) {
    if (std::memcmp(t, magic, 3) != 0 || t[3] < 2 || t[3] > 4 || t[4] == 0xFF) return -1;
    if ((t[6] | t[7] | t[8] | t[9]) & 0x80) return -1; // not a sync-safe size
    return (int64_t{t[6]} << 21) | (int64_t{t[7]} << 14) | (int64_t{t[8]} << 7) | t[9];
}

bool Id3v2Footer(const uint8_t* t) { return t[3] == 4 && (t[5] & 0x10) != 0; }

// An APEv2 header or footer: its tag size (items and footer, without the
// header) and flags, or false.
bool ApeFields(const uint8_t* t, uint32_t& size, uint32_t& flags) {
    if (std::memcmp(t, "APETAGEX", 8) != 0) return false;
    const uint32_t version = LittleEndian32(t + 8);
    if (version != 1000 && version != 2000) return false;
    size = LittleEndian32(t + 12);
    flags = LittleEndian32(t + 20);
    return size >= kApeSize;
}
constexpr uint32_t kApeHasHeader = 1u << 31;
constexpr uint32_t kApeIsHeader = 1u << 29;

// Six decimal digits, or -1.
int64_t SixDigits(const uint8_t* p) {
    int64_t v = 0;
    for (int i = 0; i < 6; ++i) {
        if (p[i] < '0' || p[i] > '9') return -1;
        v = v * 10 + (p[i] - '0');
    }
    return v;
}

} // namespace

int64_t Bitstream::PeekBytes(int64_t pos, uint8_t* dest, int64_t n) {
    const int64_t size = buffer->Size();
    if (pos < 0 || pos >= size) return 0;
    n = std::min(n, size - pos);
    buffer->Seek(pos, 0);
    return buffer->Read(dest, n);
}

int64_t Bitstream::TagSizeAt(int64_t pos) {
    uint8_t t[kApeSize];
    const int64_t n = PeekBytes(pos, t, kApeSize);
    const int64_t room = buffer->Size() - pos;
    if (n < 3) return 0;
    int64_t size = 0;
    switch (t[0]) {
    case 'I':
        if (n >= 10) {
            const int64_t body = Id3v2BodySize(t, "ID3");
            if (body >= 0) size = 10 + body + (Id3v2Footer(t) ? 10 : 0);
        }
        break;
    case '3':
        // A lone ID3v2 footer.
        if (n >= 10 && Id3v2BodySize(t, "3DI") >= 0) size = 10;
        break;
    case 'T':
        if (n >= 4 && std::memcmp(t, "TAG+", 4) == 0) size = kId3v1ExtendedSize;
        else if (std::memcmp(t, "TAG", 3) == 0) size = kId3v1Size;
        break;
    case 'A': {
        uint32_t apeSize = 0, flags = 0;
        // From a header the tag runs on for its size; a footer met first
        // (its items were not recognised) is skipped by itself.
        if (n == kApeSize && ApeFields(t, apeSize, flags))
            size = (flags & kApeIsHeader) ? kApeSize + apeSize : kApeSize;
        break;
    }
    case 'L':
        if (n >= 11 && std::memcmp(t, "LYRICSBEGIN", 11) == 0) size = LyricsSizeAt(pos);
        break;
    default: break;
    }
    // A tag that claims more than the file holds is no tag.
    return size > 0 && size <= room ? size : 0;
}

// A Lyrics3 tag gives no size at its start: v1 ends with "LYRICSEND" after
// at most 5,100 bytes of lyrics, v2 with a six-digit size and "LYRICS200".
// The first such end marker behind the start decides. What was looked
// through is remembered, so that a file full of "LYRICSBEGIN" is not read
// again for each of them.
int64_t Bitstream::LyricsSizeAt(int64_t pos) {
    constexpr int64_t kBegin = 11, kMarker = 9;
    const int64_t from = pos + kBegin;
    const int64_t limit = std::min(buffer->Size(), from + kLyrics2Longest + 6 + kMarker);
    LyricsMarker& m = lyricsMarker;
    if (m.from > from || (m.at >= 0 ? m.at < from : m.searchedTo < from)) m = {from, from, -1, false};
    // No marker lies in [m.from, m.searchedTo): the search goes on from there.
    uint8_t chunk[4096 + kMarker];
    while (m.at < 0 && m.searchedTo + kMarker <= limit) {
        const int64_t n = PeekBytes(m.searchedTo, chunk, std::min<int64_t>(sizeof chunk, limit - m.searchedTo));
        if (n < kMarker) break;
        for (int64_t i = 0; i + kMarker <= n; ++i) {
            if (chunk[i] != 'L' || std::memcmp(chunk + i, "LYRICS", 6) != 0) continue;
            const bool end = std::memcmp(chunk + i + 6, "END", 3) == 0;
            if (end || std::memcmp(chunk + i + 6, "200", 3) == 0) {
                m.at = m.searchedTo + i;
                m.version1 = end;
                break;
            }
        }
        if (m.at < 0) m.searchedTo += n - (kMarker - 1);
    }
    if (m.at < 0 || m.at + kMarker > limit) return 0;
    if (m.version1) return m.at - from <= kLyrics1Longest ? m.at + kMarker - pos : 0;
    uint8_t digits[6];
    if (m.at - 6 < from || PeekBytes(m.at - 6, digits, 6) != 6 || SixDigits(digits) != m.at - 6 - pos) return 0;
    return m.at + kMarker - pos;
}

// Looks for the tags at both ends once, when the file is opened. The
// leading ones are skipped by Reset; the trailing ones (found from the end
// backwards, since an APEv2 tag without header or a Lyrics3 tag can only
// be found from there) end the audio.
void Bitstream::FindTags() {
    try {
        FindTagsIn(buffer->Size());
    } catch (const StreamError&) {
        // An unreadable file has no tags; the frame search reports the rest.
        audioStart = 0;
        audioEnd = buffer->Size();
    }
}

void Bitstream::FindTagsIn(int64_t size) {
    int64_t pos = 0;
    for (int64_t tag; pos < size && (tag = TagSizeAt(pos)) > 0;) pos += tag;
    audioStart = pos;

    int64_t end = size;
    for (bool found = true; found;) {
        found = false;
        uint8_t t[kApeSize];
        if (end - audioStart >= kId3v1Size && PeekBytes(end - kId3v1Size, t, 3) == 3 && std::memcmp(t, "TAG", 3) == 0) {
            end -= kId3v1Size;
            if (end - audioStart >= kId3v1ExtendedSize && PeekBytes(end - kId3v1ExtendedSize, t, 4) == 4 &&
                std::memcmp(t, "TAG+", 4) == 0)
                end -= kId3v1ExtendedSize;
            found = true;
            continue;
        }
        uint32_t apeSize = 0, flags = 0;
        if (end - audioStart >= kApeSize && PeekBytes(end - kApeSize, t, kApeSize) == kApeSize &&
            ApeFields(t, apeSize, flags) && !(flags & kApeIsHeader)) {
            const int64_t whole = int64_t{apeSize} + ((flags & kApeHasHeader) ? kApeSize : 0);
            if (whole <= end - audioStart) {
                end -= whole;
                found = true;
                continue;
            }
        }
        if (end - audioStart >= 15 && PeekBytes(end - 15, t, 15) == 15 && std::memcmp(t + 6, "LYRICS200", 9) == 0) {
            const int64_t lyrics = SixDigits(t);
            uint8_t begin[11];
            if (lyrics >= 11 && lyrics + 15 <= end - audioStart && PeekBytes(end - 15 - lyrics, begin, 11) == 11 &&
                std::memcmp(begin, "LYRICSBEGIN", 11) == 0) {
                end -= lyrics + 15;
                found = true;
                continue;
            }
        }
        if (end - audioStart >= 20 && PeekBytes(end - 9, t, 9) == 9 && std::memcmp(t, "LYRICSEND", 9) == 0) {
            const int64_t from = std::max(audioStart, end - 9 - kLyrics1Longest - 11);
            for (int64_t at = end - 20; at >= from; --at) {
                uint8_t begin[11];
                if (PeekBytes(at, begin, 11) == 11 && std::memcmp(begin, "LYRICSBEGIN", 11) == 0) {
                    end = at;
                    found = true;
                    break;
                }
            }
            if (found) continue;
        }
        if (end - audioStart >= 20 && PeekBytes(end - 10, t, 10) == 10) {
            const int64_t body = Id3v2BodySize(t, "3DI");
            uint8_t head[10];
            if (body >= 0 && body + 20 <= end - audioStart && PeekBytes(end - 20 - body, head, 10) == 10 &&
                Id3v2BodySize(head, "ID3") == body) {
                end -= body + 20;
                found = true;
            }
        }
    }
    audioEnd = end;
}

} // namespace zumo
