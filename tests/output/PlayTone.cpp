// Plays a 1 kHz tone at half of full scale for two seconds through the
// output buffer on the default sound device; the device test records it.
#include "output/WaveOBuffer.h"

#include <chrono>
#include <cmath>
#include <cstdio>

int main() {
    using namespace zumo;
    const int rate = 44100;
    auto buffer = NewWaveOBuffer(0, ChannelChoice::Both, rate, 3, 1);
    if (!buffer) {
        std::fprintf(stderr, "Output device failure\n");
        return 1;
    }
    const auto start = std::chrono::steady_clock::now();
    const int frames = 2 * rate / 1152 + 1;
    long n = 0;
    for (int f = 0; f < frames; ++f) {
        for (int k = 0; k < 1152; ++k, ++n) {
            const auto v = static_cast<int16_t>(std::lround(16384.0 * std::sin(2 * M_PI * 1000.0 * n / rate)));
            buffer->Append(0, v);
            buffer->Append(1, v);
        }
        buffer->WriteBuffer();
    }
    buffer.reset(); // plays out the tail and returns when the device has finished
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%.3f\n", seconds);
    return 0;
}
