#include "output/SystemWaveOut.h"

#include <cstdlib>
#include <cstring>

namespace zumo {

SystemWaveOut::SystemWaveOut(std::string streamName) : server(std::move(streamName)) {}

uint32_t SystemWaveOut::Open(const WaveFormat& format) {
    // (One device at a time: the other must not be opened beside it.)
    if (opened) return kError;
    const char* choice = std::getenv("ZUMO_SOUND_OUTPUT");
    const bool alsaOnly = choice != nullptr && std::strcmp(choice, "alsa") == 0;
    if (!alsaOnly) {
        const uint32_t result = server.Open(format);
        if (result == kOk) {
            device = &server;
            opened = true;
            return kOk;
        }
        // ALSA would reach the same server through its plugin, which waits
        // for an answer without end.
        if (server.ServerHung()) return result;
    }
    const uint32_t result = alsa.Open(format);
    if (result == kOk) {
        device = &alsa;
        opened = true;
    }
    return result;
}

uint32_t SystemWaveOut::Prepare(WaveBlock& block, uint32_t headerSize) {
    return device.load()->Prepare(block, headerSize);
}
uint32_t SystemWaveOut::Write(WaveBlock& block, uint32_t headerSize) { return device.load()->Write(block, headerSize); }
uint32_t SystemWaveOut::Unprepare(WaveBlock& block, uint32_t headerSize) {
    return device.load()->Unprepare(block, headerSize);
}
uint32_t SystemWaveOut::Reset() { return device.load()->Reset(); }
uint32_t SystemWaveOut::Pause() { return device.load()->Pause(); }
uint32_t SystemWaveOut::Restart() { return device.load()->Restart(); }
uint32_t SystemWaveOut::Close() {
    const uint32_t result = device.load()->Close();
    if (result == kOk) opened = false;
    return result;
}
uint64_t SystemWaveOut::Changes() { return device.load()->Changes(); }
bool SystemWaveOut::WaitForChange(uint64_t seen, std::chrono::milliseconds timeout) {
    return device.load()->WaitForChange(seen, timeout);
}
void SystemWaveOut::Wake() { device.load()->Wake(); }
uint64_t SystemWaveOut::PlayedFrames() { return device.load()->PlayedFrames(); }

} // namespace zumo
