// The field reader: one current field source (a typed line or a channel), the
// tokenizer that cuts comma-separated fields from it, and the three field
// conversions. A test creates its own FieldReader; the program uses one.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "core/error_status.h"

class Screen;
class Clock;
class ChannelTable;

constexpr int32_t end_of_source = -1;  // the end marker: distinct from every byte
constexpr size_t numeric_token_limit = 67;
constexpr size_t text_token_limit = 4096;

// Where the tokenizer's characters come from.
class CharSource {
public:
    virtual ~CharSource() = default;
    // A byte 0-255, or end_of_source.
    virtual int32_t get_char() = 0;
    // Gives one byte back so that the next get_char returns it.
    virtual void unget_char(int32_t c) = 0;
};

// A typed line as a source.
class LineSource final : public CharSource {
public:
    LineSource() = default;
    explicit LineSource(std::string line) : line_(std::move(line)) {}
    int32_t get_char() override;
    void unget_char(int32_t c) override;
    const std::string& line() const { return line_; }
    size_t position() const { return position_; }

private:
    std::string line_;
    size_t position_ = 0;
};

// An open channel as a source: one get-data call per byte, push-back for unget.
// With the status the table reports through, a read that reports a failure
// also counts as the end of the source.
class ChannelSource final : public CharSource {
public:
    ChannelSource(ChannelTable& channels, int32_t channel, ErrorStatus* status = nullptr)
        : channels_(&channels), channel_(channel), status_(status)
    {
    }
    int32_t get_char() override;
    void unget_char(int32_t c) override;
    int32_t channel() const { return channel_; }

private:
    ChannelTable* channels_;
    int32_t channel_;
    ErrorStatus* status_;
};

struct Token {
    std::string text;
    bool looks_fractional = false;
};

// Cuts the next field from the source (at most `limit` characters).
Token next_token(CharSource& source, size_t limit, bool text_field);

// The conversions of a numeric token.
int32_t integer_conversion(std::string_view token);
double decimal_conversion(std::string_view token);
int32_t int_field_value(const Token& token);
double double_field_value(const Token& token);

class FieldReader {
public:
    FieldReader(ErrorStatus& status, Screen& screen, ChannelTable& channels, Clock& clock);

    // Shows the prompt, lets the operator edit one line, makes it the source.
    void enter_line(std::string_view prompt, bool add_question, bool add_line_end);
    // Makes an open channel the source; status 1 and no change otherwise.
    void begin_channel_fields(int32_t channel);
    // Makes a given line the source, as if typed (tests, tools).
    void use_line(std::string line);

    int32_t read_int_field();
    double read_double_field();
    std::string read_text_field();

    // The channel being read, or 0 when the source is a line.
    int32_t source_channel() const { return channel_is_source_ ? channel_source_.channel() : 0; }
    const LineSource& line_source() const { return line_source_; }

    // What this reader was built on (the program's reader is rebuilt when these change).
    bool is_built_on(const ErrorStatus& status, const Screen& screen, const ChannelTable& channels,
                     const Clock& clock) const
    {
        return &status == &status_ && &screen == &screen_ && &channels == &channels_ && &clock == &clock_;
    }

private:
    CharSource& source();

    ErrorStatus& status_;
    Screen& screen_;
    ChannelTable& channels_;
    Clock& clock_;
    bool channel_is_source_ = false;
    LineSource line_source_;
    ChannelSource channel_source_;
};

FieldReader& the_field_reader();
void use_field_reader(FieldReader* reader);  // nullptr restores the program's own

void enter_line(std::string_view prompt, bool add_question, bool add_line_end);
void begin_channel_fields(int32_t channel);
int32_t read_int_field();
double read_double_field();
std::string read_text_field();
