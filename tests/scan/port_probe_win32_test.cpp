// The Windows probe through a stand-in for its Win32 calls: the open it makes,
// what each outcome means (Wine cannot show a held port), and that every handle
// is closed. Values are the Win32 ones, written out to check the constants too.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "scan/port_probe.h"
#include "scan/win32_probe_calls.h"

namespace {

void* const invalid_handle = reinterpret_cast<void*>(intptr_t(-1));
constexpr uint32_t generic_read_write = 0x80000000u | 0x40000000u;
constexpr uint32_t open_existing = 3;
constexpr uint32_t error_file_not_found = 2;
constexpr uint32_t error_access_denied = 5;

struct CreateCall {
    std::string name;
    uint32_t access;
    uint32_t share_mode;
    void* security;
    uint32_t creation;
    uint32_t flags;
    void* template_file;
};

// Ports opened by name: a name in `opens` gets a handle of its own; any other
// fails with the code in `failures`, or ERROR_FILE_NOT_FOUND.
class FakeProbeCalls final : public Win32ProbeCalls {
public:
    std::map<std::string, void*> opens;
    std::map<std::string, uint32_t> failures;
    std::vector<std::string> trace;
    std::vector<CreateCall> creates;
    std::vector<void*> open_handles;

    FakeProbeCalls() { use_win32_probe_calls(this); }
    ~FakeProbeCalls() override { use_win32_probe_calls(nullptr); }

    void set_last_error(uint32_t code) override
    {
        trace.push_back("set_last_error " + std::to_string(code));
        last_error_ = code;
    }
    void* create_file(const char* name, uint32_t access, uint32_t share_mode, void* security, uint32_t creation,
                      uint32_t flags, void* template_file) override
    {
        trace.push_back(std::string("create_file ") + name);
        creates.push_back({name, access, share_mode, security, creation, flags, template_file});
        if (auto found = opens.find(name); found != opens.end()) {
            open_handles.push_back(found->second);
            return found->second;
        }
        auto failure = failures.find(name);
        last_error_ = failure != failures.end() ? failure->second : error_file_not_found;
        return invalid_handle;
    }
    uint32_t get_last_error() override
    {
        trace.push_back("get_last_error");
        return last_error_;
    }
    bool close_handle(void* handle) override
    {
        trace.push_back("close_handle");
        std::erase(open_handles, handle);
        return true;
    }

private:
    uint32_t last_error_ = 0;
};

void* handle_number(intptr_t n) { return reinterpret_cast<void*>(0x1000 + n); }

}  // namespace

TEST(Win32Probe, only_access_denied_makes_a_failed_open_a_held_port)
{
    struct Case {
        uint32_t error;
        PortProbe expected;
    };
    const Case cases[] = {
        {error_access_denied, PortProbe::held},
        {error_file_not_found, PortProbe::absent},
        {31, PortProbe::absent},  // ERROR_GEN_FAILURE: a device that does not work
        {0, PortProbe::absent},   // a failure that left no code
    };
    for (const Case& c : cases) {
        FakeProbeCalls calls;
        calls.failures["\\\\.\\COM2"] = c.error;
        EXPECT_EQ(probe_port("\\\\.\\COM2"), c.expected) << "error " << c.error;
        EXPECT_EQ(calls.trace,
                  (std::vector<std::string>{"set_last_error 0", "create_file \\\\.\\COM2", "get_last_error"}))
            << "error " << c.error;
    }
}

TEST(Win32Probe, scan_opens_every_dot_name_up_to_255_exclusively_without_extras_and_closes_every_handle)
{
    FakeProbeCalls calls;
    for (intptr_t n : {1, 10, 200})
        calls.opens["\\\\.\\COM" + std::to_string(n)] = handle_number(n);
    calls.failures["\\\\.\\COM3"] = error_access_denied;
    calls.failures["\\\\.\\COM255"] = error_access_denied;

    EXPECT_EQ(scan_ports(), (std::vector<uint32_t>{1, 3, 10, 200, 255}));
    ASSERT_EQ(calls.creates.size(), 255u);
    size_t create_at = 0;
    for (size_t i = 0; i < calls.trace.size(); ++i) {
        if (!calls.trace[i].starts_with("create_file"))
            continue;
        EXPECT_EQ(calls.trace[i], "create_file \\\\.\\COM" + std::to_string(++create_at));
        ASSERT_GT(i, 0u);
        EXPECT_EQ(calls.trace[i - 1], "set_last_error 0") << "before COM" << create_at;
        const CreateCall& open = calls.creates[create_at - 1];
        EXPECT_EQ(open.access, generic_read_write);
        EXPECT_EQ(open.share_mode, 0u);
        EXPECT_TRUE(open.security == nullptr && open.creation == open_existing && open.flags == 0u &&
                    open.template_file == nullptr);
    }
    EXPECT_EQ(std::count(calls.trace.begin(), calls.trace.end(), "close_handle"), 3);
    EXPECT_TRUE(calls.open_handles.empty());
}
