// What the simulated module says: the readings at a moment, the reply line built
// from them, the faults planned for each reply number, and how requests are found
// in the bytes that arrive.
#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tools/modsim_options.h"

// The values of one reply, before it is turned into text.
struct ModuleReading {
    int32_t spare = 0;
    int32_t switch_state = 0;
    std::array<int32_t, 3> inputs{0, 0, 0};
};

// The default inputs: three sine waves of different periods and phases, each kept
// within 120..1000 so that every reading has three or four digits and every sound
// reply is at least 21 bytes long.
std::array<int32_t, 3> waveform_inputs(double elapsed_s);

// The switch state after elapsed_s seconds for the chosen mode.
int32_t switch_state_at(SwitchMode mode, int64_t switch_period_ms, double elapsed_s);

// The reading the options describe at elapsed_s seconds after the start.
ModuleReading reading_at(const ModsimOptions& options, double elapsed_s);

// switch + AD1 + AD2 + AD3, as the module computes it.
int64_t reading_checksum(const ModuleReading& reading);

// "X,<spare>,<switch>,<AD1>,<AD2>,<AD3>,<checksum>\r\n".
std::string reply_line(const ModuleReading& reading);

// What happens to one reply. The shape replaces the whole line; the two bad-field
// flags spoil a normal or NUL-carrying line and can come together.
enum class ReplyShape { normal, silent, hangup, cut_short, garbage, long_reply, with_nuls };

struct ReplyPlan {
    ReplyShape shape = ReplyShape::normal;
    bool bad_checksum = false;
    bool bad_marker = false;
};

// The plan for reply n (counted from 1). When several faults name the same reply,
// the stronger wins: hang-up, silence, long reply, garbage, short reply, NUL bytes;
// a bad checksum and a bad marker apply to any line that still has those fields.
ReplyPlan plan_reply(const ModsimOptions& options, uint64_t reply_number);

// A short word for the plan, used in the log: "ok", "short", "bad-checksum,bad-marker" ...
std::string plan_label(const ReplyPlan& plan);

// The bytes sent for reply n under the plan (empty for silence and hang-up).
// A cut-short reply is the first 14 bytes of the sound line plus "\r\n" (16 bytes);
// garbage is 24 pseudo-random bytes fixed by the reply number; a long reply is 5000
// digits with no comma or line end; NUL bytes go after the marker and before the line end.
std::string reply_bytes(const ReplyPlan& plan, const ModuleReading& reading, uint64_t reply_number);

// Finds requests in the incoming byte stream: "X" followed by CR, LF or CR LF.
// A request counts as soon as its first line-end byte arrives, so the reply is not
// held back waiting for an LF that may never come; an LF right after such a CR is
// part of the same line end. Every other byte is a stray byte.
class RequestScanner {
public:
    struct Event {
        bool is_request = false;
        std::string stray_bytes;  // set when is_request is false
    };

    // The events found in this chunk, in order; stray bytes come in runs.
    std::vector<Event> feed(std::string_view bytes);

private:
    enum class State { idle, after_x, after_cr };
    State state_ = State::idle;
};

// Bytes as they are written in the log: printable ASCII as is, \\ \" \r \n \t \0
// and \xHH for everything else.
std::string escape_bytes(std::string_view bytes);
