#include "support/Conformance.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>

namespace zumo::test {

std::string ConformanceDir() {
    if (const char* env = std::getenv("ZUMO_CONFORMANCE_DIR"); env && *env) return env;
    return ZUMO_CONFORMANCE_DEFAULT;
}

bool HaveConformance() { return std::filesystem::exists(ConformanceDir() + "/manifest.tsv"); }

std::vector<ManifestRow> Manifest() {
    std::vector<ManifestRow> rows;
    std::ifstream in(ConformanceDir() + "/manifest.tsv");
    std::string line;
    std::getline(in, line); // column titles
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        ManifestRow r;
        fields >> r.name >> r.kind >> r.layer >> r.mpeg >> r.rate >> r.channels >> r.frames >> r.refSamplesPerChannel;
        if (!r.name.empty()) rows.push_back(r);
    }
    return rows;
}

std::string StreamPath(const std::string& name, const std::string& ext) { return ConformanceDir() + "/" + name + ext; }

std::vector<std::string> DamagedStreams() {
    std::vector<std::string> files;
    const std::filesystem::path dir = ConformanceDir() + "/damaged";
    if (!std::filesystem::exists(dir)) return files;
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        if (entry.is_regular_file()) files.push_back(entry.path().string());
    std::sort(files.begin(), files.end());
    return files;
}

std::string BinDir() { return ZUMO_BIN_DIR; }

std::vector<int16_t> ReadPcm16(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<int16_t> samples;
    uint8_t b[2];
    while (in.read(reinterpret_cast<char*>(b), 2)) samples.push_back(static_cast<int16_t>(b[0] | (b[1] << 8)));
    return samples;
}

PcmComparison ComparePcm(const std::vector<int16_t>& output, const std::vector<int16_t>& reference, int channels,
                         int samplesPerFrame, int searchFrames) {
    PcmComparison best;
    best.rms = std::numeric_limits<double>::infinity();
    const int64_t frame = int64_t{samplesPerFrame} * channels;
    for (int off = -searchFrames; off <= searchFrames; ++off) {
        // reference[j] is compared with output[j + off * frame]
        const int64_t shift = off * frame;
        const int64_t begin = std::max<int64_t>(0, -shift);
        const int64_t end = std::min<int64_t>(static_cast<int64_t>(reference.size()),
                                              static_cast<int64_t>(output.size()) - shift);
        if (end <= begin) continue;
        double sum = 0;
        int maxDiff = 0;
        for (int64_t j = begin; j < end; ++j) {
            const int d = std::abs(int{output[j + shift]} - int{reference[j]});
            sum += double(d) * d;
            maxDiff = std::max(maxDiff, d);
        }
        const double rms = std::sqrt(sum / double(end - begin));
        if (rms < best.rms) best = {rms, maxDiff, end - begin, off};
    }
    return best;
}

} // namespace zumo::test
