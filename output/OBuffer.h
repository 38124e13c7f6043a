#pragma once

#include <cstdint>

namespace zumo {

// The sink for decoded 16-bit PCM. The synthesis filters append samples
// channel by channel, a block of 32 at a time; the decoders call
// WriteBuffer once per decoded frame.
class OBuffer {
public:
    virtual ~OBuffer() = default;
    // Stores one sample for a channel.
    virtual void Append(int32_t channel, int16_t sample) = 0;
    // Stores `count` samples of one channel in time order: the same as that
    // many Append calls, which is what it makes unless a buffer does better.
    virtual void AppendBlock(int32_t channel, const int16_t* samples, int32_t count) {
        for (int32_t i = 0; i < count; ++i) Append(channel, samples[i]);
    }
    // End of one decoded frame.
    virtual void WriteBuffer() = 0;
    // Drops everything queued and starts empty.
    virtual void ClearBuffer() = 0;
    // Makes the destructor discard queued audio instead of playing it out.
    virtual void SetStopFlag() = 0;
    // Pauses the sound device at once (queued audio stops) and restarts it
    // from the same sample. Buffers without a device ignore both.
    virtual void Pause() {}
    virtual void Restart() {}
    // The end of the stream: queues what is not queued yet and returns once
    // the device has played it all, so that a track ends when its last
    // sound has been heard. A stop flag set meanwhile cuts the wait short.
    // Buffers without a device ignore it.
    virtual void Finish() {}
    // Lets go of the sound device: what is queued is dropped and the device
    // is closed, so that the sound server shows no stream of ours while
    // nothing plays. Called once the stream has ended or was stopped;
    // nothing is appended afterwards. Buffers without a device ignore it.
    virtual void Release() {}
    // How much of this buffer's audio has been heard, in microseconds, as
    // the device reports it: it stands still while the device is paused,
    // suspended or gone, and never runs ahead of the sound. -1 from a
    // buffer without a device, whose owner then keeps time itself.
    virtual int64_t HeardMicroseconds() { return -1; }
    // The frames that follow have another channel count or sampling
    // frequency (files joined end to end, a change of channel mode): called
    // before their first sample. A buffer on a device plays out what it
    // holds and goes on in the new format; the default ignores it.
    virtual void NewFormat(int32_t channels, int32_t frequency) {
        (void)channels;
        (void)frequency;
    }
};

} // namespace zumo
