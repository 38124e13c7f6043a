#pragma once

#include "stream/Stream.h"
#include "stream/TBufStream.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>

namespace zumo {

// An MPEG audio file as a sequence of frames: finds frame headers by their
// sync pattern, locks on to the first frame's parameters, reads each frame
// body into a word buffer and hands it out bit by bit.
class Bitstream {
public:
    static constexpr int32_t kBufferWords = 433;             // 1,732 bytes
    static constexpr int32_t kBufferBytes = kBufferWords * 4;

    // Opens the file; a file that cannot be opened gives a stream of length 0.
    explicit Bitstream(const std::string& fileName);
    // Reads from any source instead of a file (memory in tests and fuzzing).
    explicit Bitstream(std::unique_ptr<Stream> source);
    ~Bitstream();
    Bitstream(const Bitstream&) = delete;
    Bitstream& operator=(const Bitstream&) = delete;

    // Back to the first byte of audio (behind a leading ID3v2 tag). The lock
    // on the first frame's parameters stays.
    bool Reset();
    // Length of the file as the source reports it, asked each time.
    int64_t StreamSize();
    // Bytes of the file that can hold audio: the length less a leading
    // ID3v2 tag and a trailing 128-byte ID3v1 tag.
    int64_t AudioSize();

    bool SyncHeader(bool locked, uint32_t& headerValue);
    void SetSyncWord(uint32_t headerValue);
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
    uint32_t SyncWord() const { return syncWord; }
    bool SingleChannel() const { return singleChannel; }
    int64_t Position() const { return buffer->Position(); }
    int64_t AudioStart() const { return audioStart; }
    // The word buffer, exposed for the Layer III side-information check.
    const uint32_t* FrameWords() const { return frameBuffer.data(); }

private:
    void FindTags();
    void FindTagsIn(int64_t size);

    std::unique_ptr<Stream> source;
    std::unique_ptr<TBufStream> buffer;
    // One guard word after the 433 words: a read that straddles the last
    // word sees zeros, never memory outside the buffer.
    std::array<uint32_t, kBufferWords + 1> frameBuffer{};
    int32_t readSize = 0;
    int32_t bitPosition = 0; // word * 32 + bit of the next bit to read
    uint32_t syncWord = 0;
    bool singleChannel = false;
    int32_t frameIndex = -1;
    int64_t audioStart = 0;   // first byte behind the leading ID3v2 tag(s)
    int64_t trailingTag = 0;  // 128 when the file ends in an ID3v1 tag
};

} // namespace zumo
