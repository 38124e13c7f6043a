#pragma once

#include "output/AlsaWaveOut.h"
#include "output/PulseWaveOut.h"
#include "output/WaveOutDevice.h"

#include <atomic>
#include <string>

namespace zumo {

// The system's sound output, chosen at every Open: the sound server's own
// client (PulseWaveOut) when a server answers, which names the stream and
// tells a lost server exactly; ALSA's default device when there is none (a
// plain ALSA system). A server that is there but does not answer gives no
// device. ZUMO_SOUND_OUTPUT=alsa in the environment makes it ALSA's device
// always.
//
// Every other operation goes to the device that was opened. Both devices
// live as long as this one, so a call from another thread never meets a
// device that has gone.
class SystemWaveOut : public WaveOutDevice {
public:
    // `streamName`: the name the sound server shows for the stream.
    explicit SystemWaveOut(std::string streamName);

    uint32_t Open(const WaveFormat& format) override;
    uint32_t Prepare(WaveBlock& block, uint32_t headerSize) override;
    uint32_t Write(WaveBlock& block, uint32_t headerSize) override;
    uint32_t Unprepare(WaveBlock& block, uint32_t headerSize) override;
    uint32_t Reset() override;
    uint32_t Pause() override;
    uint32_t Restart() override;
    uint32_t Close() override;
    uint64_t Changes() override;
    bool WaitForChange(uint64_t seen, std::chrono::milliseconds timeout) override;
    void Wake() override;
    uint64_t PlayedFrames() override;

private:
    PulseWaveOut server;
    AlsaWaveOut alsa;
    std::atomic<WaveOutDevice*> device{&server};
    std::atomic<bool> opened{false};
};

} // namespace zumo
