#pragma once

#include <string>
#include <vector>

namespace zumo {

// Whether a path names a playlist by its extension: .m3u, .m3u8 or .pls in
// any letter case.
bool IsPlaylistFile(const std::string& path);

// The entries of an .m3u, .m3u8 or .pls playlist, in its order, as paths:
// relative ones resolved against the playlist's folder, file:// URLs
// decoded (to the bytes they stand for). Other URLs, and entries that name
// no existing file, are left out. Playlists made on Windows, with
// backslashes between folders, are read too.
std::vector<std::string> ReadPlaylistFile(const std::string& path);

// The path a file:// URL names on this machine, decoded to the bytes it
// stands for; empty for any other URL.
std::string PathOfFileUrl(const std::string& url);
// A path as a file:// URL: every byte but ASCII letters, digits and
// "-._~/" percent-encoded, so that any name comes back as it was.
std::string FileUrlOf(const std::string& path);

} // namespace zumo
