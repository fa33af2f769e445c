// Resident memory over a whole 1440-minute run in virtual time: the logger's
// entry procedure against a fake module, with the real window when a display is
// there (the headless one otherwise). Prints the resident size at the start of
// sampling, every 120 columns, and after the run has closed its files.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "display/system_window.h"
#include "screen/graphics.h"
#include "tests/app/program_fixture.h"

namespace {

constexpr int32_t link_test_requests = 50;
constexpr int32_t report_every_columns = 120;

// Resident and peak resident size of this process in kB, from /proc.
struct Residency {
    long resident_kb = -1;
    long peak_kb = -1;
};

Residency residency()
{
    Residency found;
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0)
            found.resident_kb = std::atol(line.c_str() + 6);
        else if (line.rfind("VmHWM:", 0) == 0)
            found.peak_kb = std::atol(line.c_str() + 6);
    }
    return found;
}

void report(const char* when, int32_t column)
{
    const Residency now = residency();
    std::printf("rss %s column %d resident_kb %ld peak_kb %ld\n", when, column, now.resident_kb, now.peak_kb);
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv)
{
    const bool sdl_window = argc > 1 && std::string(argv[1]) == "--window=sdl";
    ProgramFixture program;
    if (sdl_window)
        set_window_factory(make_system_window);
    // 120 s between columns: each reading of the clock moves it on 20 ms, so
    // every column makes thousands of passes of the sample clock.
    program.clock.set_step_per_reading_us(20'000);
    program.type_line("3");
    program.type_line("1440");
    program.type_line("T");
    program.module.on_request = [](int32_t request) {
        const int32_t column = request - link_test_requests - 1;
        if (column >= 0 && column % report_every_columns == 0)
            report("during", column);
    };
    const int status = program.run();
    report("after", 721);
    const auto rows = program.data_rows("DATA001.CSV");
    std::printf("rows %zu status %d virtual_hours %.2f\n", rows.size(), status,
                static_cast<double>(program.clock.now_ns()) * 1e-9 / 3600.0);
    return rows.size() == 722 && status == 0 ? 0 : 1;
}
