#pragma once

#include <stdexcept>
#include <string>

namespace zumo {

// Raised when the sound device cannot be opened: "Output device failure".
class OutputError : public std::runtime_error {
public:
    explicit OutputError(const std::string& message) : std::runtime_error(message) {}
};

} // namespace zumo
