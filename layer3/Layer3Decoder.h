#pragma once

#include "output/ChannelChoice.h"
#include "output/OBuffer.h"
#include "stream/BitReserve.h"
#include "stream/Bitstream.h"
#include "stream/Header.h"
#include "synth/SynthFilter.h"

#include <cstdint>

namespace zumo {

// Side information of one granule of one channel. Field names are those of
// the MPEG audio standard.
struct GranuleInfo {
    int32_t part2_3_length = 0;
    int32_t big_values = 0;
    int32_t global_gain = 0;
    int32_t scalefac_compress = 0;
    int32_t window_switching_flag = 0;
    int32_t block_type = 0;
    int32_t mixed_block_flag = 0;
    int32_t table_select[3] = {};
    int32_t subblock_gain[3] = {};
    int32_t region0_count = 0;
    int32_t region1_count = 0;
    int32_t preflag = 0;
    int32_t scalefac_scale = 0;
    int32_t count1table_select = 0;
};

struct ChannelSideInfo {
    int32_t scfsi[4] = {};
    GranuleInfo gr[2];
};

struct SideInfo {
    int32_t main_data_begin = 0;
    int32_t private_bits = 0;
    ChannelSideInfo ch[2];
};

// Scale factors of one channel, kept across granules and frames.
struct ScaleFactors {
    int32_t longFactors[23] = {};
    int32_t shortFactors[3][13] = {};
    // LSF right channel with intensity stereo: per band, the intensity
    // position that marks the band as not intensity coded (the largest
    // value its bit width can hold). Set by the LSF reader only.
    int32_t longIllegal[23] = {};
    int32_t shortIllegal[13] = {};
};

// Decodes one Layer III frame at a time into subband samples and feeds them
// to the synthesis filters. Holds the state Layer III needs from frame to
// frame: the bit reservoir, the scale factors and the overlap of the hybrid
// filter bank.
class Layer3Decoder {
public:
    Layer3Decoder(Bitstream& stream, Header& header, SynthFilter& filter0, SynthFilter& filter1, OBuffer& output,
                  ChannelChoice channelChoice);

    // Decodes the frame whose header has just been read.
    void DecodeFrame();
    // Follows the header's channel mode when the stream turned from single
    // to two channels or back; nothing otherwise.
    void FollowChannelMode();

    // Steps of DecodeFrame (Layer3Decoder.cpp): side information from the
    // frame body; false when the frame's side information is unusable.
    bool ReadSideInfo();

    // Scale factors (Layer3ScaleFactors.cpp).
    void ReadScaleFactors(int ch, int gr);
    void ReadLsfScaleFactors(int ch, int gr);

    // Huffman decoding of one granule and channel into huffSamples
    // (Layer3Huffman.cpp). False when the granule's side information or
    // data cannot be right; its lines are then all zero.
    bool DecodeSamples(int ch, int gr);

    // Dequantisation and stereo processing (Layer3Dequantize.cpp, Layer3Stereo.cpp).
    void Dequantize(int ch, int gr);
    void ProcessStereo(int gr);
    void ComputeLsfIntensityFactors(int32_t position, int32_t scaleBit, int32_t line);

    // Reordering, alias reduction, hybrid synthesis and the hand-off to a
    // synthesis filter (Layer3Hybrid.cpp).
    void Reorder(const float* source, int ch, int gr);
    // Subbands in the long part of a mixed block: 2, or 4 at 8 kHz.
    int32_t LongSubbands() const;
    void Antialias(int ch, int gr);
    void Hybrid(int ch, int gr);
    void FrequencyInversion();
    void HandOff(SynthFilter& filter);
    void HandOffPair();
    // 18 input values of one subband (may be overwritten) -> 36 outputs.
    static void InvMdct(float* input, float* output, int blockType);
    // The same by its defining sums in double precision (the straightforward
    // decode path).
    static void InvMdctDirect(const float* input, float* output, int blockType);

    // Working data; public so that the tests can drive single steps. Each
    // array starts on a cache line of its own.
    alignas(64) float dequantSamples[2][576] = {};
    alignas(64) float stereoSamples[2][576] = {};
    // (Two entries more than lines: a count1 quadruple may begin at line 574.)
    alignas(64) int32_t huffSamples[578] = {};
    alignas(64) float hybridOut[576] = {};
    alignas(64) float overlap[2][576] = {};
    float intensityFactorsLeft[576] = {};
    float intensityFactorsRight[576] = {};
    int32_t nonZeroCount[2] = {576, 576};

    Bitstream* stream;
    Header* header;
    SynthFilter* filter0;
    SynthFilter* filter1;
    OBuffer* output;
    ChannelChoice channelChoice;

    BitReserve reservoir;
    SideInfo sideInfo;
    ScaleFactors scaleFactors[2];
    int32_t granuleCount = 2;
    int32_t frameStart = 0;
    int32_t part2Start = 0;
    int32_t channelCount = 2;
    // The channels decoded, by the channel choice (ChooseChannels).
    int32_t firstChannel = 0;
    int32_t lastChannel = 1;
    void ChooseChannels();
    // Row of the band tables (BandTable.h): 0..2 MPEG-2, 3..5 MPEG-1,
    // 6..8 MPEG-2.5, each in the header's sampling-frequency order.
    int32_t frequencyIndex = 0;

    // Reservoir position (in its totalBits count) of the end of the main data
    // put in so far: every main-data read stops there, and bits beyond it
    // read as zero. Set by DecodeFrame; tests that drive single steps may set it.
    int32_t mainDataLimit = 0x7FFFFFFF;
    // Diagnosis counts: granules whose last count1 quadruple ran past
    // part2_3_length (the reader was put back and the quadruple dropped),
    // granules whose part2_3_length reached beyond the main data put in, and
    // granules (of one channel) silenced because their side information or
    // data could not be right.
    int32_t overrunGranules = 0;
    int32_t truncatedGranules = 0;
    int32_t silencedGranules = 0;
    // Frames decoded into samples, and frames skipped because their main
    // data was not in the reservoir or their side information was unusable.
    int32_t decodedFrames = 0;
    int32_t skippedFrames = 0;
    uint32_t ReadMain(int n);

    // The first channel's hybrid output while the second's is computed, so
    // that both are synthesised together (last, so that the working data
    // above keeps its place in memory).
    alignas(64) float firstChannelOut[576] = {};
};

} // namespace zumo
