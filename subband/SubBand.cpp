#include "subband/SubBand.h"

namespace zumo {

void DeliverPair(int32_t subband, uint8_t choice, bool hasLeft, double left, bool hasRight, double right,
                 SynthFilter& filter0, SynthFilter& filter1) {
    switch (choice) {
    case kChoiceBoth:
        if (hasLeft) filter0.SetSubbandSample(subband, static_cast<float>(left));
        if (hasRight) filter1.SetSubbandSample(subband, static_cast<float>(right));
        break;
    case kChoiceLeft:
        if (hasLeft) filter0.SetSubbandSample(subband, static_cast<float>(left));
        break;
    case kChoiceRight:
        if (hasRight) filter0.SetSubbandSample(subband, static_cast<float>(right));
        break;
    default: // kChoiceMix
        if (hasLeft || hasRight) {
            const double sum = (hasLeft ? left : 0.0) + (hasRight ? right : 0.0);
            filter0.SetSubbandSample(subband, static_cast<float>(0.5 * sum));
        }
        break;
    }
}

} // namespace zumo
