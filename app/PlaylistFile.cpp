#include "app/PlaylistFile.h"

#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <utility>

namespace zumo {
namespace {

// Playlists larger than this are read only this far (some 100,000 entries).
constexpr std::streamsize kMaxPlaylistBytes = 16 << 20;

std::string Lower(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

std::string Trim(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// The lines of a text, ended by LF, CR LF or CR, trimmed.
std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t i = 0; i <= text.size(); ++i) {
        if (i < text.size() && text[i] != '\n' && text[i] != '\r') continue;
        lines.push_back(Trim(text.substr(start, i - start)));
        if (i + 1 < text.size() && text[i] == '\r' && text[i + 1] == '\n') ++i;
        start = i + 1;
    }
    return lines;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string PercentDecoded(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && HexDigit(text[i + 1]) >= 0 && HexDigit(text[i + 2]) >= 0) {
            out += static_cast<char>(HexDigit(text[i + 1]) * 16 + HexDigit(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

// "scheme://…" with a scheme of a letter and then letters, digits, "+", "-" or ".".
bool IsUrl(const std::string& entry) {
    const size_t colon = entry.find("://");
    if (colon == std::string::npos || colon == 0) return false;
    for (size_t i = 0; i < colon; ++i) {
        const char c = entry[i];
        const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        if (!(letter || (i > 0 && ((c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.')))) return false;
    }
    return true;
}

bool IsFile(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

std::string Resolved(const std::string& name, const std::string& folder) {
    return name[0] == '/' ? name : folder + name;
}

// The file an entry names, or an empty text when it names none.
std::string EntryPath(const std::string& entry, const std::string& folder) {
    if (entry.empty()) return {};
    std::string path;
    if (Lower(entry.substr(0, 5)) == "file:") {
        path = PathOfFileUrl(entry);
    } else if (IsUrl(entry)) {
        return {};
    } else {
        path = Resolved(entry, folder);
        // Made on Windows: backslashes between the folders.
        if (!IsFile(path) && entry.find('\\') != std::string::npos) {
            std::string forward = entry;
            std::replace(forward.begin(), forward.end(), '\\', '/');
            path = Resolved(forward, folder);
        }
    }
    return IsFile(path) ? path : std::string();
}

// .m3u and .m3u8: one entry a line; lines starting with "#" are comments
// and the extended format's information.
std::vector<std::string> M3uEntries(const std::string& text) {
    std::vector<std::string> entries;
    for (const std::string& line : Lines(text))
        if (!line.empty() && line[0] != '#') entries.push_back(line);
    return entries;
}

// .pls: "FileN=entry" lines, in the order of N.
std::vector<std::string> PlsEntries(const std::string& text) {
    std::vector<std::pair<long, std::string>> numbered;
    for (const std::string& line : Lines(text)) {
        const size_t equals = line.find('=');
        if (equals == std::string::npos) continue;
        const std::string key = Lower(Trim(line.substr(0, equals)));
        if (key.size() <= 4 || key.compare(0, 4, "file") != 0) continue;
        const std::string digits = key.substr(4);
        if (digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos) continue;
        numbered.emplace_back(std::stol(digits), Trim(line.substr(equals + 1)));
    }
    std::stable_sort(numbered.begin(), numbered.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<std::string> entries;
    for (auto& [number, entry] : numbered) entries.push_back(std::move(entry));
    return entries;
}

} // namespace

bool IsPlaylistFile(const std::string& path) {
    const std::string lower = Lower(path);
    return EndsWith(lower, ".m3u") || EndsWith(lower, ".m3u8") || EndsWith(lower, ".pls");
}

std::string PathOfFileUrl(const std::string& url) {
    if (Lower(url.substr(0, 5)) != "file:") return {};
    std::string rest = url.substr(5);
    if (rest.compare(0, 2, "//") == 0) {
        // file://host/path: only this machine's files.
        const size_t slash = rest.find('/', 2);
        if (slash == std::string::npos) return {};
        const std::string host = Lower(rest.substr(2, slash - 2));
        if (!host.empty() && host != "localhost") return {};
        rest = rest.substr(slash);
    }
    if (rest.empty() || rest[0] != '/') return {};
    return PercentDecoded(rest);
}

std::string FileUrlOf(const std::string& path) {
    static const char* digits = "0123456789ABCDEF";
    std::string url = "file://";
    for (const char c : path) {
        const auto b = static_cast<unsigned char>(c);
        const bool plain = (b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z') || (b >= '0' && b <= '9') || b == '-' ||
                           b == '.' || b == '_' || b == '~' || b == '/';
        if (plain) {
            url += c;
        } else {
            url += '%';
            url += digits[b >> 4];
            url += digits[b & 15];
        }
    }
    return url;
}

std::vector<std::string> ReadPlaylistFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) return {};
    const std::streamsize size = std::min<std::streamsize>(in.tellg(), kMaxPlaylistBytes);
    if (size <= 0) return {};
    std::string text(static_cast<size_t>(size), '\0');
    in.seekg(0);
    in.read(text.data(), size);
    text.resize(static_cast<size_t>(in.gcount()));
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3); // a UTF-8 byte-order mark

    const size_t slash = path.find_last_of('/');
    const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    const std::vector<std::string> entries = EndsWith(Lower(path), ".pls") ? PlsEntries(text) : M3uEntries(text);
    std::vector<std::string> files;
    for (const std::string& entry : entries) {
        std::string file = EntryPath(entry, folder);
        if (!file.empty()) files.push_back(std::move(file));
    }
    return files;
}

} // namespace zumo
