#pragma once

#include "output/OBuffer.h"

#include <cstdint>

namespace zumo {

// Gapless playback: an encoder puts silence of its own in front of the
// music (its delay) and behind it (padding up to a whole frame), and the
// decoder adds its own delay. Where the file's LAME tag gives the two, this
// buffer sits in front of the real output and lets through, of each
// channel's samples, only those of the music: it drops the first `skip`,
// passes `keep`, and drops the rest up to `end` (the last sample of the
// frames the tag counts). What comes after `end` (a file joined behind)
// passes whole, and so does everything after a change of format.
class GaplessTrim : public OBuffer {
public:
    GaplessTrim(OBuffer& target, int64_t skip, int64_t keep, int64_t end);

    void Append(int32_t channel, int16_t sample) override;
    void AppendBlock(int32_t channel, const int16_t* samples, int32_t count) override;
    void WriteBuffer() override { target.WriteBuffer(); }
    void ClearBuffer() override { target.ClearBuffer(); }
    void SetStopFlag() override { target.SetStopFlag(); }
    void Pause() override { target.Pause(); }
    void Restart() override { target.Restart(); }
    void Finish() override { target.Finish(); }
    void NewFormat(int32_t channels, int32_t frequency) override;
    // The file starts again from its beginning (repeat).
    void Rewind() { count[0] = count[1] = 0; }

private:
    bool Passes(int64_t n) const { return n >= skip && (n < skip + keep || n >= end); }

    OBuffer& target;
    int64_t skip;
    int64_t keep;
    int64_t end;
    int64_t count[2] = {0, 0}; // samples seen per channel
};

} // namespace zumo
