// Measures the logger's own sampling loop against a module on a serial port:
// what each exchange costs beyond the 50 ms the protocol waits, and how long a
// drawing takes to reach the window while the sample clock runs.
// Runs the program's real column and sample-clock code with the real window.
// BENCH_LATENCY_HISTOGRAM set in the environment adds the latencies by millisecond.
#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

#include "app/chart.h"
#include "app/data_file.h"
#include "app/dialogue.h"
#include "app/link.h"
#include "app/run_settings.h"
#include "app/sampling.h"
#include "core/clock.h"
#include "display/display_thread.h"
#include "display/system_window.h"
#include "io/channels.h"
#include "screen/graphics.h"

namespace {

constexpr double request_wait_s = 0.050;

// The system clock, with the real length of every sleep kept, so that the
// protocol's wait can be told apart from the work around it.
class SleepMeasuringClock final : public Clock {
public:
    double seconds() override { return system_.seconds(); }
    double awake_seconds() override { return system_.awake_seconds(); }
    void sleep_ms(int64_t delay_ms) override
    {
        const double before_s = system_.seconds();
        system_.sleep_ms(delay_ms);
        slept_s_ += system_.seconds() - before_s;
    }
    bool wait_until(double moment_s, WakeSignal& wake) override { return system_.wait_until(moment_s, wake); }
    double wake_margin_s() const override { return system_.wake_margin_s(); }
    double take_slept_s()
    {
        const double slept_s = slept_s_;
        slept_s_ = 0.0;
        return slept_s;
    }

private:
    SystemClock system_;
    double slept_s_ = 0.0;
};

// Display passes as the window reports them, written by the display thread.
constexpr size_t pass_capacity = 1 << 16;
std::array<DisplayPassTimes, pass_capacity> passes;
std::atomic<size_t> pass_count{0};

void record_pass(const DisplayPassTimes& times)
{
    const size_t index = pass_count.load(std::memory_order_relaxed);
    if (index >= pass_capacity)
        return;
    passes[index] = times;
    pass_count.store(index + 1, std::memory_order_release);
}

struct Options {
    int32_t port_number = 0;
    int32_t columns = 721;
    bool sdl_window = false;
    double run_length_min = 1.0;
};

bool parse_options(int argc, char** argv, Options& options)
{
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        const bool has_value = i + 1 < argc;
        if (argument == "--port" && has_value)
            options.port_number = std::atoi(argv[++i]);
        else if (argument == "--columns" && has_value)
            options.columns = std::clamp(std::atoi(argv[++i]), 1, last_column_x - first_column_x + 1);
        else if (argument == "--window" && has_value)
            options.sdl_window = std::strcmp(argv[++i], "sdl") == 0;
        else
            return false;
    }
    return options.port_number >= 1 && options.port_number <= 255;
}

struct Summary {
    double median = 0.0;
    double p99 = 0.0;
    double max = 0.0;
};

Summary summarise(std::vector<double> values)
{
    Summary summary;
    if (values.empty())
        return summary;
    std::sort(values.begin(), values.end());
    summary.median = values[values.size() / 2];
    const size_t rank = (values.size() * 99 + 99) / 100;  // nearest rank, 1-based
    summary.p99 = values[std::min(values.size(), std::max<size_t>(rank, 1)) - 1];
    summary.max = values.back();
    return summary;
}

void print_summary(const char* name, const std::vector<double>& values_s)
{
    const Summary s = summarise(values_s);
    std::printf("%s_ms median %.3f p99 %.3f max %.3f (n %zu)\n", name, s.median * 1e3, s.p99 * 1e3, s.max * 1e3,
                values_s.size());
}

// For each drawing, the first pass that took the lock after it shows it.
std::vector<double> display_latencies(const std::vector<double>& drawn_at_s)
{
    const size_t count = pass_count.load(std::memory_order_acquire);
    std::vector<double> latencies;
    size_t pass = 0;
    for (double drawn_s : drawn_at_s) {
        while (pass < count && passes[pass].locked_s < drawn_s)
            ++pass;
        if (pass == count)
            break;
        latencies.push_back(passes[pass].shown_s - drawn_s);
    }
    return latencies;
}

// How long passes waited for the screen lock, held it, and took from taking it
// to the frame on show.
void print_pass_times()
{
    const size_t count = pass_count.load(std::memory_order_acquire);
    std::vector<double> lock_wait_s;
    std::vector<double> lock_hold_s;
    std::vector<double> work_s;
    for (size_t i = 0; i < count; ++i) {
        lock_wait_s.push_back(passes[i].locked_s - passes[i].began_s);
        lock_hold_s.push_back(passes[i].released_s - passes[i].locked_s);
        work_s.push_back(passes[i].shown_s - passes[i].locked_s);
    }
    print_summary("display_lock_wait", lock_wait_s);
    print_summary("display_lock_hold", lock_hold_s);
    print_summary("display_pass_work", work_s);
}

}  // namespace

int main(int argc, char** argv)
{
    Options options;
    if (!parse_options(argc, argv, options)) {
        std::fprintf(stderr, "usage: exchange_bench --port N [--columns 1-721] [--window sdl|headless]\n");
        return 2;
    }
    char folder_pattern[] = "/tmp/exchange_bench_XXXXXX";
    const char* folder = mkdtemp(folder_pattern);
    if (folder == nullptr || chdir(folder) != 0) {
        std::perror("exchange_bench: temporary folder");
        return 1;
    }

    SleepMeasuringClock clock;
    use_program_clock(&clock);
    set_window_title("logger");
    if (options.sdl_window)
        set_window_factory(make_system_window);
    if (!open_graphics_window()) {
        std::fprintf(stderr, "exchange_bench: %s\n", window_open_error().c_str());
        return 1;
    }
    set_display_pass_observer(record_pass);

    const RunSettings settings{options.port_number, options.run_length_min, unit_label_for(options.run_length_min),
                               std::string(1, 'V')};
    set_text_colours(colour_black, colour_white);
    clear_window();
    open_channel_port(serial_channel, open_string_for_port(options.port_number), mode_random, access_default, lock_none,
                      0);
    if (error_code() != status_ok) {
        std::fprintf(stderr, "exchange_bench: cannot open COM%d\n", options.port_number);
        return 1;
    }
    draw_chart(settings);
    show_header_line(choose_data_file());
    write_header_row();

    std::vector<double> exchange_s;   // one column, less the nominal 50 ms wait
    std::vector<double> overshoot_s;  // the wait's own excess over 50 ms
    std::vector<double> drawn_at_s;   // when each column's drawing was done
    std::vector<double> lateness_s;   // each column's start against start + k x interval
    SamplingState state;
    drain_serial_channel();
    for (int32_t column = 0; column < options.columns; ++column) {
        clock.take_slept_s();
        const double begin_s = clock.seconds();
        if (sample_column(settings, state) != ColumnOutcome::sampled) {
            std::fprintf(stderr, "exchange_bench: the module did not answer at column %d\n", state.x);
            return 1;
        }
        const double end_s = clock.seconds();
        if (column > 0)
            lateness_s.push_back(begin_s - (state.start_s + column * sample_interval_s(settings.run_length_min)));
        overshoot_s.push_back(clock.take_slept_s() - request_wait_s);
        exchange_s.push_back(end_s - begin_s - request_wait_s);
        drawn_at_s.push_back(end_s);
        ++state.x;
        if (run_sample_clock(settings, state) == ClockResult::escape)
            break;
    }
    // Let the last drawing reach the window before the passes are read.
    clock.sleep_ms(50);
    set_display_pass_observer(nullptr);

    print_summary("column_lateness_in_process", lateness_s);
    print_summary("exchange_beyond_wait", exchange_s);
    print_summary("wait_overshoot", overshoot_s);
    if (options.sdl_window) {
        const std::vector<double> latencies = display_latencies(drawn_at_s);
        print_summary("display_latency", latencies);
        if (std::getenv("BENCH_LATENCY_HISTOGRAM") != nullptr) {
            std::array<int, 30> histogram{};
            for (double latency_s : latencies)
                ++histogram[std::min<size_t>(static_cast<size_t>(latency_s * 1e3), histogram.size() - 1)];
            for (size_t ms = 0; ms < histogram.size(); ++ms)
                std::printf("latency %2zu ms: %d\n", ms, histogram[ms]);
        }
        print_pass_times();
    }

    close_all_channels();
    close_graphics_window();
    std::filesystem::remove_all(folder);
    return 0;
}
