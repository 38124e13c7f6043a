#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace zumo::test {

// One row of the compliance folder's manifest.tsv.
struct ManifestRow {
    std::string name;
    std::string kind; // "conformance" or "unsupported"
    int layer = 0;
    int mpeg = 0;
    int rate = 0;
    int channels = 0;
    int frames = 0;
    int refSamplesPerChannel = 0;
};

// The compliance folder: $ZUMO_CONFORMANCE_DIR when set, else the folder
// chosen when the project was configured.
std::string ConformanceDir();
bool HaveConformance();
std::vector<ManifestRow> Manifest();
std::string StreamPath(const std::string& name, const std::string& ext = ".bit");
// Files of the damaged/ folder.
std::vector<std::string> DamagedStreams();

// The folder that holds the built programs.
std::string BinDir();

std::vector<int16_t> ReadPcm16(const std::string& path);

struct PcmComparison {
    double rms = 0;
    int maxDiff = 0;
    int64_t compared = 0; // samples (all channels) in the overlap
    int offsetFrames = 0; // reference starts this many frames into the output
};

// Compares decoder output with a reference, both interleaved. The
// reference is aligned by whole frames of samplesPerFrame samples per
// channel, trying offsets -searchFrames..+searchFrames and keeping the one
// with the smallest RMS difference.
PcmComparison ComparePcm(const std::vector<int16_t>& output, const std::vector<int16_t>& reference, int channels,
                         int samplesPerFrame, int searchFrames);

} // namespace zumo::test

#define ZUMO_SKIP_WITHOUT_CONFORMANCE()                                                                                \
    do {                                                                                                               \
        if (!::zumo::test::HaveConformance())                                                                          \
            GTEST_SKIP() << "compliance streams not found in '" << ::zumo::test::ConformanceDir()                      \
                         << "' (set ZUMO_CONFORMANCE_DIR): skipping";                                                  \
    } while (0)
