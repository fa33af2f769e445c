// The simulated module's behaviour over time: bytes come in, replies and unasked
// bytes fall due later. No file descriptors here, so tests drive it with plain numbers.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tools/modsim_options.h"
#include "tools/modsim_replies.h"

// A point in time on both clocks: monotonic seconds for scheduling, wall-clock
// microseconds since the epoch for the log.
struct Moment {
    double mono_s = 0.0;
    int64_t wall_us = 0;
};

struct ModsimAction {
    enum class Kind {
        reply,    // the answer to a request: send bytes (may be empty when silent)
        hangup,   // close the line and stop serving
        unasked,  // send bytes nobody asked for
        stray,    // bytes received that were not a request: only logged
        vanish,   // the line went away (bytes: its device): only logged
        back,     // a new line took its place (bytes: its device): only logged
    };
    Kind kind = Kind::reply;
    uint64_t request_number = 0;  // the request answered, or the last one before unasked bytes
    std::string label;            // the reply plan ("ok", "short", "silent" ...)
    std::string bytes;            // sent, or for stray bytes received
    Moment moment;                // when the request or stray bytes arrived, or the unasked bytes left
};

class ModuleResponder {
public:
    ModuleResponder(ModsimOptions options, double start_s);

    // Bytes read from the line at now.
    void receive(std::string_view bytes, const Moment& now);

    // Monotonic seconds at which the next action falls due; infinity when none is pending.
    double next_due_s() const;

    // The actions due at now, in the order they fell due. After a hang-up nothing
    // more is ever due.
    std::vector<ModsimAction> take_due(const Moment& now);

    // Forgets what was due on a line that went away (unasked bytes, late replies).
    void drop_pending() { pending_.clear(); }

    bool hung_up() const { return hung_up_; }
    uint64_t requests_seen() const { return requests_seen_; }

private:
    // Keyed by due time, then by arrival, so equal times keep their order.
    using DueKey = std::pair<double, uint64_t>;
    void schedule(double due_s, ModsimAction action);
    void answer_request(const Moment& now);

    ModsimOptions options_;
    double start_s_;
    RequestScanner scanner_;
    std::map<DueKey, ModsimAction> pending_;
    uint64_t next_order_ = 0;
    uint64_t requests_seen_ = 0;
    bool hung_up_ = false;
};

// One log line (without the line end) for an action:
//   <mono s> <local date time.us> request <n> <label> "<bytes sent>"
//   <mono s> <local date time.us> unasked <n> "<bytes sent>"
//   <mono s> <local date time.us> stray "<bytes received>"
//   <mono s> <local date time.us> vanish <n> "<device closed>"
//   <mono s> <local date time.us> return <n> "<new device>"
// A hang-up is the request line with the label "hangup" and nothing sent.
std::string log_line(const ModsimAction& action);

// "YYYY-MM-DD HH:MM:SS.uuuuuu" in local time.
std::string wall_time_text(int64_t wall_us);
