// zumo-decode: the command-line companion of the player.
//
//   zumo-decode --info FILE    walk every frame and print what the player knows of the file
#include "stream/Bitstream.h"
#include "stream/FileStream.h"
#include "stream/Header.h"
#include "stream/StreamError.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

using namespace zumo;

namespace {

const char* kUsage =
    "usage: zumo-decode --info FILE\n"
    "  --info FILE   walk every frame of FILE and print its layer, version, mode,\n"
    "                sampling rate, bit rate, frame counts and playing time\n";

const char* ModeName(int mode) {
    switch (mode) {
    case 0: return "stereo";
    case 1: return "joint stereo";
    case 2: return "dual channel";
    default: return "single channel";
    }
}

int Info(const std::string& path) {
    if (!FileStream(path).IsOpen()) {
        std::fprintf(stderr, "zumo-decode: cannot open %s\n", path.c_str());
        return 1;
    }
    try {
        Bitstream stream(path);
        Header header;
        Crc16* crc = nullptr;
        if (!header.ReadHeader(stream, crc)) {
            std::fprintf(stderr, "zumo-decode: no MPEG audio frame found in %s\n", path.c_str());
            return 1;
        }
        // What the player shows comes from the first frame.
        const int layer = header.layer;
        const int version = header.version == 1 ? 1 : 2;
        const int mode = header.mode;
        const int rate = header.Frequency();
        const int bitrate = header.Bitrate();
        const bool isProtected = header.protectionBit == 0;
        const int32_t frameCount = header.FrameCount(stream);
        const float totalMs = header.TotalMs(stream);
        const auto totalSeconds = static_cast<long long>(std::nearbyint(static_cast<double>(totalMs) / 1000.0));

        long long walked = 1;
        while (header.ReadHeader(stream, crc)) ++walked;

        std::printf("layer: %d\n", layer);
        std::printf("version: %d\n", version);
        std::printf("mode: %s\n", ModeName(mode));
        std::printf("sampling_rate: %d\n", rate);
        std::printf("bitrate: %d\n", bitrate);
        std::printf("protected: %s\n", isProtected ? "yes" : "no");
        std::printf("frames_walked: %lld\n", walked);
        std::printf("frame_count: %d\n", frameCount);
        std::printf("total_ms: %.1f\n", static_cast<double>(totalMs));
        std::printf("total_seconds: %lld\n", totalSeconds);
        return 0;
    } catch (const StreamError& e) {
        std::fprintf(stderr, "zumo-decode: %s: %s\n", path.c_str(), e.what());
        return 1;
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (argc == 3 && std::strcmp(argv[1], "--info") == 0) return Info(argv[2]);
    std::fputs(kUsage, stderr);
    return 2;
}
