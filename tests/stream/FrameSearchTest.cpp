// Which frames the reader believes: files that are not MPEG audio, tags
// anywhere in a file, files joined end to end, free format.
#include "stream/Header.h"
#include "stream/MemoryStream.h"
#include "support/BitWriter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>

using namespace zumo;
using namespace zumo::test;

namespace {

struct Walked {
    int layer = 0;
    int version = 0;
    bool mpeg25 = false;
    int frequency = 0;
    int mode = 0;
    int frameSize = 0;
    int bitrate = 0;
    bool operator==(const Walked&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Walked& w) {
    return out << "{layer " << w.layer << ", version " << w.version << (w.mpeg25 ? ".5" : "") << ", " << w.frequency
               << " Hz, mode " << w.mode << ", body " << w.frameSize << ", " << w.bitrate << " bit/s}";
}

// Every frame the reader gives, the way the player reads them (the bit rate
// is compared only where a test sets it).
std::vector<Walked> Walk(const std::vector<uint8_t>& bytes) {
    Bitstream stream(std::make_unique<MemoryStream>(bytes));
    Header header;
    Crc16* crc = nullptr;
    std::vector<Walked> frames;
    while (header.ReadHeader(stream, crc) && frames.size() < 10000)
        frames.push_back({header.layer, header.version, header.mpeg25, header.Frequency(), header.mode,
                          header.frameSize, header.bitrateIndex == 0 ? header.Bitrate() : 0});
    return frames;
}

Walked Expected(const FrameFields& f) {
    static const int freqs[3][3] = {{22050, 24000, 16000}, {44100, 48000, 32000}, {11025, 12000, 8000}};
    const int frequency = freqs[f.mpeg25 ? 2 : f.version][f.sampleFrequency];
    return {f.layer, f.version, f.mpeg25, frequency, f.mode, FrameBodySize(f), 0};
}

// n frames of one kind, with bodies that hold no byte 0xFF.
void AppendRun(std::vector<uint8_t>& file, const FrameFields& f, int n, std::vector<Walked>* expected = nullptr) {
    for (int i = 0; i < n; ++i) {
        std::vector<uint8_t> body(static_cast<size_t>(FrameBodySize(f)));
        for (size_t k = 0; k < body.size(); ++k) body[k] = static_cast<uint8_t>((k * 7 + i) % 0xF0);
        AppendFrame(file, f, body);
        if (expected) expected->push_back(Expected(f));
    }
}

// Bytes that a naive search takes for frames: the header of a 128 kbit/s
// MPEG-1 Layer III stereo frame at 44.1 kHz again and again, between
// random bytes, the way a picture or packed data may hold them.
std::vector<uint8_t> LookAlikes(size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> bytes(n);
    for (auto& b : bytes) b = static_cast<uint8_t>(rng());
    for (size_t i = 16; i + 4 < n; i += 97) {
        bytes[i] = 0xFF;
        bytes[i + 1] = 0xFB;
        bytes[i + 2] = 0x90;
        bytes[i + 3] = 0x00;
    }
    return bytes;
}

void Append(std::vector<uint8_t>& file, const std::string& text) { file.insert(file.end(), text.begin(), text.end()); }
void Append(std::vector<uint8_t>& file, const std::vector<uint8_t>& bytes) {
    file.insert(file.end(), bytes.begin(), bytes.end());
}
void Append32(std::vector<uint8_t>& file, uint32_t v) { // little-endian
    for (int i = 0; i < 4; ++i) file.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// An ID3v2.4 tag holding a PNG "cover picture", with or without a footer.
std::vector<uint8_t> Id3v2WithPicture(size_t pictureBytes, bool footer, unsigned seed) {
    std::vector<uint8_t> body;
    Append(body, "APIC");
    body.resize(10, 0);
    Append(body, std::string("\\0image/png\\0\\3\\0", 15));
    Append(body, std::string("\\x89PNG\\r\\n\\x1a\\n", 8));
    Append(body, LookAlikes(pictureBytes, seed));
    const auto size = static_cast<uint32_t>(body.size());
    std::vector<uint8_t> tag = {'I',
                                'D',
                                '3',
                                4,
                                0,
                                static_cast<uint8_t>(footer ? 0x10 : 0),
                                static_cast<uint8_t>((size >> 21) & 0x7F),
                                static_cast<uint8_t>((size >> 14) & 0x7F),
                                static_cast<uint8_t>((size >> 7) & 0x7F),
                                static_cast<uint8_t>(size & 0x7F)};
    Append(tag, body);
    if (footer) {
        std::vector<uint8_t> foot(tag.begin(), tag.begin() + 10);
        foot[0] = '3', foot[1] = 'D', foot[2] = 'I';
        Append(tag, foot);
    }
    return tag;
}

// An APEv2 tag with a binary "Cover Art (Front)" item, with a header and a
// footer or with the footer only.
std::vector<uint8_t> ApeWithPicture(size_t pictureBytes, bool withHeader, unsigned seed) {
    std::vector<uint8_t> item;
    Append32(item, static_cast<uint32_t>(pictureBytes + 9));
    Append32(item, 2); // binary
    Append(item, std::string("Cover Art (Front)\\0cover.png\\0", 28));
    Append(item, LookAlikes(pictureBytes, seed));
    auto block = [&](bool isHeader) {
        std::vector<uint8_t> b;
        Append(b, "APETAGEX");
        Append32(b, 2000);
        Append32(b, static_cast<uint32_t>(item.size() + 32));
        Append32(b, 1);
        Append32(b, (withHeader ? 1u << 31 : 0) | (isHeader ? 1u << 29 : 0));
        b.resize(32, 0);
        return b;
    };
    std::vector<uint8_t> tag;
    if (withHeader) Append(tag, block(true));
    Append(tag, item);
    Append(tag, block(false));
    return tag;
}

std::vector<uint8_t> Id3v1() {
    std::vector<uint8_t> tag;
    Append(tag, "TAG");
    Append(tag, LookAlikes(125, 3)); // the text fields of a careless tagger
    return tag;
}

std::vector<uint8_t> Lyrics3v2() {
    std::vector<uint8_t> tag;
    Append(tag, "LYRICSBEGININD0000211LYR00010");
    Append(tag, LookAlikes(10, 4));
    const std::string size = std::to_string(tag.size());
    Append(tag, std::string(6 - size.size(), '0') + size + "LYRICS200");
    return tag;
}

} // namespace

// Files that are not MPEG audio hold byte pairs that look like a frame
// header; none of them is believed, because no second frame follows it.
TEST(FrameSearch, FilesThatAreNotMpegAudioGiveNoFrame) {
    std::mt19937 rng(17);
    auto noise = [&](size_t n) {
        std::vector<uint8_t> v(n);
        for (auto& b : v) b = static_cast<uint8_t>(rng());
        return v;
    };
    std::vector<std::pair<std::string, std::vector<uint8_t>>> files;
    std::vector<uint8_t> text;
    for (int i = 0; i < 400; ++i) Append(text, "A line of notes, not music at all.\\n");
    files.emplace_back("text", text);
    std::vector<uint8_t> wav;
    Append(wav, "RIFF");
    Append32(wav, 36 + 200000);
    Append(wav, "WAVEfmt ");
    Append32(wav, 16);
    Append(wav, std::vector<uint8_t>{1, 0, 2, 0, 0x44, 0xAC, 0, 0, 0x10, 0xB1, 2, 0, 4, 0, 16, 0});
    Append(wav, "data");
    Append32(wav, 200000);
    for (int i = 0; i < 50000; ++i) {
        // Music-like: a tone over noise, loud and then quiet; the samples
        // near -1 and the noise give byte pairs FF Fx all over.
        const double level = i < 25000 ? 6000.0 : 40.0;
        for (int c = 0; c < 2; ++c) {
            const auto s = static_cast<int16_t>(level * std::sin(i * 0.03 + c) + static_cast<int>(rng() % 401) - 200);
            wav.insert(wav.end(), {static_cast<uint8_t>(s & 0xFF), static_cast<uint8_t>(s >> 8)});
        }
    }
    files.emplace_back("WAV", wav);
    std::vector<uint8_t> flac;
    Append(flac, "fLaC");
    Append(flac, noise(100000));
    files.emplace_back("FLAC", flac);
    std::vector<uint8_t> m4a = {0, 0, 0, 0x20};
    Append(m4a, "ftypM4A ");
    Append(m4a, noise(100000));
    files.emplace_back("M4A", m4a);
    for (unsigned seed = 1; seed <= 8; ++seed)
        files.emplace_back("look-alikes " + std::to_string(seed), LookAlikes(60000, seed));

    for (const auto& [what, bytes] : files) EXPECT_EQ(Walk(bytes).size(), 0u) << what;
}

// Tags at the start, between joined parts and at the end, each holding a
// picture full of look-alike headers: every tag is skipped whole by its
// size, and exactly the audio frames come out. A frame that ends right
// before a tag, and a file of one frame, are believed.
TEST(FrameSearch, TagsAnywhereAreSkippedWholeByTheirSizes) {
    const FrameFields a = MakeFields(1, 3, 9, 0, 0);
    std::vector<Walked> expected;
    std::vector<uint8_t> file = Id3v2WithPicture(5000, true, 1);
    Append(file, ApeWithPicture(3000, true, 2));
    AppendRun(file, a, 5, &expected);
    Append(file, Id3v1());
    Append(file, ApeWithPicture(3000, true, 5));
    Append(file, Id3v2WithPicture(4000, false, 6));
    AppendRun(file, a, 5, &expected);
    Append(file, Id3v2WithPicture(2000, true, 7));
    Append(file, Lyrics3v2());
    Append(file, ApeWithPicture(2000, false, 8));
    Append(file, Id3v1());
    EXPECT_EQ(Walk(file), expected);

    Bitstream stream(std::make_unique<MemoryStream>(file));
    EXPECT_EQ(stream.AudioStart(),
              static_cast<int64_t>(Id3v2WithPicture(5000, true, 1).size() + ApeWithPicture(3000, true, 2).size()));

    // A frame alone, or alone before a tag.
    std::vector<uint8_t> one;
    AppendRun(one, a, 1);
    EXPECT_EQ(Walk(one).size(), 1u);
    for (const auto& tag : {Id3v1(), ApeWithPicture(100, false, 9), Lyrics3v2(), Id3v2WithPicture(100, true, 9)}) {
        std::vector<uint8_t> tagged = one;
        Append(tagged, tag);
        EXPECT_EQ(Walk(tagged).size(), 1u);
    }
}

// Files joined end to end: another sampling rate, another version, another
// channel mode, behind a tag or junk. The reader follows each new kind of
// frame once three come in a row; a lone frame of another kind inside a
// run is a look-alike and is passed over.
TEST(FrameSearch, FilesJoinedEndToEndPlayWhole) {
    std::vector<Walked> expected;
    std::vector<uint8_t> file;
    const FrameFields stereo44 = MakeFields(1, 3, 9, 0, 0);
    AppendRun(file, stereo44, 4, &expected);
    AppendRun(file, MakeFields(1, 3, 9, 1, 1), 4, &expected); // 48 kHz
    AppendRun(file, MakeFields(0, 3, 8, 0, 3), 4, &expected); // MPEG-2, 22.05 kHz, one channel
    Append(file, Id3v2WithPicture(500, false, 1));
    AppendRun(file, MakeFields(1, 3, 9, 0, 3), 4, &expected);  // 44.1 kHz, one channel
    file.resize(file.size() + 300, 0);                         // junk
    AppendRun(file, MakeFields(1, 2, 10, 0, 2), 4, &expected); // Layer II, dual channel
    FrameFields stray = MakeFields(0, 3, 8, 2, 0);
    stray.mpeg25 = true;
    AppendRun(file, stray, 1);                                 // a lone frame of another kind
    AppendRun(file, MakeFields(1, 2, 10, 0, 0), 3, &expected); // Layer II stereo: the same stream goes on
    EXPECT_EQ(Walk(file), expected);
}

// Free format (bit-rate index 0) in every layer: the frame length is
// measured as the distance to the next header, held for the stream, and
// gives the bit rate shown.
TEST(FrameSearch, FreeFormatFramesAreMeasured) {
    struct Case {
        int layer;
        int freeBytes;
        int bitrate;
    };
    for (const Case& c :
         {Case{1, 400, 400 / 4 * 44100 / 12}, Case{2, 500, 500 * 44100 / 144}, Case{3, 391, 391 * 44100 / 144}}) {
        SCOPED_TRACE(c.layer);
        FrameFields f = MakeFields(1, c.layer, 0, 0, 0);
        f.freeBytes = c.freeBytes;
        std::vector<uint8_t> file;
        std::vector<Walked> expected;
        for (int i = 0; i < 7; ++i) {
            f.padding = i % 3 == 1;
            AppendRun(file, f, 1, &expected);
            expected.back().bitrate = c.bitrate;
        }
        EXPECT_EQ(Walk(file), expected);
    }
}
