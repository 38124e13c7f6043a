#pragma once

#include "stream/Stream.h"
#include "stream/TBufStream.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>

namespace zumo {

// An MPEG audio file as a sequence of frames: finds frame headers by their
// sync pattern, believes a header only when the stream confirms it, locks
// on to the parameters of the frames found, reads each frame body into a
// word buffer and hands it out bit by bit. Tags (ID3v2, ID3v1, APEv2,
// Lyrics3), wherever they sit, are skipped whole by their sizes.
class Bitstream {
public:
    static constexpr int32_t kBufferWords = 433; // 1,732 bytes
    static constexpr int32_t kBufferBytes = kBufferWords * 4;

    // Opens the file; a file that cannot be opened gives a stream of length 0.
    explicit Bitstream(const std::string& fileName);
    // Reads from any source instead of a file (memory in tests and fuzzing).
    explicit Bitstream(std::unique_ptr<Stream> source);
    ~Bitstream();
    Bitstream(const Bitstream&) = delete;
    Bitstream& operator=(const Bitstream&) = delete;

    // Back to the first byte of audio (behind the leading tags). The lock
    // on the stream's parameters stays; the first frame is confirmed anew.
    bool Reset();
    // Length of the file as the source reports it, asked each time.
    int64_t StreamSize();
    // Bytes of the file that can hold audio: the length less the leading
    // and the trailing tags.
    int64_t AudioSize();

    // Finds the next frame and leaves the stream at its body; headerValue
    // is its header word (Header.h draws it). Right behind a frame read
    // whole, a header that matches the lock (sync, version, sampling
    // frequency, single channel or not) is taken as it stands. Anywhere
    // else (the first frame, after a tag, after a loss of sync) and for a
    // frame of another kind than the lock, a header is believed only when
    // the stream confirms it: three frames of one stream (same version,
    // layer and sampling frequency) follow each other, each where the one
    // before ends, or fewer that end right before a tag or at the end of
    // the audio. The lock then moves to the frames found, so that joined
    // files and a change of channel mode play on, while a stray look-alike
    // inside the audio does not. A new free-format stream, whose frame
    // length is measured as the distance to the next header, is taken only
    // where the search began. False at the end of the audio.
    bool SyncHeader(uint32_t& headerValue);
    // Free format: the measured frame length without padding of the locked
    // stream; 0 for other streams.
    int32_t FreeFormatBytes() const { return freeBytes; }
    // Reads the frame body; false when the audio ends first.
    bool ReadFrame(int32_t byteCount);

    // The next n bits (0..32) of the frame body, first bit most significant.
    // Past the end of the buffer the answer is zero bits.
    uint32_t GetBits(int n) { return BitsAt(frameBuffer.data(), bitPosition, n); }
    // GetBits on a position the caller keeps (word * 32 + bit), so that a
    // loop reading many fields holds it in a register; BitPosition and
    // SetBitPosition carry it from and back to the stream.
    static uint32_t BitsAt(const uint32_t* words, int32_t& position, int n) {
        if (n <= 0 || position >= kBufferWords * 32) return 0;
        return BitsWithin(words, position, n);
    }
    // BitsAt for 1 <= n <= 32 at a position the caller knows to lie in the
    // buffer: no checks, for loops that bound their reads beforehand.
    static uint32_t BitsWithin(const uint32_t* words, int32_t& position, int n) {
        const int32_t word = position >> 5;
        const uint64_t pair = (static_cast<uint64_t>(words[word]) << 32) | words[word + 1];
        const auto result = static_cast<uint32_t>((pair << (position & 31)) >> (64 - n));
        position += n;
        return result;
    }
    int32_t BitPosition() const { return bitPosition; }
    void SetBitPosition(int32_t position) { bitPosition = position; }
    float GetBitsFloat(int n) { return static_cast<float>(GetBits(n)); }

    int32_t FrameIndex() const { return frameIndex; }
    int32_t ReadSize() const { return readSize; }
    int32_t WordIndex() const { return bitPosition >> 5; }
    int32_t BitIndex() const { return bitPosition & 31; }
    int64_t Position() const { return buffer->Position(); }
    int64_t AudioStart() const { return audioStart; }
    int64_t AudioEnd() const { return audioEnd; }
    // The word buffer, exposed for the Layer III side-information check.
    const uint32_t* FrameWords() const { return frameBuffer.data(); }

private:
    // Tags (BitstreamTags.cpp).
    // The size of the tag that starts at pos, 0 when none does.
    int64_t TagSizeAt(int64_t pos);
    void FindTags();
    void FindTagsIn(int64_t size);
    int64_t LyricsSizeAt(int64_t pos);
    // Copies up to n bytes at pos; answers how many there were.
    int64_t PeekBytes(int64_t pos, uint8_t* dest, int64_t n);

    // Frame search (BitstreamSync.cpp).
    bool HeaderAt(int64_t pos, uint32_t& h);
    bool MatchesLock(uint32_t h) const;
    void Lock(uint32_t h, int32_t free);
    // Takes the frame at pos as found, locks on to its stream.
    bool Accept(int64_t pos, uint32_t h, int32_t free, uint32_t& headerValue);
    // Whether the frame at pos is confirmed by the run of frames behind it
    // (see SyncHeader). atStart: pos is where the search began; only there
    // does a run that ends at the end of the audio confirm, and only there
    // is a new free-format length measured. free gets the free-format
    // length the run was measured with.
    bool Confirmed(int64_t pos, uint32_t h, bool atStart, int32_t& free);
    bool RunFollows(int64_t pos, uint32_t h, bool endCounts, int32_t free);
    // The distance to the nearest header of the same stream behind pos; -1
    // when there is none within a frame's length.
    int32_t NearestSameStream(int64_t pos, uint32_t h);

    std::unique_ptr<Stream> source;
    std::unique_ptr<TBufStream> buffer;
    // The frame body as big-endian words (stream/ByteOrder.h). One guard
    // word after the 433 words: a read that straddles the last word sees
    // zeros, never memory outside the buffer.
    std::array<uint32_t, kBufferWords + 1> frameBuffer{};
    int32_t readSize = 0;
    int32_t bitPosition = 0; // word * 32 + bit of the next bit to read
    int32_t frameIndex = -1;
    // The lock: the sync, version and sampling-frequency bits of the
    // stream's frames, whether they are single-channel, and for free
    // format their measured length.
    bool locked = false;
    uint32_t lockWord = 0;
    bool singleChannel = false;
    int32_t freeBytes = 0;
    uint32_t lastHeader = 0; // of the frame found last
    // True right behind a frame that was read whole.
    bool inRun = false;
    // What the search for Lyrics3 end markers found: none in [from,
    // searchedTo), and the first at or behind `from` at `at` (-1: not yet).
    struct LyricsMarker {
        int64_t from = INT64_MAX;
        int64_t searchedTo = 0;
        int64_t at = -1;
        bool version1 = false; // "LYRICSEND", else "LYRICS200"
    } lyricsMarker;
    int64_t audioStart = 0; // first byte behind the leading tags
    int64_t audioEnd = 0;   // first byte of the trailing tags (the file's length without them)
};

} // namespace zumo
