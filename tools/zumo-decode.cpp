// zumo-decode: the command-line companion of the player.
//
//   zumo-decode --info FILE    walk every frame and print what the player knows of the file
//   zumo-decode FILE OUT       decode FILE to OUT.wav, OUT.raw or - (raw PCM on stdout)
//   zumo-decode --play FILE    play FILE through the sound device
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
#include <vector>

#include <sys/stat.h>

using namespace zumo;

namespace {

const char* kUsage =
    "usage: zumo-decode --info FILE\n"
    "       zumo-decode --help | --version\n"
    "       zumo-decode [--channels both|left|right|mix] [--no-gapless] FILE OUT\n"
    "       zumo-decode [--channels ...] [--no-gapless] --play FILE\n"
    "  --info FILE   walk every frame of FILE and print its layer, version, mode,\n"
    "                sampling rate, bit rate, frame counts, playing time and\n"
    "                each format its frames come in\n"
    "  FILE OUT      decode FILE as fast as possible into OUT: a .wav file, any\n"
    "                other name for raw 16-bit little-endian PCM, or - for raw\n"
    "                PCM on stdout (channels interleaved). Raw PCM follows a\n"
    "                change of format inside the file; a WAV file keeps the\n"
    "                first format, turning one channel into two or two into\n"
    "                their mix, and ends where the sampling rate changes\n"
    "  --play FILE   play FILE through the default sound device, showing the\n"
    "                elapsed and total time; Ctrl+C stops\n"
    "  --channels    both (default), left, right, or mix (both mixed into one)\n"
    "  --no-gapless  keep every sample of the audio frames, also the encoder's\n"
    "                delay and padding that a LAME tag tells to leave out\n";

const char* ModeName(int mode) {
    switch (mode) {
    case 0: return "stereo";
    case 1: return "joint stereo";
    case 2: return "dual channel";
    default: return "single channel";
    }
}

const char* VersionName(const Header& h) {
    if (h.version == 1) return "1";
    return h.mpeg25 ? "2.5" : "2";
}

// One stretch of frames of one format: what the output of a player follows.
struct FormatRun {
    int layer = 0;
    std::string version;
    int channels = 0;
    int rate = 0;
    long long frames = 0;
    double startSeconds = 0;

    bool Same(const FormatRun& o) const {
        return layer == o.layer && version == o.version && channels == o.channels && rate == o.rate;
    }
};

FormatRun RunOf(const Header& h) {
    FormatRun run;
    run.layer = h.layer;
    run.version = VersionName(h);
    run.channels = h.mode == 3 ? 1 : 2;
    run.rate = h.Frequency();
    return run;
}

int SamplesPerFrame(const Header& h) { return h.layer == 1 ? 384 : (h.layer == 3 && h.version == 0) ? 576 : 1152; }

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
        const std::string version = VersionName(header);
        const int mode = header.mode;
        const int rate = header.Frequency();
        const int bitrate = header.Bitrate();
        const bool isProtected = header.protectionBit == 0;
        const int32_t frameCount = header.FrameCount(stream);
        const float totalMs = header.TotalMs(stream);
        const auto totalSeconds = static_cast<long long>(std::nearbyint(static_cast<double>(totalMs) / 1000.0));

        std::vector<FormatRun> runs{RunOf(header)};
        long long walked = 0;
        double seconds = 0;
        do {
            ++walked;
            const FormatRun now = RunOf(header);
            if (!now.Same(runs.back())) {
                runs.push_back(now);
                runs.back().startSeconds = seconds;
            }
            ++runs.back().frames;
            seconds += static_cast<double>(SamplesPerFrame(header)) / header.Frequency();
        } while (header.ReadHeader(stream, crc));

        std::printf("layer: %d\n", layer);
        std::printf("version: %s\n", version.c_str());
        std::printf("mode: %s\n", ModeName(mode));
        std::printf("sampling_rate: %d\n", rate);
        std::printf("bitrate: %d\n", bitrate);
        std::printf("protected: %s\n", isProtected ? "yes" : "no");
        std::printf("frames_walked: %lld\n", walked);
        std::printf("frame_count: %d\n", frameCount);
        std::printf("total_ms: %.1f\n", static_cast<double>(totalMs));
        std::printf("total_seconds: %lld\n", totalSeconds);
        std::printf("formats: %zu\n", runs.size());
        for (size_t i = 0; i < runs.size(); ++i) {
            const FormatRun& r = runs[i];
            std::printf("format_%zu: layer %d, version %s, %d channel%s, %d Hz, %lld frames from %.3f s\n", i + 1,
                        r.layer, r.version.c_str(), r.channels, r.channels == 1 ? "" : "s", r.rate, r.frames,
                        r.startSeconds);
        }
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

bool ParseChannels(const char* text, ChannelChoice& choice) {
    const std::string s = text;
    if (s == "both") choice = ChannelChoice::Both;
    else if (s == "left") choice = ChannelChoice::Left;
    else if (s == "right") choice = ChannelChoice::Right;
    else if (s == "mix") choice = ChannelChoice::Mix;
    else return false;
    return true;
}

// Opens the file in the player and reads its first frame; says why not on
// stderr when that fails.
bool OpenPlayer(MPEGPlayer& player, const std::string& path, ChannelChoice choice) {
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

// Whether two paths name one file (writing the output would destroy the input).
bool SameFile(const std::string& a, const std::string& b) {
    struct stat sa {
    }, sb{};
    return b != "-" && ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

// Decodes through the player's own decode loop into a PCM file.
int Decode(const std::string& path, const std::string& out, ChannelChoice choice, bool gapless) {
    MPEGPlayer player;
    if (!OpenPlayer(player, path, choice)) return 1;
    player.SetGapless(gapless);
    if (SameFile(path, out)) {
        std::fprintf(stderr, "zumo-decode: %s is the file being decoded\n", out.c_str());
        return 1;
    }
    const int channels = OutputChannels(player.Mode(), choice);
    const bool wav = out != "-" && EndsWithWav(out);
    auto buffer = std::make_unique<PcmFileBuffer>(out, wav, channels, player.Frequency());
    if (!buffer->IsOpen() || !buffer->Ok()) {
        std::fprintf(stderr, "zumo-decode: cannot write %s\n", out.c_str());
        return 1;
    }
    PcmFileBuffer* pcm = buffer.get();
    player.SetOutput(std::move(buffer));
    player.PlayHere();
    if (!pcm->Close()) {
        std::fprintf(stderr, "zumo-decode: cannot write %s\n", out.c_str());
        return 1;
    }
    // A change of format inside the file is told once, with what became of it.
    const char* name = out == "-" ? "standard output" : out.c_str();
    if (pcm->EndedAtRateChange()) {
        const PcmFileBuffer::Change& c = pcm->EndingChange();
        std::fprintf(stderr,
                     "zumo-decode: %s: the sampling rate changes from %d to %d Hz after %.3f s; a WAV file holds one "
                     "rate, so it ends there (raw PCM output keeps every sample)\n",
                     name, pcm->FileFrequency(), c.frequency, c.atSeconds);
        return 1;
    }
    if (pcm->Changes() > 0) {
        const PcmFileBuffer::Change& c = pcm->FirstChange();
        if (wav)
            std::fprintf(stderr,
                         "zumo-decode: %s: the frames turn to %d channel%s after %.3f s; the WAV file keeps %d (%s)\n",
                         name, c.channels, c.channels == 1 ? "" : "s", c.atSeconds, pcm->FileChannels(),
                         pcm->FileChannels() == 2 ? "one channel written on both" : "two channels mixed into one");
        else
            std::fprintf(
                stderr,
                "zumo-decode: %s: the format changes after %.3f s (to %d channel%s, %d Hz); the raw PCM follows it\n",
                name, c.atSeconds, c.channels, c.channels == 1 ? "" : "s", c.frequency);
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
int Play(const std::string& path, ChannelChoice choice, bool gapless) {
    MPEGPlayer player;
    if (!OpenPlayer(player, path, choice)) return 1;
    player.SetGapless(gapless);
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
    ChannelChoice choice = ChannelChoice::Both;
    bool gapless = true;
    int first = 1;
    for (bool option = true; option && first < argc;) {
        option = false;
        if (first + 1 < argc && std::strcmp(argv[first], "--channels") == 0) {
            if (!ParseChannels(argv[first + 1], choice)) {
                std::fprintf(stderr, "zumo-decode: unknown channel choice %s\n", argv[first + 1]);
                return 2;
            }
            first += 2;
            option = true;
        } else if (std::strcmp(argv[first], "--no-gapless") == 0) {
            gapless = false;
            first += 1;
            option = true;
        }
    }
    if (argc - first == 2 && std::strcmp(argv[first], "--play") == 0) return Play(argv[first + 1], choice, gapless);
    if (argc - first == 2 && argv[first][0] != '-') return Decode(argv[first], argv[first + 1], choice, gapless);
    std::fputs(kUsage, stderr);
    return 2;
}
