// zumo-decode: the command-line companion of the player.
//
//   zumo-decode --info FILE    walk every frame and print what the player knows of the file
//   zumo-decode FILE OUT       decode FILE to OUT.wav, OUT.raw or - (raw PCM on stdout)
#include "engine/MPEGPlayer.h"
#include "stream/Bitstream.h"
#include "stream/FileStream.h"
#include "stream/Header.h"
#include "stream/StreamError.h"
#include "output/SystemWaveOut.h"
#include "output/WaveOBuffer.h"
#include "tools/PcmFileBuffer.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <thread>

#include <cctype>
#include <cmath>
#include <memory>
#include <cstdio>
#include <cstring>
#include <string>

using namespace zumo;

namespace {

const char* kUsage =
    "usage: zumo-decode --info FILE\n"
    "       zumo-decode --help | --version\n"
    "       zumo-decode [--channels both|left|right|mix] FILE OUT\n"
    "       zumo-decode [--channels ...] --play FILE\n"
    "  --info FILE   walk every frame of FILE and print its layer, version, mode,\n"
    "                sampling rate, bit rate, frame counts and playing time\n"
    "  FILE OUT      decode FILE as fast as possible into OUT: a .wav file, any\n"
    "                other name for raw 16-bit little-endian PCM, or - for raw\n"
    "                PCM on stdout (channels interleaved)\n"
    "  --play FILE   play FILE through the default sound device, showing the\n"
    "                elapsed and total time; Ctrl+C stops\n"
    "  --channels    both (default), left, right, or mix (both mixed into one)\n";

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

bool EndsWithWav(const std::string& name) {
    if (name.size() < 4) return false;
    std::string ext = name.substr(name.size() - 4);
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext == ".wav";
}

bool ParseChannels(const char* text, uint8_t& choice) {
    const std::string s = text;
    if (s == "both") choice = kBothChannels;
    else if (s == "left") choice = kLeftOnly;
    else if (s == "right") choice = kRightOnly;
    else if (s == "mix") choice = kMixedDown;
    else return false;
    return true;
}

// Opens the file in the player and reads its first frame; says why not on
// stderr when that fails.
bool OpenPlayer(MPEGPlayer& player, const std::string& path, uint8_t choice) {
    if (!FileStream(path).IsOpen()) {
        std::fprintf(stderr, "zumo-decode: cannot open %s\n", path.c_str());
        return false;
    }
    player.Open(path);
    if (!player.HasFrame()) {
        std::fprintf(stderr, "zumo-decode: no MPEG audio frame found in %s\n", path.c_str());
        return false;
    }
    player.SetChannelChoice(choice);
    return true;
}

// Decodes through the player's own decode loop into a PCM file.
int Decode(const std::string& path, const std::string& out, uint8_t choice) {
    MPEGPlayer player;
    if (!OpenPlayer(player, path, choice)) return 1;
    const int channels = (player.Mode() == 3 || choice != kBothChannels) ? 1 : 2;
    auto buffer = std::make_unique<PcmFileBuffer>(out, out != "-" && EndsWithWav(out), channels, player.Frequency());
    if (!buffer->IsOpen() || !buffer->Ok()) {
        std::fprintf(stderr, "zumo-decode: cannot write %s\n", out.c_str());
        return 1;
    }
    PcmFileBuffer* pcm = buffer.get();
    player.SetOutput(std::move(buffer));
    player.Play();
    player.WaitForEnd();
    // The decode thread has ended: the buffer is ours to finish.
    if (!pcm->Close()) {
        std::fprintf(stderr, "zumo-decode: cannot write %s\n", out.c_str());
        return 1;
    }
    return 0;
}

std::atomic<bool> interrupted{false};

void OnInterrupt(int) { interrupted = true; }

std::string Clock(int64_t seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(seconds / 60),
                  static_cast<long long>(seconds % 60));
    return text;
}

// Plays through the sound device with the player's real output buffer.
int Play(const std::string& path, uint8_t choice) {
    MPEGPlayer player;
    if (!OpenPlayer(player, path, choice)) return 1;
    // The sound server shows the file's name as the stream's.
    const std::string name = path.substr(path.find_last_of('/') + 1);
    auto buffer = NewWaveOBuffer(player.Mode(), player.WhichChannels(), player.Frequency(), player.Layer(),
                                 player.Version(), std::make_unique<SystemWaveOut>(name));
    if (!buffer) {
        std::fprintf(stderr, "zumo-decode: Output device failure\n");
        return 1;
    }
    player.SetOutput(std::move(buffer));
    std::signal(SIGINT, OnInterrupt);
    std::signal(SIGTERM, OnInterrupt);
    const std::string total = Clock(player.TotalSeconds());
    player.Play();
    while (player.Playing() && !interrupted) {
        std::fprintf(stderr, "\r%s / %s ", Clock(player.ElapsedSeconds()).c_str(), total.c_str());
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    if (interrupted) player.Stop();
    player.WaitForEnd();
    std::fprintf(stderr, "\r%s / %s\n", Clock(player.ElapsedSeconds()).c_str(), total.c_str());
    return interrupted ? 130 : 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::fputs("zumo-decode " ZUMO_VERSION "\n", stdout);
        return 0;
    }
    if (argc == 3 && std::strcmp(argv[1], "--info") == 0) return Info(argv[2]);
    uint8_t choice = kBothChannels;
    int first = 1;
    if (argc >= 3 && std::strcmp(argv[1], "--channels") == 0) {
        if (!ParseChannels(argv[2], choice)) {
            std::fprintf(stderr, "zumo-decode: unknown channel choice %s\n", argv[2]);
            return 2;
        }
        first = 3;
    }
    if (argc - first == 2 && std::strcmp(argv[first], "--play") == 0) return Play(argv[first + 1], choice);
    if (argc - first == 2 && argv[first][0] != '-') return Decode(argv[first], argv[first + 1], choice);
    std::fputs(kUsage, stderr);
    return 2;
}
