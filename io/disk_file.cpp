// The disk-file device: C streams opened with the stream mode the channel's mode
// and access call for, then fully buffered. Reads and writes on one stream are
// separated by a seek, as streams opened for update require.
#include "io/disk_file.h"

#include <cerrno>
#include <cstdio>
#include <memory>
#include <utility>

#include "core/file_stream.h"

namespace {

// The stream's full buffer. A null buffer would leave its size to the C library
// (glibc takes the file system's block size instead), so the device owns one.
using StreamBuffer = std::unique_ptr<char[]>;

class DiskFile final : public ChannelDevice {
public:
    DiskFile(std::FILE* stream, StreamBuffer buffer)
        : buffer_(std::move(buffer)), stream_(stream), flushed_size_(file_size())
    {
    }
    // The stream is closed before its buffer goes: members outlive the body.
    ~DiskFile() override
    {
        if (stream_ != nullptr)
            std::fclose(stream_);
    }

    bool at_end() override;
    int32_t close() override;
    bool can_seek() const override { return true; }
    int32_t seek(int64_t position) override;
    int64_t tell() override;
    int32_t read(uint8_t* buffer, size_t count, size_t& bytes_read) override;
    int32_t write(const uint8_t* bytes, size_t count) override;
    int32_t flush() override;
    int32_t sync() override;

private:
    enum class LastUse { none, reading, writing };
    // An update stream needs a seek between a read and a following write (and back).
    void switch_to(LastUse use);
    int64_t file_size();
    // Hands the buffer to the system whole or not at all; see flush_whole.
    bool flush_whole();

    StreamBuffer buffer_;
    std::FILE* stream_;
    LastUse last_use_ = LastUse::none;
    int64_t flushed_size_;  // the file's size after the last flush that went through; -1 unknown
};

void DiskFile::switch_to(LastUse use)
{
    if (last_use_ != LastUse::none && last_use_ != use)
        std::fseek(stream_, 0, SEEK_CUR);
    last_use_ = use;
}

bool DiskFile::at_end()
{
    switch_to(LastUse::reading);
    const int c = std::fgetc(stream_);
    if (c == EOF)
        return true;
    std::ungetc(c, stream_);
    return false;
}

int64_t DiskFile::file_size() { return stream_file_size(stream_); }

// A disk that fills up takes only part of what is handed over, and the stream
// drops the rest. What was written since the last flush that went through is
// then cut off again, so the file never ends in a part of a row: a flush
// stores everything written since the previous one, or nothing.
bool DiskFile::flush_whole()
{
    if (std::fflush(stream_) == 0) {
        flushed_size_ = file_size();
        return true;
    }
    std::clearerr(stream_);
    if (flushed_size_ >= 0 && file_size() > flushed_size_) {
        if (truncate_stream_file(stream_, flushed_size_))
            fseeko(stream_, static_cast<off_t>(flushed_size_), SEEK_SET);
        last_use_ = LastUse::none;
    }
    return false;
}

// Buffered bytes that cannot be written (a full disk) are reported rather than
// lost in silence: the close fails with 3 and the stream stays open, so the
// channel is still open and its close can be tried again.
int32_t DiskFile::close()
{
    if (!flush_whole())
        return status_io_failed;
    std::fclose(stream_);
    stream_ = nullptr;
    return status_ok;
}

int32_t DiskFile::seek(int64_t position)
{
    if (position < 0 || fseeko(stream_, static_cast<off_t>(position), SEEK_SET) != 0)
        return status_io_failed;
    last_use_ = LastUse::none;
    return status_ok;
}

int64_t DiskFile::tell()
{
    const off_t position = ftello(stream_);
    return position < 0 ? -1 : static_cast<int64_t>(position);
}

int32_t DiskFile::read(uint8_t* buffer, size_t count, size_t& bytes_read)
{
    switch_to(LastUse::reading);
    bytes_read = std::fread(buffer, 1, count, stream_);
    return std::ferror(stream_) ? status_io_failed : status_ok;
}

int32_t DiskFile::write(const uint8_t* bytes, size_t count)
{
    switch_to(LastUse::writing);
    const size_t taken = std::fwrite(bytes, 1, count, stream_);
    return taken == count ? status_ok : status_io_failed;
}

int32_t DiskFile::flush() { return flush_whole() ? status_ok : status_io_failed; }

int32_t DiskFile::sync()
{
    if (!flush_whole() || !sync_stream_file(stream_))
        return status_io_failed;
    return status_ok;
}

// Every new stream gets its full buffer (disk_file_buffer_bytes at buffer)
// before anything else is done with it. Folders, fifos and sockets are no
// files: they are refused, without waiting.
std::FILE* open_stream(const std::string& name, const char* stream_mode, char* buffer)
{
    std::FILE* stream = open_file_stream(name, stream_mode);
    if (stream == nullptr)
        return nullptr;
    std::setvbuf(stream, buffer, _IOFBF, disk_file_buffer_bytes);
    return stream;
}

const char* binary_stream_mode(uint32_t access)
{
    if (access == access_read)
        return "rb";
    if (access == access_write)
        return "wb";
    return "r+b";
}

// Binary and random: update without creating; create if missing; as a last
// resort open a readable file read-only when the caller left the access open.
std::FILE* open_binary(const std::string& name, uint32_t& access, char* buffer, int32_t& status)
{
    std::FILE* stream = open_stream(name, binary_stream_mode(access), buffer);
    if (stream != nullptr)
        return stream;
    if (access == access_default || access == access_read_write) {
        stream = open_stream(name, "w+b", buffer);
        if (stream != nullptr)
            return stream;
    }
    if (access == access_default) {
        stream = open_stream(name, "rb", buffer);
        if (stream != nullptr) {
            access = access_read;
            return stream;
        }
    }
    status = status_cannot_open;
    return nullptr;
}

int64_t end_position(std::FILE* stream)
{
    if (fseeko(stream, 0, SEEK_END) != 0)
        return -1;
    const off_t end = ftello(stream);
    return end < 0 ? -1 : static_cast<int64_t>(end);
}

// Input: measure the size, then read the file from the start through the same
// stream (text and binary reads are the same bytes here, and a second open by
// name could meet another file).
std::FILE* open_input(const std::string& name, int64_t& size, char* buffer, int32_t& status)
{
    std::FILE* stream = open_stream(name, "rb", buffer);
    if (stream == nullptr) {
        status = status_cannot_open;
        return nullptr;
    }
    size = end_position(stream);
    if (size < 0 || fseeko(stream, 0, SEEK_SET) != 0) {
        std::fclose(stream);
        status = status_not_allowed;
        return nullptr;
    }
    return stream;
}

// Size at open for the modes that do not measure it on the way in.
int64_t measure_size(std::FILE* stream, int32_t mode)
{
    if (mode == mode_output)
        return 0;
    const int64_t size = end_position(stream);
    if (size < 0)
        return -1;
    if (mode == mode_append)
        return size;  // an append stream stays at the end
    return fseeko(stream, 0, SEEK_SET) == 0 ? size : -1;
}

}  // namespace

std::string native_file_name(std::string_view name)
{
    std::string native(name);
    for (char& c : native)
        if (c == '\\')
            c = '/';
    return native;
}

std::unique_ptr<ChannelDevice> open_disk_file(std::string_view name, int32_t mode, uint32_t& access, int64_t& size,
                                              int32_t& status)
{
    const std::string native = native_file_name(name);
    if (mode < mode_binary || mode > mode_append) {
        status = status_not_allowed;
        return nullptr;
    }
    // A zero byte would cut the name short and open some other file.
    if (native.find('\0') != std::string::npos) {
        status = status_cannot_open;
        return nullptr;
    }
    size = -1;
    // Made before the stream and freed after any close of it on the way out.
    auto buffer = std::make_unique_for_overwrite<char[]>(disk_file_buffer_bytes);
    std::FILE* stream = nullptr;
    if (mode == mode_binary || mode == mode_random)
        stream = open_binary(native, access, buffer.get(), status);
    else if (mode == mode_input)
        stream = open_input(native, size, buffer.get(), status);
    else {
        stream = open_stream(native, mode == mode_output ? "wb" : "ab", buffer.get());
        if (stream == nullptr)
            status = status_cannot_open;
    }
    if (stream == nullptr)
        return nullptr;
    if (size < 0) {
        size = measure_size(stream, mode);
        if (size < 0) {
            std::fclose(stream);
            status = status_not_allowed;
            return nullptr;
        }
    }
    if (access == access_default)
        access = access_read_write;
    status = status_ok;
    return std::make_unique<DiskFile>(stream, std::move(buffer));
}

std::unique_ptr<ChannelDevice> create_new_disk_file(std::string_view name, int32_t& status, bool& name_taken)
{
    const std::string native = native_file_name(name);
    name_taken = false;
    status = status_cannot_open;
    if (native.find('\0') != std::string::npos)
        return nullptr;
    auto buffer = std::make_unique_for_overwrite<char[]>(disk_file_buffer_bytes);
    std::FILE* stream = open_stream(native, "w+bx", buffer.get());
    if (stream == nullptr) {
        name_taken = errno == EEXIST;
        return nullptr;
    }
    status = status_ok;
    return std::make_unique<DiskFile>(stream, std::move(buffer));
}
