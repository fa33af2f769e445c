// Files on Windows: a named file is opened with CreateFileA, judged by what it
// is (a pipe is refused, a folder does not open), and only then made a stream.
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "core/file_stream.h"

namespace {

struct OpenRequest {
    DWORD access = 0;
    DWORD disposition = 0;
    int descriptor_flags = 0;
};

// What fopen would ask of the system for a stream mode; false for a mode it refuses.
bool open_request_for(const char* stream_mode, OpenRequest& request)
{
    const bool update = std::strchr(stream_mode, '+') != nullptr;
    const bool text = std::strchr(stream_mode, 'b') == nullptr;
    request.descriptor_flags = text ? _O_TEXT : 0;
    switch (stream_mode[0]) {
    case 'r':
        request.access = update ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ;
        request.disposition = OPEN_EXISTING;
        request.descriptor_flags |= update ? 0 : _O_RDONLY;
        return true;
    case 'w':
        request.access = update ? GENERIC_READ | GENERIC_WRITE : GENERIC_WRITE;
        request.disposition = std::strchr(stream_mode, 'x') != nullptr ? CREATE_NEW : CREATE_ALWAYS;
        return true;
    case 'a':
        request.access = update ? GENERIC_READ | GENERIC_WRITE : GENERIC_WRITE;
        request.disposition = OPEN_ALWAYS;
        request.descriptor_flags |= _O_APPEND;
        return true;
    default:
        return false;
    }
}

}  // namespace

std::FILE* open_file_stream(const std::string& name, const char* stream_mode)
{
    OpenRequest request;
    if (!open_request_for(stream_mode, request)) {
        errno = EINVAL;
        return nullptr;
    }
    // The sharing fopen allows: other programs may still read and write the file.
    const HANDLE handle = CreateFileA(name.c_str(), request.access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      request.disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        errno = error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ? EEXIST
                : error == ERROR_ACCESS_DENIED                              ? EACCES
                                                                            : ENOENT;
        return nullptr;
    }
    // A named pipe is no file: its reads would wait for the other end.
    if (GetFileType(handle) == FILE_TYPE_PIPE) {
        CloseHandle(handle);
        errno = EISDIR;
        return nullptr;
    }
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), request.descriptor_flags);
    if (fd < 0) {
        CloseHandle(handle);
        return nullptr;
    }
    std::string descriptor_mode(stream_mode);
    std::erase(descriptor_mode, 'x');  // the C library of Windows knows no "x"
    std::FILE* stream = _fdopen(fd, descriptor_mode.c_str());
    if (stream == nullptr)
        _close(fd);
    return stream;
}

int64_t stream_file_size(std::FILE* stream)
{
    struct _stat64 info {};
    if (_fstat64(_fileno(stream), &info) != 0 || (info.st_mode & _S_IFMT) != _S_IFREG)
        return -1;
    return static_cast<int64_t>(info.st_size);
}

bool sync_stream_file(std::FILE* stream)
{
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    return handle != INVALID_HANDLE_VALUE && FlushFileBuffers(handle) != FALSE;
}

bool truncate_stream_file(std::FILE* stream, int64_t size)
{
    return size >= 0 && _chsize_s(_fileno(stream), size) == 0;
}

// Only a plain "not there" counts as free: an entry that cannot be looked at
// (no permission, held by another program) is somebody's all the same.
bool name_exists(const std::string& name)
{
    if (GetFileAttributesA(name.c_str()) != INVALID_FILE_ATTRIBUTES)
        return true;
    const DWORD error = GetLastError();
    return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND && error != ERROR_INVALID_NAME;
}
