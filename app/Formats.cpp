#include "app/Formats.h"

#include <cstdio>

namespace zumo {

std::string TimeText(int64_t seconds) {
    if (seconds < 0) seconds = 0;
    char text[48];
    std::snprintf(text, sizeof text, "%2.2lld.%2.2lld", static_cast<long long>(seconds / 60),
                  static_cast<long long>(seconds % 60));
    return text;
}

std::string BitrateText(int32_t bitsPerSecond) {
    char text[32];
    std::snprintf(text, sizeof text, "%3.3d kb/s", bitsPerSecond / 1000);
    return text;
}

static size_t NameStart(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? 0 : slash + 1;
}

std::string TitleOf(const std::string& path) {
    const size_t start = NameStart(path);
    std::string name = path.substr(start);
    const size_t dot = name.find_last_of('.');
    if (dot != std::string::npos) name.erase(dot);
    return name;
}

std::string LocationOf(const std::string& path) { return path.substr(0, NameStart(path)); }

static std::string Extension(const std::string& path) {
    const size_t start = NameStart(path);
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || dot < start) return {};
    return path.substr(dot);
}

bool HasMp3Extension(const std::string& path) {
    std::string ext = Extension(path);
    for (char& c : ext)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return ext == ".mp3";
}

int32_t NextScrollPos(int32_t scrollPos, int32_t clipWidth, int32_t titleWidth) {
    scrollPos += 1;
    if (clipWidth < scrollPos) scrollPos = -titleWidth;
    return scrollPos;
}

} // namespace zumo
