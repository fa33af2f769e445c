// Fuzzes the tokenizer and the integer, double and text field reads over
// arbitrary bytes, once as a typed line and once from a channel. Input: two
// bytes of read script (eight 2-bit read kinds, used in turn), then the source bytes.
// Properties: every read on a source with bytes left consumes at least one;
// tokens keep their limits; reads leave the status 0; and both sources give
// the same values, since a channel's push-back store gives back exactly the
// one byte the tokenizer returns.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "core/clock.h"
#include "fuzz_check.h"
#include "io/channels.h"
#include "memory_devices.h"
#include "screen/screen.h"
#include "text/field_reader.h"

namespace {

using FieldValue = std::variant<int32_t, double, std::string>;

enum class ReadKind { text, integer, decimal };

ReadKind read_kind(uint16_t script, size_t read_number)
{
    switch ((script >> (2 * (read_number % 8))) & 3u) {
    case 1:
        return ReadKind::integer;
    case 2:
        return ReadKind::decimal;
    default:
        return ReadKind::text;
    }
}

FieldValue read_field(FieldReader& reader, ReadKind kind)
{
    switch (kind) {
    case ReadKind::integer:
        return reader.read_int_field();
    case ReadKind::decimal:
        return reader.read_double_field();
    case ReadKind::text:
        break;
    }
    std::string text = reader.read_text_field();
    FUZZ_CHECK(text.size() <= text_token_limit);
    return text;
}

bool same_value(const FieldValue& a, const FieldValue& b)
{
    if (a.index() != b.index())
        return false;
    if (const double* x = std::get_if<double>(&a)) {
        const double y = std::get<double>(b);
        return std::memcmp(x, &y, sizeof y) == 0;
    }
    return a == b;
}

// Reads fields until the source is used up; `remaining` tells how many bytes are left.
template <typename Remaining>
std::vector<FieldValue> read_all(FieldReader& reader, ErrorStatus& status, uint16_t script, Remaining remaining)
{
    std::vector<FieldValue> values;
    for (size_t n = 0;; ++n) {
        const size_t before = remaining();
        const ReadKind kind = read_kind(script, n);
        status.set(status_io_failed);
        values.push_back(read_field(reader, kind));
        FUZZ_CHECK(status.code() == status_ok);
        if (before == 0) {
            // An exhausted source gives an empty field.
            const FieldValue& last = values.back();
            FUZZ_CHECK(same_value(last, kind == ReadKind::text      ? FieldValue(std::string())
                                        : kind == ReadKind::integer ? FieldValue(int32_t{0})
                                                                    : FieldValue(0.0)));
            return values;
        }
        FUZZ_CHECK(remaining() < before);
    }
}

// The tokenizer alone: a cut token never exceeds its limit.
void check_token_limits(const std::string& bytes, uint16_t script)
{
    LineSource source(bytes);
    for (size_t n = 0; source.position() < bytes.size(); ++n) {
        const bool text = read_kind(script, n) == ReadKind::text;
        const size_t limit = text ? text_token_limit : numeric_token_limit;
        const Token token = next_token(source, limit, text);
        FUZZ_CHECK(token.text.size() <= limit);
    }
}

struct Program {
    ErrorStatus status;
    VirtualClock clock;
    Screen screen{status};
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    static Program program;
    const auto script = static_cast<uint16_t>(data[0] | (data[1] << 8));
    const std::string bytes(reinterpret_cast<const char*>(data + 2), size - 2);

    ChannelTable channels(program.status);
    FieldReader reader(program.status, program.screen, channels, program.clock);

    reader.use_line(bytes);
    const std::vector<FieldValue> from_line =
        read_all(reader, program.status, script, [&] { return bytes.size() - reader.line_source().position(); });

    MemoryDevice::Shared module;
    module.incoming.assign(bytes.begin(), bytes.end());
    channels.open_on_device(2, std::make_unique<MemoryDevice>(module), mode_binary, access_read_write);
    reader.begin_channel_fields(2);
    FUZZ_CHECK(program.status.code() == status_ok);
    const std::vector<FieldValue> from_channel = read_all(
        reader, program.status, script, [&] { return module.incoming.size() + channels.channel(2)->push_back_count; });

    FUZZ_CHECK(from_line.size() == from_channel.size());
    for (size_t i = 0; i < from_line.size(); ++i)
        FUZZ_CHECK(same_value(from_line[i], from_channel[i]));

    check_token_limits(bytes, script);
    return 0;
}
