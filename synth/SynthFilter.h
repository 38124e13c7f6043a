#pragma once

#include "kernels/DecodePaths.h"
#include "kernels/Rounding.h"
#include "output/OBuffer.h"

#include <array>
#include <cstdint>

namespace zumo {

struct WindowByTap;

// ISO/IEC 11172-3, 2.4.3.2 and the synthesis flow chart of Annex A.
// The 32-band polyphase synthesis filter of one channel: blocks of 32
// subband samples become 32 PCM samples appended to an output buffer.
//
// The 1024-value V history of the filter bank is kept in two stores of
// 16 slots x 32 rows. Each block writes one slot of both stores (its first
// 32 values into the current store, its last 32 into the other), then the
// slot advances and the stores swap roles, so the history never moves.
// A slot's 32 rows lie side by side and are held in double precision, so
// the window sums of all 32 outputs run as plain vector arithmetic.
class SynthFilter {
public:
    SynthFilter(int32_t channel, float scale);
    SynthFilter(const SynthFilter&) = delete;
    SynthFilter& operator=(const SynthFilter&) = delete;

    // Subbands that get no sample before the next block count as 0.0.
    void SetSubbandSample(int32_t subband, float value) { pending[subband * pendingStride] = value; }
    // Synthesises the pending block: its 32 samples go to out in time order,
    // in one AppendBlock call. The block-by-block form, the reference the
    // tests hold the others to: the decoders hand a granule or a frame at a
    // time to SynthesizeBlocks or SynthesizeQueued, which give exactly the
    // same samples (SynthFilterTest, BlocksAtOnceGiveExactlyTheBlockByBlockOutput
    // and ChannelPairsGiveExactlyWhatEachChannelGivesAlone).
    void SynthesizeBlock(OBuffer& out);
    // Synthesises count blocks whose subband samples are given at once:
    // subband sb of block t is samples[sb * stride + t]. The same output as
    // count rounds of SetSubbandSample and SynthesizeBlock; the cosine
    // transforms of several blocks run side by side on vectors. Samples
    // set by SetSubbandSample and not yet synthesised stay pending.
    void SynthesizeBlocks(const float* samples, int32_t stride, int32_t count, OBuffer& out);
    // The same for the two channels of a frame: a's blocks from samplesA,
    // b's from samplesB, with the output of a.SynthesizeBlocks followed by
    // b.SynthesizeBlocks (the blocks of the two channels reach out
    // alternately). When both filters are at the same slot, as they are
    // whenever both channels have been decoded all along, the window sums
    // of the two channels run together and share their loads of the window.
    static void SynthesizeBlocks(SynthFilter& a, const float* samplesA, SynthFilter& b, const float* samplesB,
                                 int32_t stride, int32_t count, OBuffer& out);
    // A frame's blocks can also be kept and synthesised together: after
    // BeginQueue the samples set go straight into the queue, QueueBlock
    // ends a block (as SynthesizeBlock would, up to 36 blocks; without
    // BeginQueue it copies the pending block in), and SynthesizeQueued
    // synthesises the kept blocks in order, as SynthesizeBlocks, and goes
    // back to block by block.
    void BeginQueue();
    void QueueBlock();
    void SynthesizeQueued(OBuffer& out);
    // Both filters' queues, as a.SynthesizeQueued then b.SynthesizeQueued,
    // paired as the static SynthesizeBlocks pairs them.
    static void SynthesizeQueued(SynthFilter& a, SynthFilter& b, OBuffer& out);

    int32_t Channel() const { return channel; }
    // Slot the next block writes (0..15) and whether store A is current.
    int32_t WriteSlot() const { return writeSlot; }
    bool StoreAIsCurrent() const { return currentStore == historyA.data(); }

private:
    void ClearHistory();
    // The cosine transforms of the next blocks (left of them remain), as
    // many side by side as a kernel takes: subband sb of block l is
    // first[sb * stride + l], and block l's 32 values go to x[l * 32 ...].
    // Returns how many blocks were transformed.
    int32_t CosineBlocks(DecodePath path, const float* first, int32_t stride, int32_t left, float* x) const;
    void StoreMatrixed(const float* x);
    // The window sums of the current slot and their conversion to 16 bits,
    // appended to out, by the function given (a kernels::WindowFn: a
    // kernel, or the plain loop); for one filter, or for two filters at the
    // same slot.
    template <typename Window>
    void WindowBlock(OBuffer& out, Window window);
    template <typename Window>
    static void WindowBlocks(SynthFilter& a, SynthFilter& b, OBuffer& out, Window window);
    void NextSlot();
    void EndQueue();
    bool InStepWith(const SynthFilter& other) const;

    alignas(64) std::array<double, 512> historyA; // [slot * 32 + row]
    alignas(64) std::array<double, 512> historyB;
    double* currentStore = nullptr;
    int32_t writeSlot = 15;
    std::array<float, 32> subbandIn;
    static constexpr int32_t kMaxQueued = 36;
    alignas(64) std::array<float, 32 * kMaxQueued> queue{}; // [subband * kMaxQueued + block]
    int32_t queued = 0;
    // Where SetSubbandSample writes: subbandIn (step 1) or the queue's
    // current block (step kMaxQueued).
    float* pending = subbandIn.data();
    int32_t pendingStride = 1;
    const float* dctScale;         // the shared transform multipliers, looked up once
    const WindowByTap* windowTaps; // the shared window by tap, looked up once
    int32_t channel;
    float scale;
};

// The 32-point cosine transform X[k] = sum over n of in[n] * cos((2n + 1) k pi / 64),
// k = 0..31, by the fast even/odd factorisation in single precision
// (FastCosine.h), one block. The filter runs it so only where no kernels
// run; the kernels run the same template on vectors, a block a lane, and
// give exactly its results (SynthFilterTest,
// MatchesTheTextbookFilterBankExactly, builds its expected output with it).
void FastCosine32(const float* in, float* out);
// The same transform by its defining sums, in double precision, rounded to
// single precision at the end.
void DirectCosine32(const float* in, float* out);

// The 31 multipliers 1 / (2 cos(k pi / 64)) of the fast transform, by stage:
// k = 1, 3, ..., 31; then 2, 6, ..., 30; 4, 12, 20, 28; 8, 24; 16.
const std::array<float, 31>& DctScale();

// Rounds to the nearest integer, ties to even, and saturates to 16 bits.
// Inline and without jumps, so that a loop over a block of samples runs on
// vectors.
inline int16_t ToPcm16(float x) {
    // Clamping first keeps the conversion defined for any input (NaN gives
    // -32768); values beyond the range round to the limits either way.
    x = x >= -32768.0f ? x : -32768.0f;
    x = x > 32767.0f ? 32767.0f : x;
    // Rounded to an integer, ties to even, by adding and taking away
    // kRoundToInteger (exact, as |x| <= 32768).
    const float rounded = (x + kernels::kRoundToInteger) - kernels::kRoundToInteger;
    return static_cast<int16_t>(static_cast<int32_t>(rounded));
}

} // namespace zumo
