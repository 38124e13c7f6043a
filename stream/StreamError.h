#pragma once

#include <stdexcept>
#include <string>

namespace zumo {

// The one exception type of the stream layer. The message tells which
// operation failed, e.g. "TBufStream.bsReadBuffer: read failed".
class StreamError : public std::runtime_error {
public:
    explicit StreamError(const std::string& message) : std::runtime_error(message) {}
};

} // namespace zumo
