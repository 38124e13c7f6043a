#pragma once

#include "stream/Stream.h"

#include <string>

namespace zumo {

// Read-only stream over a file. A file that cannot be opened (missing, no
// permission, a directory or anything else that is not a regular file)
// still gives a FileStream: its Size is 0 and its reads deliver nothing.
class FileStream : public Stream {
public:
    explicit FileStream(const std::string& fileName);
    ~FileStream() override;
    FileStream(const FileStream&) = delete;
    FileStream& operator=(const FileStream&) = delete;

    bool IsOpen() const { return fd >= 0; }

    void SetSize(int64_t newSize) override;              // does nothing: the stream is read-only
    int64_t Read(void* dest, int64_t count) override;    // 0 on failure or at the end
    int64_t Seek(int64_t position, int origin) override; // -1 on failure
    int64_t Size() override;                             // asked of the file each time; 0 when unknown

private:
    int fd = -1;
};

} // namespace zumo
