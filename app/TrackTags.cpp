#include "app/TrackTags.h"

#include "app/Formats.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace zumo {
namespace {

// Longest text kept of one field, in characters: a title is one line, and a
// label as wide as a title of 60,000 characters would cost megabytes to draw.
constexpr size_t kMaxChars = 256;
// Largest text frame or item read; larger ones are passed over unread.
constexpr uint32_t kMaxTextBytes = 64 * 1024;
// Most items looked at in an APE tag.
constexpr uint32_t kMaxApeItems = 1024;

// ------------------------------------------------------------ the bytes

class Source {
public:
    virtual ~Source() = default;
    virtual uint64_t Size() const = 0;
    // Reads exactly n bytes at offset; false when they are not all there.
    virtual bool ReadAt(uint64_t offset, uint8_t* out, size_t n) = 0;
};

class FileSource : public Source {
public:
    explicit FileSource(const std::string& path) {
        // (Not blocking: a pipe named like a song must not hang the reader.)
        fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        struct stat info {};
        if (fd >= 0 && fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) size = static_cast<uint64_t>(info.st_size);
    }
    ~FileSource() override {
        if (fd >= 0) close(fd);
    }
    uint64_t Size() const override { return size; }
    bool ReadAt(uint64_t offset, uint8_t* out, size_t n) override {
        if (offset > size || n > size - offset) return false;
        while (n > 0) {
            const ssize_t got = pread(fd, out, n, static_cast<off_t>(offset));
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) return false;
            out += got;
            offset += static_cast<uint64_t>(got);
            n -= static_cast<size_t>(got);
        }
        return true;
    }

private:
    int fd = -1;
    uint64_t size = 0;
};

class MemorySource : public Source {
public:
    MemorySource(const uint8_t* data, size_t size) : data(data), size(size) {}
    uint64_t Size() const override { return size; }
    bool ReadAt(uint64_t offset, uint8_t* out, size_t n) override {
        if (offset > size || n > size - offset) return false;
        if (n > 0) std::memcpy(out, data + offset, n);
        return true;
    }

private:
    const uint8_t* data;
    size_t size;
};

uint32_t BigEndian(const uint8_t* b, int bytes) {
    uint32_t v = 0;
    for (int i = 0; i < bytes; ++i) v = v << 8 | b[i];
    return v;
}

uint32_t LittleEndian32(const uint8_t* b) {
    return static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 | static_cast<uint32_t>(b[2]) << 16 |
           static_cast<uint32_t>(b[3]) << 24;
}

// Four bytes of seven bits each, as ID3v2 stores its sizes.
uint32_t Syncsafe(const uint8_t* b) {
    return static_cast<uint32_t>(b[0]) << 21 | static_cast<uint32_t>(b[1]) << 14 | static_cast<uint32_t>(b[2]) << 7 |
           b[3];
}

bool HasTopBits(const uint8_t* b) { return ((b[0] | b[1] | b[2] | b[3]) & 0x80) != 0; }

// ------------------------------------------------------------ texts

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | c >> 6);
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | c >> 12);
        out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | c >> 18);
        out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// Decodes UTF-8, each malformed sequence becoming U+FFFD; false when there was one.
bool DecodeUtf8(const uint8_t* p, size_t n, std::u32string& out) {
    bool wellFormed = true;
    size_t i = 0;
    while (i < n) {
        const uint8_t b = p[i];
        if (b < 0x80) {
            out += b;
            ++i;
            continue;
        }
        size_t length = 0;
        char32_t c = 0, least = 0;
        if ((b & 0xE0) == 0xC0) length = 2, c = b & 0x1F, least = 0x80;
        else if ((b & 0xF0) == 0xE0) length = 3, c = b & 0x0F, least = 0x800;
        else if ((b & 0xF8) == 0xF0) length = 4, c = b & 0x07, least = 0x10000;
        bool good = length > 0 && i + length <= n;
        for (size_t k = 1; good && k < length; ++k) {
            good = (p[i + k] & 0xC0) == 0x80;
            c = c << 6 | (p[i + k] & 0x3F);
        }
        good = good && c >= least && c <= 0x10FFFF && !(c >= 0xD800 && c <= 0xDFFF);
        if (good) {
            out += c;
            i += length;
        } else {
            out += U'\uFFFD';
            wellFormed = false;
            ++i;
        }
    }
    return wellFormed;
}

// Text declared ISO-8859-1. Many taggers wrote UTF-8 there all the same: a
// text that is well-formed UTF-8 with characters beyond ASCII is taken as
// UTF-8 (a real ISO-8859-1 text almost never is).
void DecodeLatin1(const uint8_t* p, size_t n, std::u32string& out) {
    std::u32string asUtf8;
    bool beyondAscii = false;
    for (size_t i = 0; i < n; ++i) beyondAscii = beyondAscii || p[i] >= 0x80;
    if (beyondAscii && DecodeUtf8(p, n, asUtf8)) {
        out += asUtf8;
        return;
    }
    for (size_t i = 0; i < n; ++i) out += p[i];
}

void DecodeUtf16(const uint8_t* p, size_t n, bool bigEndian, std::u32string& out) {
    auto unit = [&](size_t i) -> char32_t {
        return bigEndian ? static_cast<char32_t>(p[i] << 8 | p[i + 1]) : static_cast<char32_t>(p[i + 1] << 8 | p[i]);
    };
    for (size_t i = 0; i + 1 < n; i += 2) {
        const char32_t u = unit(i);
        if (u >= 0xD800 && u <= 0xDBFF && i + 3 < n) {
            const char32_t low = unit(i + 2);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                out += 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00);
                i += 2;
                continue;
            }
        }
        out += (u >= 0xD800 && u <= 0xDFFF) ? U'\uFFFD' : u;
    }
}

// One line of text: control characters become spaces, stray byte-order
// marks go, the ends are trimmed, and the length is bounded.
std::string Clean(const std::u32string& text) {
    std::u32string line;
    for (char32_t c : text) {
        if (c == U'\uFEFF') continue;
        line += (c < 0x20 || (c >= 0x7F && c <= 0x9F)) ? U' ' : c;
    }
    size_t first = line.find_first_not_of(U' ');
    if (first == std::u32string::npos) return {};
    size_t last = line.find_last_not_of(U' ');
    std::string out;
    for (size_t i = first; i <= last && i - first < kMaxChars; ++i) AppendUtf8(out, line[i]);
    return out;
}

// Several values of one field, as ID3v2.4 and APEv2 separate them; the
// whole no longer than one value may be.
void AddPart(std::string& joined, const std::u32string& part) {
    const std::string text = Clean(part);
    if (text.empty()) return;
    if (!joined.empty()) joined += " / ";
    joined += text;
    size_t chars = 0, i = 0;
    for (; i < joined.size(); ++i) {
        if ((static_cast<uint8_t>(joined[i]) & 0xC0) != 0x80 && ++chars > kMaxChars) break;
    }
    joined.resize(i);
}

enum class Encoding { Latin1, Utf16WithBom, Utf16BigEndian, Utf8 };

// Strings in one encoding, separated by terminators (one zero byte, or one
// zero 16-bit unit in UTF-16).
std::string DecodeStrings(const uint8_t* p, size_t n, Encoding encoding) {
    std::string joined;
    if (encoding == Encoding::Latin1 || encoding == Encoding::Utf8) {
        size_t start = 0;
        for (size_t i = 0; i <= n; ++i) {
            if (i < n && p[i] != 0) continue;
            std::u32string part;
            if (encoding == Encoding::Utf8) DecodeUtf8(p + start, i - start, part);
            else DecodeLatin1(p + start, i - start, part);
            AddPart(joined, part);
            start = i + 1;
        }
        return joined;
    }
    // UTF-16: each string may start with its own byte-order mark; one
    // without takes the order of the string before, or is guessed from
    // where its zero bytes are (ASCII letters are half zero).
    bool bigEndian = encoding == Encoding::Utf16BigEndian;
    bool orderKnown = encoding == Encoding::Utf16BigEndian;
    size_t start = 0;
    for (size_t i = 0;; i += 2) {
        const bool last = i + 1 >= n;
        if (!last && !(p[i] == 0 && p[i + 1] == 0)) continue;
        const uint8_t* s = p + start;
        size_t length = i - start;
        if (encoding == Encoding::Utf16WithBom && length >= 2 &&
            ((s[0] == 0xFF && s[1] == 0xFE) || (s[0] == 0xFE && s[1] == 0xFF))) {
            bigEndian = s[0] == 0xFE;
            orderKnown = true;
            s += 2;
            length -= 2;
        } else if (!orderKnown) {
            size_t evenZeros = 0, oddZeros = 0;
            for (size_t k = 0; k + 1 < length; k += 2) {
                evenZeros += s[k] == 0;
                oddZeros += s[k + 1] == 0;
            }
            bigEndian = evenZeros > oddZeros;
        }
        std::u32string part;
        DecodeUtf16(s, length, bigEndian, part);
        AddPart(joined, part);
        if (last) return joined;
        start = i + 2;
    }
}

// An ID3v2 text frame: an encoding byte, then the strings.
std::string FrameText(const std::vector<uint8_t>& data) {
    if (data.empty() || data[0] > 3) return {};
    const Encoding encoding = static_cast<Encoding>(data[0]);
    return DecodeStrings(data.data() + 1, data.size() - 1, encoding);
}

void Fill(std::string& field, const std::string& text) {
    if (field.empty()) field = text;
}

// ------------------------------------------------------------ ID3v2

// Reads an ID3v2 tag's body front to back. Where a whole tag was
// unsynchronised (versions 2.2 and 2.3), every 0xFF 0x00 stored stands for
// 0xFF, and the reader gives the bytes as they were before.
class TagBody {
public:
    TagBody(Source& source, uint64_t begin, uint64_t end, bool unsynchronised)
        : source(source), pos(begin), end(end), unsynchronised(unsynchronised) {}

    bool Read(uint8_t* out, size_t n) {
        for (size_t i = 0; i < n;) {
            uint8_t b = 0;
            if (!NextStored(b)) return false;
            const bool stuffing = unsynchronised && afterFF && b == 0;
            afterFF = b == 0xFF;
            if (!stuffing) out[i++] = b;
        }
        return true;
    }
    bool Skip(uint64_t n) {
        if (!unsynchronised) {
            if (n > end - pos) return false;
            pos += n;
            return true;
        }
        uint8_t scratch[512];
        while (n > 0) {
            const size_t step = n < sizeof scratch ? static_cast<size_t>(n) : sizeof scratch;
            if (!Read(scratch, step)) return false;
            n -= step;
        }
        return true;
    }
    // Where the next stored byte lies in the file.
    uint64_t Position() const { return pos; }

private:
    bool NextStored(uint8_t& b) {
        if (pos >= end) return false;
        if (pos < bufferStart || pos >= bufferStart + bufferLength) {
            const uint64_t left = end - pos;
            bufferLength = left < sizeof buffer ? static_cast<size_t>(left) : sizeof buffer;
            bufferStart = pos;
            if (!source.ReadAt(pos, buffer, bufferLength)) {
                bufferLength = 0;
                return false;
            }
        }
        b = buffer[pos - bufferStart];
        ++pos;
        return true;
    }

    Source& source;
    uint64_t pos;
    uint64_t end;
    bool unsynchronised;
    bool afterFF = false;
    uint8_t buffer[4096];
    uint64_t bufferStart = 0;
    size_t bufferLength = 0;
};

bool FrameIdValid(const uint8_t* id, size_t length) {
    for (size_t i = 0; i < length; ++i)
        if (!((id[i] >= 'A' && id[i] <= 'Z') || (id[i] >= '0' && id[i] <= '9'))) return false;
    return true;
}

// Whether what lies at `offset` can follow a frame: another frame, the
// padding, or the end of the tag.
bool FrameCanFollowAt(Source& source, uint64_t offset, uint64_t end) {
    if (offset == end) return true;
    if (offset > end) return false;
    uint8_t id[4] = {};
    const size_t n = end - offset < 4 ? static_cast<size_t>(end - offset) : 4;
    if (!source.ReadAt(offset, id, n)) return false;
    return id[0] == 0 || (n == 4 && FrameIdValid(id, 4));
}

// ID3v2.4 stores frame sizes as syncsafe integers, but some writers stored
// plain ones there, as version 2.3 does. A size with a top bit set can only
// be plain; otherwise the syncsafe reading stands unless it lands where no
// frame can follow and the plain one lands where one can.
uint32_t Version4FrameSize(Source& source, const uint8_t* b, uint64_t dataStart, uint64_t end) {
    const uint32_t plain = BigEndian(b, 4);
    if (HasTopBits(b)) return plain;
    const uint32_t syncsafe = Syncsafe(b);
    if (plain == syncsafe || FrameCanFollowAt(source, dataStart + syncsafe, end)) return syncsafe;
    return FrameCanFollowAt(source, dataStart + plain, end) ? plain : syncsafe;
}

// Undoes the unsynchronisation of one ID3v2.4 frame.
void Resynchronise(std::vector<uint8_t>& data) {
    size_t out = 0;
    for (size_t i = 0; i < data.size(); ++i) {
        if (i > 0 && data[i] == 0 && data[i - 1] == 0xFF) continue;
        data[out++] = data[i];
    }
    data.resize(out);
}

std::string* FieldFor(const uint8_t* id, int version, TrackTags& tags) {
    const std::string name(reinterpret_cast<const char*>(id), version == 2 ? 3 : 4);
    if (name == "TIT2" || name == "TT2") return &tags.title;
    if (name == "TPE1" || name == "TP1") return &tags.artist;
    if (name == "TALB" || name == "TAL") return &tags.album;
    return nullptr;
}

void ReadId3v2(Source& source, TrackTags& tags) {
    uint8_t header[10];
    if (!source.ReadAt(0, header, sizeof header) || std::memcmp(header, "ID3", 3) != 0) return;
    const int version = header[3];
    const uint8_t flags = header[5];
    if (version < 2 || version > 4 || header[4] == 0xFF || HasTopBits(header + 6)) return;
    // Version 2.2 named a compression it never defined.
    if (version == 2 && (flags & 0x40)) return;
    // A tag that claims more than the file holds is read as far as the file goes.
    const uint64_t claimedEnd = 10 + static_cast<uint64_t>(Syncsafe(header + 6));
    const uint64_t end = claimedEnd < source.Size() ? claimedEnd : source.Size();
    TagBody body(source, 10, end, version < 4 && (flags & 0x80));

    if (version >= 3 && (flags & 0x40)) {
        uint8_t size[4];
        if (!body.Read(size, 4)) return;
        if (version == 3) { // the size of what follows
            if (!body.Skip(BigEndian(size, 4))) return;
        } else { // syncsafe, the size field included
            if (HasTopBits(size) || Syncsafe(size) < 6 || !body.Skip(Syncsafe(size) - 4)) return;
        }
    }

    // The frames, up to the padding, the end, or the first damaged frame;
    // what was read before the damage stands.
    const size_t idLength = version == 2 ? 3 : 4;
    const size_t headerLength = version == 2 ? 6 : 10;
    for (;;) {
        uint8_t frame[10];
        if (!body.Read(frame, headerLength) || frame[0] == 0 || !FrameIdValid(frame, idLength)) return;
        uint32_t size = 0;
        uint8_t format = 0;
        if (version == 2) {
            size = BigEndian(frame + 3, 3);
        } else if (version == 3) {
            size = BigEndian(frame + 4, 4);
            format = frame[9];
        } else {
            size = Version4FrameSize(source, frame + 4, body.Position(), end);
            format = frame[9];
        }
        std::string* field = FieldFor(frame, version, tags);
        const bool packed = version == 3 ? (format & 0xC0) != 0 : (format & 0x0C) != 0; // compressed or encrypted
        if (!field || !field->empty() || packed || size > kMaxTextBytes) {
            if (!body.Skip(size)) return;
            continue;
        }
        std::vector<uint8_t> data(size);
        if (!body.Read(data.data(), size)) return;
        if (version == 4 && ((flags & 0x80) || (format & 0x02))) Resynchronise(data);
        // A group byte, and in version 2.4 a data length, come before the text.
        size_t prefix = 0;
        if (version == 3 && (format & 0x20)) prefix = 1;
        if (version == 4) prefix = (format & 0x40 ? 1 : 0) + (format & 0x01 ? 4 : 0);
        if (prefix > data.size()) continue;
        data.erase(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(prefix));
        *field = FrameText(data);
    }
}

// ------------------------------------------------------------ ID3v1 and APEv2

bool HasId3v1(Source& source) {
    uint8_t marker[3];
    return source.Size() >= 128 && source.ReadAt(source.Size() - 128, marker, 3) && std::memcmp(marker, "TAG", 3) == 0;
}

// A fixed ID3v1 field: ISO-8859-1, ended by a zero byte or padded with spaces.
std::string Id3v1Field(const uint8_t* p, size_t n) {
    size_t length = 0;
    while (length < n && p[length] != 0) ++length;
    std::u32string text;
    DecodeLatin1(p, length, text);
    return Clean(text);
}

void ReadId3v1(Source& source, TrackTags& tags) {
    if (!HasId3v1(source)) return;
    uint8_t tag[128];
    if (!source.ReadAt(source.Size() - 128, tag, sizeof tag)) return;
    Fill(tags.title, Id3v1Field(tag + 3, 30));
    Fill(tags.artist, Id3v1Field(tag + 33, 30));
    Fill(tags.album, Id3v1Field(tag + 63, 30));
}

bool SameKey(const std::string& key, const char* name) {
    if (key.size() != std::strlen(name)) return false;
    for (size_t i = 0; i < key.size(); ++i) {
        char c = key[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != name[i]) return false;
    }
    return true;
}

// An APE tag ends with a 32-byte footer, at the end of the file or just
// before an ID3v1 tag; its items lie before the footer.
void ReadApe(Source& source, TrackTags& tags) {
    const uint64_t tagEnd = HasId3v1(source) ? source.Size() - 128 : source.Size();
    if (tagEnd < 32) return;
    uint8_t footer[32];
    if (!source.ReadAt(tagEnd - 32, footer, sizeof footer) || std::memcmp(footer, "APETAGEX", 8) != 0) return;
    const uint32_t version = LittleEndian32(footer + 8);
    const uint32_t size = LittleEndian32(footer + 12); // the items and the footer
    const uint32_t count = LittleEndian32(footer + 16);
    const uint32_t flags = LittleEndian32(footer + 20);
    if ((version != 1000 && version != 2000) || (flags & (1u << 29)) || size < 32 || size > tagEnd) return;

    uint64_t pos = tagEnd - size;
    const uint64_t itemsEnd = tagEnd - 32;
    for (uint32_t item = 0; item < count && item < kMaxApeItems; ++item) {
        // Value size, flags, then a key of 2 to 255 printable ASCII characters ended by a zero byte.
        uint8_t head[8 + 256];
        if (itemsEnd - pos < 8 + 3) return;
        const size_t headLength = itemsEnd - pos < sizeof head ? static_cast<size_t>(itemsEnd - pos) : sizeof head;
        if (!source.ReadAt(pos, head, headLength)) return;
        const uint32_t valueSize = LittleEndian32(head);
        const uint32_t itemFlags = LittleEndian32(head + 4);
        size_t keyLength = 0;
        while (8 + keyLength < headLength && head[8 + keyLength] != 0) {
            if (head[8 + keyLength] < 0x20 || head[8 + keyLength] > 0x7E) return;
            ++keyLength;
        }
        if (8 + keyLength >= headLength || keyLength < 2 || keyLength > 255) return;
        const uint64_t valueStart = pos + 8 + keyLength + 1;
        if (valueSize > itemsEnd - valueStart) return;
        const std::string key(reinterpret_cast<const char*>(head + 8), keyLength);
        std::string* field = SameKey(key, "title")    ? &tags.title
                             : SameKey(key, "artist") ? &tags.artist
                             : SameKey(key, "album")  ? &tags.album
                                                      : nullptr;
        const bool text = ((itemFlags >> 1) & 3) == 0;
        if (field && field->empty() && text && valueSize <= kMaxTextBytes) {
            std::vector<uint8_t> value(valueSize);
            if (!source.ReadAt(valueStart, value.data(), value.size())) return;
            *field = DecodeStrings(value.data(), value.size(), version == 2000 ? Encoding::Utf8 : Encoding::Latin1);
        }
        pos = valueStart + valueSize;
    }
}

TrackTags ReadAll(Source& source) {
    TrackTags tags;
    try {
        ReadId3v2(source, tags);
        ReadApe(source, tags);
        ReadId3v1(source, tags);
    } catch (...) {
        // (Only memory can run out here; a file's tags are not worth more.)
    }
    return tags;
}

} // namespace

TrackTags ReadTrackTags(const std::string& path) {
    FileSource source(path);
    return ReadAll(source);
}

TrackTags ReadTrackTags(const uint8_t* data, size_t size) {
    MemorySource source(data, size);
    return ReadAll(source);
}

std::string DisplayTitle(const TrackTags& tags, const std::string& path) {
    if (tags.title.empty()) return TitleOf(path);
    if (tags.artist.empty()) return tags.title;
    return tags.artist + " \xE2\x80\x93 " + tags.title; // an en dash between
}

} // namespace zumo
