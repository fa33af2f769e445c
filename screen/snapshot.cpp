// Writes the frame buffer and palette as an uncompressed 8-bit bottom-up BMP file.
#include "screen/snapshot.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <string>
#include <vector>

#include "core/error_status.h"
#include "core/file_stream.h"
#include "screen/screen.h"

namespace {

constexpr size_t max_name_length = 259;
constexpr uint32_t file_header_size = 14;
constexpr uint32_t info_header_size = 40;
constexpr uint32_t colour_table_size = 256 * 4;
constexpr uint32_t pixel_data_offset = file_header_size + info_header_size + colour_table_size;
constexpr uint32_t row_length = (static_cast<uint32_t>(screen_width) + 3u) / 4u * 4u;
constexpr uint32_t pixel_data_size = row_length * static_cast<uint32_t>(screen_height);
constexpr uint32_t pixels_per_metre = 2834;
static_assert(pixel_data_offset + pixel_data_size == snapshot_file_size);

using Headers = std::array<uint8_t, file_header_size + info_header_size>;

void put_u16(Headers& bytes, size_t offset, uint32_t value)
{
    bytes[offset] = static_cast<uint8_t>(value & 0xFF);
    bytes[offset + 1] = static_cast<uint8_t>((value >> 8) & 0xFF);
}

void put_u32(Headers& bytes, size_t offset, uint32_t value)
{
    put_u16(bytes, offset, value & 0xFFFF);
    put_u16(bytes, offset + 2, value >> 16);
}

Headers make_headers()
{
    Headers bytes{};
    bytes[0] = 'B';
    bytes[1] = 'M';
    put_u32(bytes, 2, pixel_data_offset + pixel_data_size);
    put_u32(bytes, 10, pixel_data_offset);
    put_u32(bytes, 14, info_header_size);
    put_u32(bytes, 18, static_cast<uint32_t>(screen_width));
    put_u32(bytes, 22, static_cast<uint32_t>(screen_height));
    put_u16(bytes, 26, 1);  // planes
    put_u16(bytes, 28, 8);  // bits per pixel
    put_u32(bytes, 30, 0);  // no compression
    put_u32(bytes, 34, pixel_data_size);
    put_u32(bytes, 38, pixels_per_metre);
    put_u32(bytes, 42, pixels_per_metre);
    put_u32(bytes, 46, 256);  // colours used
    put_u32(bytes, 50, 256);  // important colours
    return bytes;
}

std::array<uint8_t, colour_table_size> make_colour_table(const Palette& palette)
{
    std::array<uint8_t, colour_table_size> table{};
    for (size_t index = 0; index < palette.size(); ++index) {
        table[index * 4] = palette[index].blue;
        table[index * 4 + 1] = palette[index].green;
        table[index * 4 + 2] = palette[index].red;
    }
    return table;
}

// The name as the file system sees it: cut at 259 characters (or at a zero
// byte, where a C name ends anyway), with "\" taken as a folder separator too.
std::string working_name(std::string_view file_name)
{
    std::string name(file_name.substr(0, std::min(file_name.size(), max_name_length)));
    const size_t zero = name.find('\0');
    if (zero != std::string::npos)
        name.resize(zero);
    for (char& c : name)
        if (c == '\\')
            c = '/';
    return name;
}

int32_t finish(std::FILE* file, int32_t code, ErrorStatus& status)
{
    // A close that fails loses buffered bytes: that is a failed write too.
    if (std::fclose(file) != 0 && code == status_ok)
        code = status_io_failed;
    status.set(code);
    return code;
}

}  // namespace

// Every name gets this bitmap: "bmp" in any case is the format asked for, and
// for other extensions the same bitmap is the format chosen.
int32_t save_snapshot(const Screen& screen, std::string_view file_name, ErrorStatus& status)
{
    const std::string name = working_name(file_name);
    std::FILE* file = name.empty() ? nullptr : open_file_stream(name, "wb");
    if (file == nullptr) {
        status.set(status_cannot_open);
        return status_cannot_open;
    }

    // One buffer for the whole file: the picture reaches the system in one
    // write instead of a hundred small ones, which matters at the end of a run.
    std::setvbuf(file, nullptr, _IOFBF, static_cast<size_t>(snapshot_file_size));

    const Headers headers = make_headers();
    if (std::fwrite(headers.data(), 1, headers.size(), file) != headers.size())
        return finish(file, status_io_failed, status);

    const auto colour_table = make_colour_table(screen.palette());
    if (std::fwrite(colour_table.data(), 1, colour_table.size(), file) != colour_table.size())
        return finish(file, status_io_failed, status);

    std::vector<uint8_t> row(row_length, 0);
    for (int32_t y = screen_height - 1; y >= 0; --y) {
        const uint8_t* line = screen.frame() + static_cast<size_t>(y) * screen_width;
        std::copy(line, line + screen_width, row.begin());
        if (std::fwrite(row.data(), 1, row.size(), file) != row.size())
            return finish(file, status_io_failed, status);
    }
    return finish(file, status_ok, status);
}
