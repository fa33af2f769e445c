// Readings, reply lines and planned faults of the simulated module, and the
// scanner that finds requests in the incoming bytes.
#include "tools/modsim_replies.h"

#include <cmath>
#include <numbers>

namespace {

constexpr double wave_centre = 560.0;
constexpr double wave_amplitude = 440.0;  // 120 .. 1000: three or four digits
constexpr double wave_periods_s[3] = {40.0, 65.0, 100.0};
constexpr double wave_phases_turns[3] = {0.0, 1.0 / 3.0, 2.0 / 3.0};

constexpr size_t cut_short_keep = 14;  // plus the line end: 16 bytes, below 21
constexpr size_t garbage_length = 24;
constexpr size_t long_reply_length = 5000;

// Elapsed time made safe to compute with: negative or not finite counts as 0.
double sane_elapsed_s(double elapsed_s)
{
    if (!std::isfinite(elapsed_s) || elapsed_s < 0.0)
        return 0.0;
    return elapsed_s;
}

void append_number(std::string& text, int64_t value) { text += std::to_string(value); }

std::string garbage_for(uint64_t reply_number)
{
    // A small linear congruential generator: the same junk for the same reply
    // number, so a failing run can be repeated byte for byte.
    uint64_t state = reply_number * 6364136223846793005ULL + 1442695040888963407ULL;
    std::string junk;
    for (size_t i = 0; i < garbage_length; ++i) {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        junk += static_cast<char>(static_cast<unsigned char>(state >> 56));
    }
    return junk;
}

std::string long_digits()
{
    std::string digits;
    digits.reserve(long_reply_length);
    for (size_t i = 0; i < long_reply_length; ++i)
        digits += static_cast<char>('1' + i % 9);
    return digits;
}

}  // namespace

std::array<int32_t, 3> waveform_inputs(double elapsed_s)
{
    double t = sane_elapsed_s(elapsed_s);
    std::array<int32_t, 3> inputs{};
    for (size_t i = 0; i < 3; ++i) {
        // fmod keeps the angle small, so precision holds on runs of many days.
        double turns = std::fmod(t / wave_periods_s[i] + wave_phases_turns[i], 1.0);
        double value = wave_centre + wave_amplitude * std::sin(2.0 * std::numbers::pi * turns);
        inputs[i] = static_cast<int32_t>(std::lround(value));
    }
    return inputs;
}

int32_t switch_state_at(SwitchMode mode, int64_t switch_period_ms, double elapsed_s)
{
    if (mode == SwitchMode::always_0)
        return 0;
    if (mode == SwitchMode::always_1)
        return 1;
    if (switch_period_ms <= 0)
        return 0;
    double periods = std::floor(sane_elapsed_s(elapsed_s) * 1000.0 / static_cast<double>(switch_period_ms));
    return std::fmod(periods, 2.0) >= 1.0 ? 1 : 0;
}

ModuleReading reading_at(const ModsimOptions& options, double elapsed_s)
{
    ModuleReading reading;
    reading.spare = options.spare;
    reading.switch_state = switch_state_at(options.switch_mode, options.switch_period_ms, elapsed_s);
    reading.inputs = options.fixed_values ? options.values : waveform_inputs(elapsed_s);
    return reading;
}

int64_t reading_checksum(const ModuleReading& reading)
{
    return int64_t{reading.switch_state} + reading.inputs[0] + reading.inputs[1] + reading.inputs[2];
}

namespace {

std::string reply_text(const ModuleReading& reading, const ReplyPlan& plan)
{
    std::string text = plan.bad_marker ? "Y" : "X";
    for (int64_t field : {int64_t{reading.spare}, int64_t{reading.switch_state}, int64_t{reading.inputs[0]},
                          int64_t{reading.inputs[1]}, int64_t{reading.inputs[2]}}) {
        text += ',';
        append_number(text, field);
    }
    text += ',';
    append_number(text, reading_checksum(reading) + (plan.bad_checksum ? 1 : 0));
    return text;
}

}  // namespace

std::string reply_line(const ModuleReading& reading) { return reply_text(reading, ReplyPlan{}) + "\r\n"; }

ReplyPlan plan_reply(const ModsimOptions& options, uint64_t reply_number)
{
    ReplyPlan plan;
    if (options.hangup_at != 0 && reply_number >= options.hangup_at)
        plan.shape = ReplyShape::hangup;
    else if (options.silent_after_set && reply_number > options.silent_after)
        plan.shape = ReplyShape::silent;
    else if (options.long_reply.includes(reply_number))
        plan.shape = ReplyShape::long_reply;
    else if (options.garbage.includes(reply_number))
        plan.shape = ReplyShape::garbage;
    else if (options.short_reply.includes(reply_number))
        plan.shape = ReplyShape::cut_short;
    else if (options.nul_bytes.includes(reply_number))
        plan.shape = ReplyShape::with_nuls;
    plan.bad_checksum = options.bad_checksum.includes(reply_number);
    plan.bad_marker = options.bad_marker.includes(reply_number);
    return plan;
}

std::string plan_label(const ReplyPlan& plan)
{
    std::string label;
    switch (plan.shape) {
    case ReplyShape::normal:
        break;
    case ReplyShape::silent:
        return "silent";
    case ReplyShape::hangup:
        return "hangup";
    case ReplyShape::cut_short:
        label = "short";
        break;
    case ReplyShape::garbage:
        return "garbage";
    case ReplyShape::long_reply:
        return "long";
    case ReplyShape::with_nuls:
        label = "nul";
        break;
    }
    for (auto [flag, word] : {std::pair{plan.bad_checksum, "bad-checksum"}, std::pair{plan.bad_marker, "bad-marker"}}) {
        if (!flag)
            continue;
        if (!label.empty())
            label += ',';
        label += word;
    }
    return label.empty() ? "ok" : label;
}

std::string reply_bytes(const ReplyPlan& plan, const ModuleReading& reading, uint64_t reply_number)
{
    switch (plan.shape) {
    case ReplyShape::silent:
    case ReplyShape::hangup:
        return {};
    case ReplyShape::garbage:
        return garbage_for(reply_number);
    case ReplyShape::long_reply:
        return long_digits();
    case ReplyShape::cut_short:
        return reply_text(reading, plan).substr(0, cut_short_keep) + "\r\n";
    case ReplyShape::with_nuls: {
        std::string text = reply_text(reading, plan);
        return text.substr(0, 1) + std::string(1, '\0') + text.substr(1) + std::string(1, '\0') + "\r\n";
    }
    case ReplyShape::normal:
        break;
    }
    return reply_text(reading, plan) + "\r\n";
}

std::vector<RequestScanner::Event> RequestScanner::feed(std::string_view bytes)
{
    std::vector<Event> events;
    auto stray = [&events](std::string_view run) {
        if (events.empty() || events.back().is_request)
            events.push_back(Event{false, {}});
        events.back().stray_bytes += run;
    };
    for (char c : bytes) {
        if (state_ == State::after_cr) {
            state_ = State::idle;
            if (c == '\n')
                continue;
        }
        if (state_ == State::after_x) {
            if (c == '\r' || c == '\n') {
                events.push_back(Event{true, {}});
                state_ = c == '\r' ? State::after_cr : State::idle;
                continue;
            }
            // The X was not a request after all.
            stray("X");
            state_ = State::idle;
        }
        if (c == 'X')
            state_ = State::after_x;
        else
            stray(std::string_view(&c, 1));
    }
    return events;
}

std::string escape_bytes(std::string_view bytes)
{
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string text;
    for (char c : bytes) {
        auto byte = static_cast<unsigned char>(c);
        switch (c) {
        case '\\':
            text += "\\\\";
            break;
        case '"':
            text += "\\\"";
            break;
        case '\r':
            text += "\\r";
            break;
        case '\n':
            text += "\\n";
            break;
        case '\t':
            text += "\\t";
            break;
        case '\0':
            text += "\\0";
            break;
        default:
            if (byte >= 0x20 && byte < 0x7F) {
                text += c;
            } else {
                text += "\\x";
                text += hex[byte >> 4];
                text += hex[byte & 0x0F];
            }
        }
    }
    return text;
}
