// Scheduling of the simulated module's replies, unasked bytes and hang-up, and
// the text of the simulator's log.
#include "tools/modsim_responder.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <ctime>
#include <limits>

ModuleResponder::ModuleResponder(ModsimOptions options, double start_s)
    : options_(std::move(options)), start_s_(start_s)
{
}

void ModuleResponder::schedule(double due_s, ModsimAction action)
{
    pending_.emplace(DueKey{due_s, next_order_++}, std::move(action));
}

void ModuleResponder::answer_request(const Moment& now)
{
    ++requests_seen_;
    ReplyPlan plan = plan_reply(options_, requests_seen_);
    ModuleReading reading = reading_at(options_, now.mono_s - start_s_);

    ModsimAction action;
    action.kind = plan.shape == ReplyShape::hangup ? ModsimAction::Kind::hangup : ModsimAction::Kind::reply;
    action.request_number = requests_seen_;
    action.label = plan_label(plan);
    action.bytes = reply_bytes(plan, reading, requests_seen_);
    action.moment = now;
    schedule(now.mono_s + static_cast<double>(options_.delay_ms) / 1000.0, std::move(action));
}

void ModuleResponder::receive(std::string_view bytes, const Moment& now)
{
    if (hung_up_)
        return;
    for (RequestScanner::Event& event : scanner_.feed(bytes)) {
        if (event.is_request) {
            answer_request(now);
            continue;
        }
        ModsimAction stray;
        stray.kind = ModsimAction::Kind::stray;
        stray.request_number = requests_seen_;
        stray.bytes = std::move(event.stray_bytes);
        stray.moment = now;
        schedule(now.mono_s, std::move(stray));
    }
}

double ModuleResponder::next_due_s() const
{
    if (pending_.empty())
        return std::numeric_limits<double>::infinity();
    return pending_.begin()->first.first;
}

std::vector<ModsimAction> ModuleResponder::take_due(const Moment& now)
{
    std::vector<ModsimAction> due;
    while (!hung_up_) {
        auto next = pending_.begin();
        if (next == pending_.end() || next->first.first > now.mono_s)
            break;
        double due_s = next->first.first;
        ModsimAction action = std::move(next->second);
        pending_.erase(next);

        bool sends_reply = action.kind == ModsimAction::Kind::reply && !action.bytes.empty();
        if (sends_reply && !options_.unasked.empty()) {
            ModsimAction unasked;
            unasked.kind = ModsimAction::Kind::unasked;
            unasked.request_number = action.request_number;
            unasked.bytes = options_.unasked;
            schedule(due_s + static_cast<double>(options_.unasked_delay_ms) / 1000.0, std::move(unasked));
        }
        if (action.kind == ModsimAction::Kind::unasked)
            action.moment = now;
        if (action.kind == ModsimAction::Kind::hangup) {
            hung_up_ = true;
            pending_.clear();
        }
        due.push_back(std::move(action));
    }
    return due;
}

std::string wall_time_text(int64_t wall_us)
{
    int64_t seconds = wall_us / 1'000'000;
    int64_t micros = wall_us % 1'000'000;
    if (micros < 0) {
        micros += 1'000'000;
        seconds -= 1;
    }
    auto whole = static_cast<std::time_t>(seconds);
    std::tm local{};
    if (localtime_r(&whole, &local) == nullptr)
        return "0000-00-00 00:00:00.000000";
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%06" PRId64, local.tm_year + 1900, local.tm_mon + 1,
                  local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, micros);
    return text;
}

std::string log_line(const ModsimAction& action)
{
    char mono[48];
    std::snprintf(mono, sizeof mono, "%.6f", action.moment.mono_s);
    std::string line = std::string(mono) + " " + wall_time_text(action.moment.wall_us) + " ";
    std::string number = std::to_string(action.request_number);
    switch (action.kind) {
    case ModsimAction::Kind::reply:
    case ModsimAction::Kind::hangup:
        line += "request " + number + " " + action.label + " ";
        break;
    case ModsimAction::Kind::unasked:
        line += "unasked " + number + " ";
        break;
    case ModsimAction::Kind::stray:
        line += "stray ";
        break;
    case ModsimAction::Kind::vanish:
        line += "vanish " + number + " ";
        break;
    case ModsimAction::Kind::back:
        line += "return " + number + " ";
        break;
    }
    return line + "\"" + escape_bytes(action.bytes) + "\"";
}
