// Files on Linux: a named file is opened non-blocking, judged by what it is,
// and only then made a stream in blocking mode.
#include "core/file_stream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

// The open(2) flags that fopen uses for a stream mode; -1 for a mode it refuses.
int open_flags_for(const char* stream_mode)
{
    const bool update = std::strchr(stream_mode, '+') != nullptr;
    switch (stream_mode[0]) {
    case 'r':
        return update ? O_RDWR : O_RDONLY;
    case 'w':
        // With "x" not even a dangling link of that name is followed.
        return (update ? O_RDWR : O_WRONLY) | O_CREAT | (std::strchr(stream_mode, 'x') != nullptr ? O_EXCL : O_TRUNC);
    case 'a':
        return (update ? O_RDWR : O_WRONLY) | O_CREAT | O_APPEND;
    default:
        return -1;
    }
}

bool can_be_a_file(int fd)
{
    struct stat info {};
    if (fstat(fd, &info) != 0)
        return false;
    return !S_ISDIR(info.st_mode) && !S_ISFIFO(info.st_mode) && !S_ISSOCK(info.st_mode);
}

}  // namespace

std::FILE* open_file_stream(const std::string& name, const char* stream_mode)
{
    const int flags = open_flags_for(stream_mode);
    if (flags < 0) {
        errno = EINVAL;
        return nullptr;
    }
    const int fd = ::open(name.c_str(), flags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
    if (fd < 0)
        return nullptr;
    if (!can_be_a_file(fd)) {
        ::close(fd);
        errno = EISDIR;
        return nullptr;
    }
    const int status_flags = fcntl(fd, F_GETFL);
    if (status_flags < 0 || fcntl(fd, F_SETFL, status_flags & ~O_NONBLOCK) < 0) {
        ::close(fd);
        return nullptr;
    }
    std::string descriptor_mode(stream_mode);
    std::erase(descriptor_mode, 'x');  // the file is made already
    std::FILE* stream = fdopen(fd, descriptor_mode.c_str());
    if (stream == nullptr)
        ::close(fd);
    return stream;
}

int64_t stream_file_size(std::FILE* stream)
{
    struct stat info {};
    if (fstat(fileno(stream), &info) != 0 || !S_ISREG(info.st_mode))
        return -1;
    return static_cast<int64_t>(info.st_size);
}

bool sync_stream_file(std::FILE* stream) { return fsync(fileno(stream)) == 0; }

bool truncate_stream_file(std::FILE* stream, int64_t size)
{
    return size >= 0 && ftruncate(fileno(stream), static_cast<off_t>(size)) == 0;
}

bool name_exists(const std::string& name)
{
    struct stat info {};
    return lstat(name.c_str(), &info) == 0;
}
