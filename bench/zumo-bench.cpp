// zumo-bench: how fast the decoder runs.
//
//   zumo-bench [--reps N] [--seconds S] FILE...
//   zumo-bench --check FILE...
//
// Every file is read into memory once and repeated there until it holds at
// least S seconds of audio (default 120; 0 takes each file once), then
// decoded N times (default 7) through the player's own decode loop into an
// output buffer that only counts the samples. The repeats make each decode
// long enough that what one decode costs whatever its length (starting the
// decoding thread, its first touches of memory: some 30-50 us here) does
// not weigh on the figures of the short files kept for the benchmark. For
// each file it prints the audio length, the best and the median wall time
// of one decode, the speed as a multiple of real time (from the best time)
// and the time per frame, and the least processor time one decode took with
// the speed from that (less disturbed by other programs on a busy machine);
// at the end the peak resident memory.
//
// --check decodes each file once with the decoder objects driven directly
// and prints what a stream generator needs to know: frames decoded and
// skipped, Layer III granules whose data overran or was cut short or that
// were silenced as damaged, and the peak and RMS level of the output.
#include "engine/MPEGPlayer.h"
#include "layer3/Layer3Decoder.h"
#include "output/OBuffer.h"
#include "stream/Bitstream.h"
#include "stream/Header.h"
#include "stream/MemoryStream.h"
#include "subband/SubBandFrame.h"

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

using namespace zumo;

namespace {

const char* kUsage = "usage: zumo-bench [--reps N] [--seconds S] FILE...\n       zumo-bench --check FILE...\n";

// Discards the samples; keeps their count and sum so that the work cannot
// be left out and the runs can be compared.
class NullOBuffer : public OBuffer {
public:
    explicit NullOBuffer(int64_t& samples, int64_t& sum) : samples(samples), sum(sum) {}
    void Append(int32_t, int16_t sample) override {
        ++samples;
        sum += sample;
    }
    void AppendBlock(int32_t, const int16_t* block, int32_t count) override {
        samples += count;
        // A local sum: adding through the reference would store it once per sample.
        int32_t blockSum = 0; // 32 bits hold the sum of any block the decoder hands over
        for (int32_t i = 0; i < count; ++i) blockSum += block[i];
        sum += blockSum;
    }
    void WriteBuffer() override {}
    void ClearBuffer() override {}
    void SetStopFlag() override {}

private:
    int64_t& samples;
    int64_t& sum;
};

std::string BaseName(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Keeps the peak and the sum of squares of the samples.
class LevelOBuffer : public OBuffer {
public:
    void Append(int32_t, int16_t sample) override {
        const int32_t magnitude = sample < 0 ? -sample : sample;
        if (magnitude > peak) peak = magnitude;
        if (magnitude >= 32767) ++clipped;
        squares += static_cast<double>(sample) * sample;
        ++count;
    }
    void WriteBuffer() override {}
    void ClearBuffer() override {}
    void SetStopFlag() override {}

    int32_t peak = 0;
    int64_t clipped = 0;
    int64_t count = 0;
    double squares = 0.0;
};

int Check(const std::string& path, const std::vector<uint8_t>& bytes) {
    Bitstream stream(std::make_unique<MemoryStream>(bytes));
    Header header;
    Crc16* crc = nullptr;
    SynthFilter filter0(0, 32768.0f);
    SynthFilter filter1(1, 32768.0f);
    LevelOBuffer level;
    std::unique_ptr<Layer3Decoder> layer3;
    SubBandFrame subbands;
    int64_t frames = 0;
    int64_t crcFailures = 0;
    while (header.ReadHeader(stream, crc)) {
        ++frames;
        if (header.layer == 3) {
            if (!layer3)
                layer3 = std::make_unique<Layer3Decoder>(stream, header, filter0, filter1, level, ChannelChoice::Both);
            layer3->DecodeFrame();
        } else if (!subbands.Decode(stream, header, crc, filter0, filter1, level, ChannelChoice::Both)) {
            ++crcFailures;
        }
    }
    const double rms = level.count ? std::sqrt(level.squares / static_cast<double>(level.count)) : 0.0;
    std::printf("%s: frames %lld", BaseName(path).c_str(), static_cast<long long>(frames));
    if (layer3) {
        std::printf(" decoded %d skipped %d overrun %d truncated %d silenced %d", layer3->decodedFrames,
                    layer3->skippedFrames, layer3->overrunGranules, layer3->truncatedGranules,
                    layer3->silencedGranules);
    } else {
        std::printf(" crc_failures %lld", static_cast<long long>(crcFailures));
    }
    std::printf(" peak %d rms %.0f clipped %lld\n", level.peak, rms, static_cast<long long>(level.clipped));
    const bool clean = frames > 0 && level.peak > 0 && crcFailures == 0 &&
                       (!layer3 || (layer3->skippedFrames == 0 && layer3->overrunGranules == 0 &&
                                    layer3->truncatedGranules == 0 && layer3->silencedGranules == 0));
    return clean ? 0 : 1;
}

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

struct Run {
    double seconds = 0.0;
    double cpuSeconds = 0.0;
    int64_t frames = 0;
    int64_t samples = 0;
    int64_t sum = 0;
    int32_t rate = 0;
    int32_t channels = 0;
    int32_t layer = 0;
    int32_t bitrate = 0;
};

Run DecodeOnce(const std::vector<uint8_t>& bytes, const std::string& name) {
    Run run;
    MPEGPlayer player;
    player.OpenStream(std::make_unique<MemoryStream>(bytes), name);
    if (!player.HasFrame()) return run;
    run.rate = player.Frequency();
    run.channels = player.Mode() == 3 ? 1 : 2;
    run.layer = player.Layer();
    run.bitrate = player.Bitrate();
    player.SetOutput(std::make_unique<NullOBuffer>(run.samples, run.sum));
    const double cpuStart = CpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    player.Play();
    player.WaitForEnd();
    const auto end = std::chrono::steady_clock::now();
    run.seconds = std::chrono::duration<double>(end - start).count();
    run.cpuSeconds = CpuSeconds() - cpuStart;
    run.frames = player.FramesDecoded();
    return run;
}

// Reads a whole file; says so on stderr when it cannot.
bool ReadFileBytes(const std::string& path, std::vector<uint8_t>& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "zumo-bench: cannot read %s\n", path.c_str());
        return false;
    }
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

} // namespace

int main(int argc, char** argv) {
    int reps = 7;
    double seconds = 120.0;
    bool check = false;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--reps") == 0 && i + 1 < argc) {
            reps = std::max(1, std::atoi(argv[++i]));
        } else if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) {
            seconds = std::max(0.0, std::atof(argv[++i]));
        } else if (std::strcmp(argv[i], "--check") == 0) {
            check = true;
        } else if (std::strcmp(argv[i], "--help") == 0 || argv[i][0] == '-') {
            std::fputs(kUsage, stderr);
            return std::strcmp(argv[i], "--help") == 0 ? 0 : 2;
        } else {
            files.emplace_back(argv[i]);
        }
    }
    if (files.empty()) {
        std::fputs(kUsage, stderr);
        return 2;
    }

    if (check) {
        int dirty = 0;
        for (const std::string& path : files) {
            std::vector<uint8_t> bytes;
            dirty += ReadFileBytes(path, bytes) ? Check(path, bytes) : 1;
        }
        return dirty == 0 ? 0 : 1;
    }

    std::printf("%-28s %1s %4s %5s %2s %7s %8s %9s %7s %8s %8s %8s\n", "file", "L", "kbps", "Hz", "ch", "audio_s",
                "best_ms", "median_ms", "x_real", "us/frame", "cpu_ms", "x_cpu");
    int failures = 0;
    for (const std::string& path : files) {
        std::vector<uint8_t> bytes;
        if (!ReadFileBytes(path, bytes)) {
            ++failures;
            continue;
        }
        // One decode of the file as it is gives its length, and so the
        // number of copies that make up the seconds asked for.
        const Run probe = DecodeOnce(bytes, path);
        if (probe.frames > 0 && probe.rate > 0 && probe.channels > 0 && probe.samples > 0) {
            const double once = static_cast<double>(probe.samples) / probe.channels / probe.rate;
            const auto copies = static_cast<size_t>(std::max(1.0, std::ceil(seconds / once)));
            const size_t size = bytes.size();
            bytes.resize(size * copies);
            for (size_t c = 1; c < copies; ++c) std::copy_n(bytes.begin(), size, bytes.begin() + c * size);
        }
        std::vector<double> times;
        std::vector<double> cpuTimes;
        Run first;
        bool ok = true;
        for (int r = 0; r < reps; ++r) {
            const Run run = DecodeOnce(bytes, path);
            if (run.frames == 0 || run.rate == 0) {
                ok = false;
                break;
            }
            if (r == 0) {
                first = run;
            } else if (run.samples != first.samples || run.sum != first.sum) {
                std::fprintf(stderr, "zumo-bench: %s decodes differently between runs\n", path.c_str());
                ok = false;
                break;
            }
            times.push_back(run.seconds);
            cpuTimes.push_back(run.cpuSeconds);
        }
        if (!ok) {
            // Streams the decoder does not play (free format) are noted, not counted as failures.
            std::fprintf(stderr, "zumo-bench: %s gave no audio\n", path.c_str());
            continue;
        }
        std::sort(times.begin(), times.end());
        std::sort(cpuTimes.begin(), cpuTimes.end());
        const double best = times.front();
        const double median = times[times.size() / 2];
        const double audio = static_cast<double>(first.samples) / first.channels / first.rate;
        const double cpu = std::max(cpuTimes.front(), 1e-6);
        std::printf("%-28s %1d %4d %5d %2d %7.2f %8.3f %9.3f %7.0f %8.2f %8.3f %8.0f\n", BaseName(path).c_str(),
                    first.layer, first.bitrate / 1000, first.rate, first.channels, audio, best * 1e3, median * 1e3,
                    audio / best, best * 1e6 / static_cast<double>(first.frames), cpu * 1e3, audio / cpu);
        std::fflush(stdout);
    }

    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("peak_rss_kb: %ld\n", usage.ru_maxrss);
    return failures == 0 ? 0 : 1;
}
