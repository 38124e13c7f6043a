#include "synth/SynthFilter.h"

#include "kernels/DecodePaths.h"
#include "kernels/SynthKernels.h"
#include "synth/FastCosine.h"
#include "synth/SynthWindow.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace zumo {

namespace {

std::array<float, 31> ComputeDctScale() {
    std::array<float, 31> table{};
    int i = 0;
    // Stage of N points uses k = (2n + 1) * 32 / N, n = 0 .. N/2 - 1.
    for (int n = 32; n >= 2; n /= 2) {
        for (int j = 0; j < n / 2; ++j) {
            const long double k = static_cast<long double>((2 * j + 1) * (32 / n));
            const long double angle = k * std::numbers::pi_v<long double> / 64.0L;
            table[i++] = static_cast<float>(1.0L / (2.0L * std::cos(angle)));
        }
    }
    return table;
}

// Built while the program starts, before any filter runs.
[[maybe_unused]] const std::array<float, 31>& startupScales = DctScale();

} // namespace

// The window taps regrouped by tap: row m holds tap m of the 32 outputs,
// in double precision (the conversion is exact).
struct WindowByTap {
    alignas(64) double taps[16][32];
    WindowByTap() {
        for (int j = 0; j < 32; ++j)
            for (int m = 0; m < 16; ++m) taps[m][j] = static_cast<double>(synthWindow[16 * j + m]);
    }
};

namespace {

const WindowByTap& WindowTaps() {
    static const WindowByTap table;
    return table;
}

// Built while the program starts, before any filter runs.
[[maybe_unused]] const WindowByTap& startupTaps = WindowTaps();

} // namespace

const std::array<float, 31>& DctScale() {
    static const std::array<float, 31> table = ComputeDctScale();
    return table;
}

void FastCosine32(const float* in, float* out) { FastCosine<32>(in, out, DctScale().data()); }

namespace {

// cos((2n + 1) k pi / 64) as [k][n], in double precision.
struct CosineTable {
    double c[32][32];
    CosineTable() {
        for (int k = 0; k < 32; ++k)
            for (int n = 0; n < 32; ++n)
                c[k][n] = std::cos(static_cast<double>((2 * n + 1) * k) * std::numbers::pi / 64.0);
    }
};

} // namespace

void DirectCosine32(const float* in, float* out) {
    static const CosineTable table;
    for (int k = 0; k < 32; ++k) {
        double sum = 0.0;
        for (int n = 0; n < 32; ++n) sum += static_cast<double>(in[n]) * table.c[k][n];
        out[k] = static_cast<float>(sum);
    }
}

SynthFilter::SynthFilter(int32_t ch, float s)
    : dctScale(DctScale().data()), windowTaps(&WindowTaps()), channel(ch), scale(s) {
    ClearHistory();
}

void SynthFilter::ClearHistory() {
    historyA.fill(0.0);
    historyB.fill(0.0);
    subbandIn.fill(0.0f);
    currentStore = historyA.data();
    writeSlot = 15;
    queued = 0;
    pending = subbandIn.data();
    pendingStride = 1;
}

// The cosine transforms of the next blocks: by the defining sums on the
// straightforward path, otherwise side by side by a kernel, and one by the
// fast factorisation where no kernels run.
int32_t SynthFilter::CosineBlocks(DecodePath path, const float* first, int32_t stride, int32_t left, float* x) const {
    if (path != DecodePath::Straightforward) {
        const int32_t done = kernels::CosineBlocks(first, stride, left, x, dctScale);
        if (done > 0) return done;
    }
    float in[32];
    for (int sb = 0; sb < 32; ++sb) in[sb] = first[sb * stride];
    if (path == DecodePath::Straightforward) DirectCosine32(in, x);
    else FastCosine<32>(in, x, dctScale);
    return 1;
}

// Computes the 64 matrixed values V[0..63] of the block from its 32-point
// cosine transform X (x[k] = X[k]) and writes V[r] into row r of the
// current store and V[32 + r] into row r of the other, both in the block's
// slot. From the symmetries of the transform:
//   current: V[r] = X[16 + r] for r < 16, V[16] = 0, V[16 + t] = -X[32 - t];
//   other:   V[32 + s] = -X[16 - s] for s <= 16, V[48 + t] = -X[t].
// (The compiler runs these loops on vectors, the reversed ones too.)
void SynthFilter::StoreMatrixed(const float* x) {
    double* cur = currentStore + 32 * writeSlot;
    double* other = (currentStore == historyA.data() ? historyB.data() : historyA.data()) + 32 * writeSlot;
    for (int r = 0; r < 16; ++r) cur[r] = x[16 + r];
    cur[16] = 0.0;
    for (int t = 1; t < 16; ++t) cur[16 + t] = -x[32 - t];
    for (int s = 0; s <= 16; ++s) other[s] = -x[16 - s];
    for (int t = 1; t < 16; ++t) other[16 + t] = -x[t];
}

namespace {

// The window sums of the current slot and their conversion to 16 bits:
// output j adds the products of its 16 taps with row j of the blocks 0..15
// back (slot (slot - m) mod 16 of the store holds the block m back), in tap
// order and in double precision, then is scaled and rounded. For one
// filter, or for two filters at the same slot: stores, scales and pcm hold
// one entry per filter, taps the window by tap ([tap][output]).
template <int Channels>
void WindowToPcmPlain(const double* const* stores, int32_t slot, const double (*taps)[32], const double* scales,
                      int16_t* const* pcm) {
    for (int c = 0; c < Channels; ++c) {
        for (int j = 0; j < 32; ++j) {
            double sum = 0.0;
            for (int m = 0; m < 16; ++m) sum += stores[c][32 * ((slot - m) & 15) + j] * taps[m][j];
            pcm[c][j] = ToPcm16(static_cast<float>(sum * scales[c]));
        }
    }
}

// The window sums by a kernel where one runs, by the plain loop otherwise.
template <int Channels>
kernels::WindowFn WindowToPcm() {
    const kernels::WindowFn kernel = kernels::WindowToPcm<Channels>();
    return kernel ? kernel : WindowToPcmPlain<Channels>;
}

} // namespace

template <typename Window>
void SynthFilter::WindowBlock(OBuffer& out, Window window) {
    alignas(32) int16_t pcm[32];
    int16_t* const pcms[1] = {pcm};
    const double scales[1] = {static_cast<double>(scale)};
    window(&currentStore, writeSlot, windowTaps->taps, scales, pcms);
    out.AppendBlock(channel, pcm, 32);
}

template <typename Window>
void SynthFilter::WindowBlocks(SynthFilter& a, SynthFilter& b, OBuffer& out, Window window) {
    alignas(32) int16_t pcmA[32];
    alignas(32) int16_t pcmB[32];
    int16_t* const pcms[2] = {pcmA, pcmB};
    const double* const stores[2] = {a.currentStore, b.currentStore};
    const double scales[2] = {static_cast<double>(a.scale), static_cast<double>(b.scale)};
    window(stores, a.writeSlot, a.windowTaps->taps, scales, pcms);
    out.AppendBlock(a.channel, pcmA, 32);
    out.AppendBlock(b.channel, pcmB, 32);
}

void SynthFilter::NextSlot() {
    writeSlot = (writeSlot + 1) & 15;
    currentStore = currentStore == historyA.data() ? historyB.data() : historyA.data();
}

void SynthFilter::SynthesizeBlock(OBuffer& out) {
    float x[32];
    CosineBlocks(CurrentDecodePath(), subbandIn.data(), 1, 1, x);
    StoreMatrixed(x);
    WindowBlock(out, WindowToPcm<1>());
    NextSlot();
    subbandIn.fill(0.0f);
}

void SynthFilter::SynthesizeBlocks(const float* samples, int32_t stride, int32_t count, OBuffer& out) {
    const DecodePath path = CurrentDecodePath();
    const kernels::WindowFn window = WindowToPcm<1>();
    alignas(64) float x[16 * 32];
    int32_t done = 0;
    while (done < count) {
        const int32_t blocks = CosineBlocks(path, samples + done, stride, count - done, x);
        for (int32_t l = 0; l < blocks; ++l) {
            StoreMatrixed(x + l * 32);
            WindowBlock(out, window);
            NextSlot();
        }
        done += blocks;
    }
}

bool SynthFilter::InStepWith(const SynthFilter& other) const {
    return writeSlot == other.writeSlot && StoreAIsCurrent() == other.StoreAIsCurrent() &&
           windowTaps == other.windowTaps;
}

void SynthFilter::SynthesizeBlocks(SynthFilter& a, const float* samplesA, SynthFilter& b, const float* samplesB,
                                   int32_t stride, int32_t count, OBuffer& out) {
    if (!a.InStepWith(b)) {
        a.SynthesizeBlocks(samplesA, stride, count, out);
        b.SynthesizeBlocks(samplesB, stride, count, out);
        return;
    }
    const DecodePath path = CurrentDecodePath();
    const kernels::WindowFn window = WindowToPcm<2>();
    alignas(64) float xa[16 * 32];
    alignas(64) float xb[16 * 32];
    int32_t done = 0;
    while (done < count) {
        const int32_t left = count - done;
        // Four to seven blocks left, too few for eight lanes: a kernel may
        // take four of each channel in one transform.
        const float* xOfB = xa + 4 * 32;
        int32_t blocks = kernels::CosineBlocksOfTwo(samplesA + done, samplesB + done, stride, left, xa, a.dctScale);
        if (blocks == 0) {
            blocks = a.CosineBlocks(path, samplesA + done, stride, left, xa);
            b.CosineBlocks(path, samplesB + done, stride, left, xb);
            xOfB = xb;
        }
        for (int32_t l = 0; l < blocks; ++l) {
            a.StoreMatrixed(xa + l * 32);
            b.StoreMatrixed(xOfB + l * 32);
            WindowBlocks(a, b, out, window);
            a.NextSlot();
            b.NextSlot();
        }
        done += blocks;
    }
}

void SynthFilter::BeginQueue() {
    queue.fill(0.0f);
    queued = 0;
    pending = queue.data();
    pendingStride = kMaxQueued;
}

void SynthFilter::QueueBlock() {
    if (pendingStride == 1) {
        // The block was set into subbandIn (no BeginQueue, or the queue is full).
        if (queued < kMaxQueued) {
            for (int sb = 0; sb < 32; ++sb) queue[sb * kMaxQueued + queued] = subbandIn[sb];
            ++queued;
        }
        subbandIn.fill(0.0f);
        return;
    }
    ++queued;
    if (queued < kMaxQueued) {
        pending = queue.data() + queued;
        return;
    }
    pending = subbandIn.data();
    pendingStride = 1;
}

void SynthFilter::SynthesizeQueued(OBuffer& out) {
    SynthesizeBlocks(queue.data(), kMaxQueued, queued, out);
    EndQueue();
}

void SynthFilter::SynthesizeQueued(SynthFilter& a, SynthFilter& b, OBuffer& out) {
    if (a.queued != b.queued) {
        a.SynthesizeQueued(out);
        b.SynthesizeQueued(out);
        return;
    }
    SynthesizeBlocks(a, a.queue.data(), b, b.queue.data(), kMaxQueued, a.queued, out);
    a.EndQueue();
    b.EndQueue();
}

void SynthFilter::EndQueue() {
    queued = 0;
    pending = subbandIn.data();
    pendingStride = 1;
}

} // namespace zumo
