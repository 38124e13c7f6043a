#include "app/TrackTags.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

using namespace zumo;
using namespace std::string_literals;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes B(const std::string& text) { return Bytes(text.begin(), text.end()); }

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes BigEndian(uint32_t v, int bytes) {
    Bytes out;
    for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
    return out;
}

Bytes Syncsafe(uint32_t v) {
    return {static_cast<uint8_t>(v >> 21 & 0x7F), static_cast<uint8_t>(v >> 14 & 0x7F),
            static_cast<uint8_t>(v >> 7 & 0x7F), static_cast<uint8_t>(v & 0x7F)};
}

Bytes LittleEndian32(uint32_t v) {
    return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
            static_cast<uint8_t>(v >> 24)};
}

// A frame with the size field of its version (2.4: syncsafe).
Bytes Frame(int version, const std::string& id, const Bytes& data, uint8_t format = 0) {
    if (version == 2) return B(id) + BigEndian(static_cast<uint32_t>(data.size()), 3) + data;
    const Bytes size = version == 3 ? BigEndian(static_cast<uint32_t>(data.size()), 4)
                                    : Syncsafe(static_cast<uint32_t>(data.size()));
    return B(id) + size + Bytes{0, format} + data;
}

Bytes Tag(int version, uint8_t flags, const Bytes& body) {
    return B("ID3") + Bytes{static_cast<uint8_t>(version), 0, flags} + Syncsafe(static_cast<uint32_t>(body.size())) +
           body;
}

// UTF-16 with a byte-order mark.
Bytes Utf16(const std::u16string& text, bool bigEndian) {
    Bytes out = bigEndian ? Bytes{0xFE, 0xFF} : Bytes{0xFF, 0xFE};
    for (char16_t u : text) {
        const uint8_t hi = static_cast<uint8_t>(u >> 8), lo = static_cast<uint8_t>(u);
        out.push_back(bigEndian ? hi : lo);
        out.push_back(bigEndian ? lo : hi);
    }
    return out;
}

Bytes Id3v1(const std::string& title, const std::string& artist, const std::string& album) {
    Bytes tag = B("TAG");
    for (const std::string* field : {&title, &artist, &album}) {
        Bytes f = B(*field);
        f.resize(30, ' ');
        tag = tag + f;
    }
    tag.resize(128, 0);
    return tag;
}

Bytes ApeItem(const std::string& key, const std::string& value) {
    return LittleEndian32(static_cast<uint32_t>(value.size())) + LittleEndian32(0) + B(key) + Bytes{0} + B(value);
}

Bytes ApeTag(const Bytes& items, uint32_t count) {
    return items + B("APETAGEX") + LittleEndian32(2000) + LittleEndian32(static_cast<uint32_t>(items.size() + 32)) +
           LittleEndian32(count) + LittleEndian32(0) + Bytes(8, 0);
}

const Bytes kAudio(300, 0x55); // stands for the frames between the tags

TrackTags Read(const Bytes& file) { return ReadTrackTags(file.data(), file.size()); }

} // namespace

TEST(TrackTags, ReadsEveryId3v2VersionAndTextEncoding) {
    // 2.2: three-letter frames; ISO-8859-1.
    TrackTags v22 = Read(Tag(2, 0, Frame(2, "TT2", Bytes{0} + B("Caf\xE9")) + Frame(2, "TP1", Bytes{0} + B("Band"))) +
                         kAudio);
    EXPECT_EQ(v22.title, "Caf\xC3\xA9");
    EXPECT_EQ(v22.artist, "Band");

    // 2.3: UTF-16 of either byte order, a character beyond the 16-bit
    // range, and an ISO-8859-1 frame that really holds UTF-8.
    TrackTags v23 = Read(Tag(3, 0,
                             Frame(3, "TIT2", Bytes{1} + Utf16(u"Gr\u00FC\u00DFe \U0001F3B5", false) + Bytes{0, 0}) +
                                 Frame(3, "TPE1", Bytes{1} + Utf16(u"\u00C4rzte", true)) +
                                 Frame(3, "TALB", Bytes{0} + B("M\xC3\xA4rchen")) + Bytes(40, 0)) +
                         kAudio);
    EXPECT_EQ(v23.title,
              "Gr\xC3\xBC\xC3\x9F"
              "e \xF0\x9F\x8E\xB5");
    EXPECT_EQ(v23.artist, "\xC3\x84rzte");
    EXPECT_EQ(v23.album, "M\xC3\xA4rchen");

    // 2.4: UTF-8, UTF-16 big-endian without a mark, several values in one
    // frame, a frame of another kind first, control characters.
    TrackTags v24 = Read(Tag(4, 0,
                             Frame(4, "TXXX", Bytes{3} + B("x\0y"s)) +
                                 Frame(4, "TIT2", Bytes{3} + B("\xCE\x95\xCE\xBB\tTitle\n")) +
                                 Frame(4, "TPE1", Bytes{2, 0, 'A', 0, 0, 0, 'B'})) +
                         kAudio);
    EXPECT_EQ(v24.title, "\xCE\x95\xCE\xBB Title");
    EXPECT_EQ(v24.artist, "A / B");

    EXPECT_EQ(DisplayTitle(v24, "/m/x.mp3"), "A / B \xE2\x80\x93 \xCE\x95\xCE\xBB Title");
    EXPECT_EQ(DisplayTitle(TrackTags{"Solo", "", ""}, "/m/x.mp3"), "Solo");
    EXPECT_EQ(DisplayTitle(TrackTags{"", "Band", "Album"}, "/m/file name.mp3"), "file name");
}

TEST(TrackTags, UndoesUnsynchronisation) {
    // The text a, 0xFF, 0xE1, b: stored with a zero byte after the 0xFF.
    const Bytes text = {0, 'a', 0xFF, 0xE1, 'b'};
    const Bytes stored = {0, 'a', 0xFF, 0x00, 0xE1, 'b'};
    const std::string expected =
        "a\xC3\xBF\xC3\xA1"
        "b";

    // 2.3: the whole tag, frame headers included; sizes are of the text.
    Bytes frame = Frame(3, "TIT2", text);
    Bytes body = Bytes(frame.begin(), frame.begin() + 10) + stored;
    EXPECT_EQ(Read(Tag(3, 0x80, body) + kAudio).title, expected);

    // 2.4: frame by frame, flagged in the frame or for the whole tag; the
    // size is of what is stored, and a data length may come first.
    EXPECT_EQ(Read(Tag(4, 0, Frame(4, "TIT2", stored, 0x02)) + kAudio).title, expected);
    EXPECT_EQ(Read(Tag(4, 0x80, Frame(4, "TIT2", stored)) + kAudio).title, expected);
    EXPECT_EQ(Read(Tag(4, 0, Frame(4, "TIT2", Syncsafe(5) + stored, 0x03)) + kAudio).title, expected);
}

TEST(TrackTags, LaterTagsFillWhatEarlierOnesLack) {
    const Bytes file = Tag(3, 0, Frame(3, "TIT2", Bytes{0} + B("From ID3v2"))) + kAudio +
                       ApeTag(ApeItem("Title", "From APE") + ApeItem("ARTIST", "Ape Artist"), 2) +
                       Id3v1("From v1", "V1 Artist", "V1 Album");
    EXPECT_EQ(Read(file), (TrackTags{"From ID3v2", "Ape Artist", "V1 Album"}));
    // ID3v1 alone: fields padded with spaces, or ended by a zero byte.
    EXPECT_EQ(Read(kAudio + Id3v1("Thirty characters of title....", "Band", "")),
              (TrackTags{"Thirty characters of title....", "Band", ""}));
    EXPECT_EQ(Read(kAudio), TrackTags());
}

TEST(TrackTags, DamagedTagsAreIgnoredAndNothingIsReadBeyondTheFile) {
    // A tag that claims more than the file holds: its whole frames count.
    Bytes cut = Tag(3, 0, Frame(3, "TIT2", Bytes{0} + B("Whole")) + Frame(3, "TPE1", Bytes(5000, 'x')));
    cut.resize(cut.size() - 4000);
    EXPECT_EQ(Read(cut), (TrackTags{"Whole", "", ""}));
    // A frame larger than its tag: dropped, what came before stands.
    Bytes big = Frame(3, "TPE1", Bytes{0} + B("Too long"));
    big[7] = 200;
    EXPECT_EQ(Read(Tag(3, 0, Frame(3, "TALB", Bytes{0} + B("Album")) + big) + kAudio), (TrackTags{"", "", "Album"}));
    // A tag size that is not syncsafe: the tag is not one; ID3v1 still counts.
    Bytes bad = Tag(3, 0, Frame(3, "TIT2", Bytes{0} + B("Bad"))) + kAudio + Id3v1("Good", "", "");
    bad[8] = 0x80;
    EXPECT_EQ(Read(bad).title, "Good");
    // Frame sizes written plain in 2.4 (0x100 reads 128 as syncsafe).
    const Bytes title(255, 't');
    Bytes plain = B("TIT2") + BigEndian(256, 4) + Bytes{0, 0} + Bytes{0} + title;
    EXPECT_EQ(Read(Tag(4, 0, plain + Frame(4, "TPE1", Bytes{0} + B("Artist"))) + kAudio),
              (TrackTags{std::string(255, 't'), "Artist", ""}));
    // APE items whose sizes point past the tag, and an absurd item count.
    Bytes ape = ApeTag(ApeItem("Title", "Fine") + LittleEndian32(100000) + LittleEndian32(0) + B("Artist") + Bytes{0},
                       4000000);
    EXPECT_EQ(Read(kAudio + ape), (TrackTags{"Fine", "", ""}));
    // A title too long to show is cut.
    EXPECT_EQ(Read(Tag(3, 0, Frame(3, "TIT2", Bytes{0} + Bytes(3000, 'y')))).title.size(), 256u);

    // Every byte of a file with all three tags damaged in turn, and every
    // length it could be cut to: no read outside the data (the sanitizer
    // builds check), and never a text longer than a field may be.
    const Bytes whole = Tag(4, 0x80,
                            Frame(4, "TIT2", Bytes{1} + Utf16(u"T\u00EFtle", false), 0x03) +
                                Frame(4, "TPE1", Bytes{3} + B("Art\xFF\x00ist"s), 0x02)) +
                        Bytes(20, 0x11) + ApeTag(ApeItem("Album", "Alb"), 1) + Id3v1("t", "a", "b");
    std::mt19937 random(7);
    for (size_t i = 0; i < whole.size(); ++i) {
        for (uint8_t value : {uint8_t{0x00}, uint8_t{0xFF}, uint8_t{0x7F}, static_cast<uint8_t>(random())}) {
            Bytes damaged = whole;
            damaged[i] = value;
            const TrackTags tags = Read(damaged);
            EXPECT_LE(tags.title.size() + tags.artist.size() + tags.album.size(), 3u * 256 * 4);
        }
        Read(Bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(i)));
    }
}
