#include "layer3/Layer3Decoder.h"

#include <algorithm>

namespace zumo {

namespace {
#include "layer3/Layer3ScaleFactorTables.inc"

// Intensity position that marks a band without intensity coding.
constexpr int32_t kNoIntensity = 7;
} // namespace

// Scale factors of MPEG-1 (ISO/IEC 11172-3, 2.4.1.7 and 2.4.2.7).
void Layer3Decoder::ReadScaleFactors(int ch, int gr) {
    const GranuleInfo& g = sideInfo.ch[ch].gr[gr];
    ScaleFactors& sf = scaleFactors[ch];
    const int32_t compress = g.scalefac_compress & 15;
    const int slen1 = slenTable[0][compress];
    const int slen2 = slenTable[1][compress];
    auto read = [this](int n) { return static_cast<int32_t>(ReadMain(n)); };

    if (g.window_switching_flag && g.block_type == 2) {
        int firstShort = 0;
        if (g.mixed_block_flag) {
            for (int band = 0; band < 8; ++band) sf.longFactors[band] = read(slen1);
            firstShort = 3;
        }
        for (int band = firstShort; band < 6; ++band)
            for (int window = 0; window < 3; ++window) sf.shortFactors[window][band] = read(slen1);
        for (int band = 6; band < 12; ++band)
            for (int window = 0; window < 3; ++window) sf.shortFactors[window][band] = read(slen2);
        for (int window = 0; window < 3; ++window) sf.shortFactors[window][12] = 0;
        return;
    }

    // Long blocks: in granule 1 a group whose scfsi bit is set keeps the
    // factors of granule 0.
    static constexpr int groupStart[5] = {0, 6, 11, 16, 21};
    const int32_t* scfsi = sideInfo.ch[ch].scfsi;
    for (int group = 0; group < 4; ++group) {
        if (gr != 0 && scfsi[group] != 0) continue;
        const int slen = group < 2 ? slen1 : slen2;
        for (int band = groupStart[group]; band < groupStart[group + 1]; ++band) sf.longFactors[band] = read(slen);
    }
    sf.longFactors[21] = 0;
    sf.longFactors[22] = 0;
}

// Scale factors of the lower sampling frequencies (ISO/IEC 13818-3).
void Layer3Decoder::ReadLsfScaleFactors(int ch, int gr) {
    GranuleInfo& g = sideInfo.ch[ch].gr[gr];
    ScaleFactors& sf = scaleFactors[ch];
    const int32_t sfc = g.scalefac_compress & 511;
    const bool shortBlock = g.window_switching_flag && g.block_type == 2;
    const bool mixed = shortBlock && g.mixed_block_flag;
    const int column = shortBlock ? (mixed ? 2 : 1) : 0;

    int32_t slen[4] = {0, 0, 0, 0};
    int row = 0;
    // Fill value of every factor when nothing is read.
    int32_t fill = 0;
    // The right channel of a joint-stereo frame with intensity stereo
    // carries intensity positions, with widths of their own. Mode extension
    // bits mean nothing outside joint stereo.
    const bool intensity = ch == 1 && header->mode == 1 && (header->modeExtension & 1) != 0;
    if (intensity) {
        const int32_t isfc = sfc >> 1;
        if (isfc < 180) {
            slen[0] = isfc / 36;
            slen[1] = (isfc % 36) / 6;
            slen[2] = (isfc % 36) % 6;
            row = 3;
        } else if (isfc < 244) {
            const int32_t t = isfc - 180;
            slen[0] = (t % 64) / 16;
            slen[1] = (t % 16) / 4;
            slen[2] = t % 4;
            row = 4;
        } else if (isfc < 255) {
            const int32_t t = isfc - 244;
            slen[0] = t / 3;
            slen[1] = t % 3;
            row = 5;
        } else {
            // isfc 255 defines no widths: read nothing, and let every band
            // carry the position that means "no intensity".
            row = 5;
            fill = kNoIntensity;
        }
        g.preflag = 0;
    } else if (sfc < 400) {
        slen[0] = (sfc >> 4) / 5;
        slen[1] = (sfc >> 4) % 5;
        slen[2] = (sfc & 15) >> 2;
        slen[3] = sfc & 3;
        g.preflag = 0;
        row = 0;
    } else if (sfc < 500) {
        const int32_t t = sfc - 400;
        slen[0] = (t >> 2) / 5;
        slen[1] = (t >> 2) % 5;
        slen[2] = t & 3;
        g.preflag = 0;
        row = 1;
    } else {
        const int32_t t = sfc - 500;
        slen[0] = t / 3;
        slen[1] = t % 3;
        g.preflag = 1;
        row = 2;
    }

    // At most 45 factors: every partition row sums to 21 (long), 36 (short)
    // or 33 (mixed). Beside each factor, the intensity position that its
    // width makes illegal: the largest value it can hold.
    int32_t buffer[45];
    int32_t illegal[45];
    for (int32_t& value : buffer) value = fill;
    int k = 0;
    for (int part = 0; part < 4; ++part) {
        for (int n = 0; n < partitionTable[row][column][part]; ++n, ++k)
            if (slen[part] != 0) buffer[k] = static_cast<int32_t>(ReadMain(slen[part]));
    }
    if (intensity) {
        k = 0;
        for (int part = 0; part < 4; ++part)
            for (int n = 0; n < partitionTable[row][column][part]; ++n, ++k)
                illegal[k] = fill != 0 ? fill : (1 << slen[part]) - 1;
    }

    if (shortBlock) {
        k = 0;
        int firstShort = 0;
        if (mixed) {
            // The long part of a mixed block is the six long bands 0-5 at
            // these sampling rates (up to line 36, at 8 kHz up to line 72);
            // short bands 3-11 follow, 6 + 27 factors as the partition
            // counts say.
            for (int band = 0; band < 6; ++band) {
                if (intensity) sf.longIllegal[band] = illegal[k];
                sf.longFactors[band] = buffer[k++];
            }
            for (int band = 6; band < 23; ++band) sf.longFactors[band] = 0;
            firstShort = 3;
        }
        for (int band = firstShort; band < 12; ++band) {
            // The three windows of a band always share one partition.
            if (intensity) sf.shortIllegal[band] = illegal[k];
            for (int window = 0; window < 3; ++window) sf.shortFactors[window][band] = buffer[k++];
        }
        for (int window = 0; window < 3; ++window) sf.shortFactors[window][12] = 0;
        return;
    }
    for (int band = 0; band < 21; ++band) sf.longFactors[band] = buffer[band];
    if (intensity) std::copy(illegal, illegal + 21, sf.longIllegal);
    sf.longFactors[21] = 0;
    sf.longFactors[22] = 0;
}

} // namespace zumo
