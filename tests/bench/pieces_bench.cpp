// Costs of the pieces a sample is made of: drawing a glyph, a text row, a
// trace segment, converting the whole frame through the palette, saving the
// picture, writing a data row, formatting a readout, and one pass of the
// sample clock; and a display pass scaled to the window.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

#include "app/conversion.h"
#include "app/data_file.h"
#include "app/link.h"
#include "app/run_settings.h"
#include "app/sampling.h"
#include "core/error_status.h"
#include "display/presentation.h"
#include "display/window_headless.h"
#include "io/channels.h"
#include "screen/draw_line.h"
#include "screen/graphics.h"
#include "screen/screen.h"
#include "screen/snapshot.h"
#include "text/value_format.h"

namespace {

// A temporary folder for the files the benchmarks write, removed at the end.
class ScratchFolder {
public:
    ScratchFolder()
    {
        char pattern[] = "/tmp/pieces_bench_XXXXXX";
        const char* made = mkdtemp(pattern);
        path_ = made != nullptr ? made : "/tmp";
    }
    ~ScratchFolder()
    {
        if (path_ != "/tmp") {
            std::error_code ignored;
            std::filesystem::remove_all(path_, ignored);
        }
    }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

void BM_glyph(benchmark::State& state)
{
    ErrorStatus status;
    Screen screen(status);
    screen.set_text_colours(colour_black, colour_white);
    for (auto _ : state) {
        screen.move_cursor(10, 40);
        screen.write_text("A", false);
    }
    benchmark::DoNotOptimize(screen.pixel(320, 150));
}
BENCHMARK(BM_glyph);

void BM_text_row(benchmark::State& state)
{
    ErrorStatus status;
    Screen screen(status);
    screen.set_text_colours(colour_black, colour_white);
    const std::string row(100, 'W');
    for (auto _ : state) {
        screen.move_cursor(10, 1);
        screen.write_text(row, false);
    }
    benchmark::DoNotOptimize(screen.pixel(320, 150));
}
BENCHMARK(BM_text_row);

// One column's red trace: a steep segment from the previous sample's row.
void BM_trace_segment(benchmark::State& state)
{
    ErrorStatus status;
    Screen screen(status);
    float x = 41.0f;
    for (auto _ : state) {
        draw_line(screen, x, 300.0f, x - 1.0f, 260.0f, colour_red, LineKind::line, style_solid);
        x = x >= 760.0f ? 41.0f : x + 1.0f;
    }
    benchmark::DoNotOptimize(screen.pixel(100, 280));
}
BENCHMARK(BM_trace_segment);

// A display pass into a window of 800x600, 1600x1200, 1200x900 or 1920x1080 (argument 0 to 3):
// the device rows that a text row's 16 frame rows, or all 600, map to, scaled.
void BM_scaled_display_pass(benchmark::State& state)
{
    ErrorStatus status;
    Screen screen(status);
    const DeviceSize sizes[] = {{800, 600}, {1600, 1200}, {1200, 900}, {1920, 1080}};
    const DeviceSize size = sizes[state.range(0)];
    const Presentation p = make_presentation(size.width, size.height);
    const ArgbColours colours = argb_colours(screen.palette());
    std::vector<uint32_t> target(static_cast<size_t>(size.width) * size.height);
    const DeviceRows rows = device_rows_for_frame_rows(p, 584 - static_cast<int32_t>(state.range(1)), 583);
    for (auto _ : state) {
        scale_frame_rows(p, screen.frame(), colours, rows, target.data(), size.width * 4);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_scaled_display_pass)->ArgsProduct({{0, 1, 2, 3}, {16, 600}})->Unit(benchmark::kMicrosecond);

void BM_save_snapshot(benchmark::State& state)
{
    ScratchFolder folder;
    ErrorStatus status;
    Screen screen(status);
    const std::string name = folder.file("BMP001.BMP");
    for (auto _ : state) {
        // A run writes a new file: the old one goes outside the timing.
        state.PauseTiming();
        std::remove(name.c_str());
        state.ResumeTiming();
        benchmark::DoNotOptimize(save_snapshot(screen, name, status));
    }
}
BENCHMARK(BM_save_snapshot)->Unit(benchmark::kMicrosecond);

// One data row through the data channel to a disk file, handed to the system
// as the logger does after every row.
void BM_data_row_written(benchmark::State& state)
{
    ScratchFolder folder;
    ErrorStatus status;
    ChannelTable channels(status);
    use_error_status(&status);
    use_channels(&channels);
    channels.open_file(data_channel, folder.file("DATA001.CSV"), mode_binary, access_default, lock_none, 0);
    ReadingRecord record{"X", 0, 1, 1000, 700, 800, 2501};
    const ConvertedReadings converted = convert_reply(record, "V");
    double elapsed_s = 0.0;
    for (auto _ : state) {
        write_data_row(elapsed_s, record, converted);
        elapsed_s += 1.0 / 12.0;
    }
    channels.close(data_channel);
    use_channels(nullptr);
    use_error_status(nullptr);
}
BENCHMARK(BM_data_row_written)->Unit(benchmark::kMicrosecond);

void BM_picture_readout_formatted(benchmark::State& state)
{
    float volts = 3.1415f;
    for (auto _ : state) {
        benchmark::DoNotOptimize(picture_text("V1= #.###", volts));
        volts = volts > 5.0f ? 0.001f : volts + 0.0137f;
    }
}
BENCHMARK(BM_picture_readout_formatted);

void BM_elapsed_time_formatted(benchmark::State& state)
{
    float elapsed_s = 12.3456f;
    for (auto _ : state) {
        benchmark::DoNotOptimize(picture_text("Elapsed Time: #####.###", elapsed_s));
        elapsed_s += 0.00001f;
    }
}
BENCHMARK(BM_elapsed_time_formatted);

// One pass of the sample clock between its waits (key poll, elapsed-time readout,
// clock), through the program's own operations with a window open.
void BM_sample_clock_pass(benchmark::State& state)
{
    ErrorStatus status;
    Screen screen(status);
    use_error_status(&status);
    use_screen(&screen);
    set_window_factory(make_headless_window);
    open_graphics_window();
    const RunSettings settings{1, 1.0, "Seconds", std::string(1, 'V')};
    SamplingState sampling;
    for (auto _ : state) {
        // A start far enough back that the column's threshold has always passed:
        // the sample clock makes exactly one pass.
        sampling.start_s = seconds_clock() - 1000.0;
        benchmark::DoNotOptimize(run_sample_clock(settings, sampling));
    }
    close_graphics_window();
    use_screen(nullptr);
    use_error_status(nullptr);
}
BENCHMARK(BM_sample_clock_pass);

}  // namespace

BENCHMARK_MAIN();
