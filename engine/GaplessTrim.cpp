#include "engine/GaplessTrim.h"

#include <algorithm>

namespace zumo {

GaplessTrim::GaplessTrim(OBuffer& target, int64_t skip, int64_t keep, int64_t end)
    : target(target), skip(skip), keep(keep), end(end) {}

void GaplessTrim::Append(int32_t channel, int16_t sample) {
    if (channel < 0 || channel > 1) return;
    if (Passes(count[channel]++)) target.Append(channel, sample);
}

void GaplessTrim::AppendBlock(int32_t channel, const int16_t* samples, int32_t n) {
    if (channel < 0 || channel > 1 || n <= 0) return;
    const int64_t first = count[channel];
    count[channel] += n;
    const int64_t last = first + n;
    // The block meets at most two spans that pass: the music, and what lies behind `end`.
    auto pass = [&](int64_t from, int64_t to) {
        from = std::max(from, first);
        to = std::min(to, last);
        if (from < to) target.AppendBlock(channel, samples + (from - first), static_cast<int32_t>(to - from));
    };
    const int64_t musicEnd = std::min(skip + keep, end);
    pass(skip, musicEnd);
    pass(std::max(end, skip), last);
}

void GaplessTrim::NewFormat(int32_t channels, int32_t frequency) {
    // Another stream follows: its samples are its own, none is trimmed.
    skip = 0;
    keep = 0;
    end = 0;
    target.NewFormat(channels, frequency);
}

} // namespace zumo
