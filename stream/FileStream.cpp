#include "stream/FileStream.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zumo {

FileStream::FileStream(const std::string& fileName) {
    int handle = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
    if (handle < 0) return;
    struct stat info {};
    if (::fstat(handle, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(handle);
        return;
    }
    fd = handle;
}

FileStream::~FileStream() {
    if (fd >= 0) ::close(fd);
}

void FileStream::SetSize(int64_t) {}

int64_t FileStream::Read(void* dest, int64_t count) {
    if (fd < 0 || count <= 0) return 0;
    auto* out = static_cast<char*>(dest);
    int64_t done = 0;
    while (done < count) {
        ssize_t n = ::read(fd, out + done, static_cast<size_t>(count - done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += n;
    }
    return done;
}

int64_t FileStream::Seek(int64_t position, int origin) {
    if (fd < 0) return -1;
    int whence = origin == 0 ? SEEK_SET : origin == 1 ? SEEK_CUR : origin == 2 ? SEEK_END : -1;
    if (whence < 0) return -1;
    off_t result = ::lseek(fd, static_cast<off_t>(position), whence);
    return result < 0 ? -1 : static_cast<int64_t>(result);
}

int64_t FileStream::Size() {
    if (fd < 0) return 0;
    struct stat info {};
    if (::fstat(fd, &info) != 0) return 0;
    return static_cast<int64_t>(info.st_size);
}

} // namespace zumo
