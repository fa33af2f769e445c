// The entry procedure of the logger: start-up dialogue, port check and link
// test, run settings, chart, data file, sampling loop, and the closing stage
// every ending goes through.
#include "app/logger.h"

#include <cstdio>

#include "app/chart.h"
#include "app/data_file.h"
#include "app/dialogue.h"
#include "app/link.h"
#include "app/run_settings.h"
#include "app/sampling.h"
#include "core/power.h"
#include "core/program_life.h"
#include "io/channels.h"
#include "screen/graphics.h"

namespace {

constexpr int32_t header_line_wait_ms = 2000;

void warn_no_data_file(int32_t file_number)
{
    show_no_data_file_warning();
    if (file_number > last_file_number) {
        show_no_picture_warning();
        std::fprintf(stderr, "logger: every number from 001 to 999 has its DATAnnn.CSV or BMPnnn.BMP;"
                             " this run's samples are not stored\n");
    } else
        std::fprintf(stderr, "logger: cannot create %s in the current folder; this run's samples are not stored\n",
                     data_file_name(file_number).c_str());
}

}  // namespace

void run_closing_stage(int32_t file_number)
{
    // With every number taken, any picture name would replace an earlier run's picture.
    if (file_number > last_file_number)
        std::fprintf(stderr, "logger: no picture saved; BMP001.BMP to BMP999.BMP are left as they are\n");
    else if (save_run_picture(file_number) == status_not_allowed)
        std::fprintf(stderr, "logger: no picture saved; %s could not be created beside the data file\n",
                     picture_name(file_number).c_str());
    close_channel(data_channel);
    close_channel(serial_channel);
}

namespace {

// Every stage before the closing one. A start-up ending returns early; an end
// requested from outside arrives as EndRequested from the next look at the
// keys or pause. file_number is the data file's number once one is chosen.
void run_stages(int32_t& file_number)
{
    RunSettings settings;
    show_start_up_screen();
    settings.port_number = ask_port_number();
    if (!check_port_and_link(settings.port_number))
        return;
    settings.run_length_min = ask_run_length();
    settings.unit_label = unit_label_for(settings.run_length_min);
    settings.mode_letter = ask_mode_letter();
    announce_start();

    draw_chart(settings);
    file_number = choose_data_file();
    settings.file_number = file_number;
    show_header_line(file_number);
    if (!data_file_is_open())
        warn_no_data_file(file_number);
    pause_ms(header_line_wait_ms);
    write_header_row();
    keep_machine_awake();
    run_sampling_loop(settings);
}

}  // namespace

int run_logger()
{
    if (!open_graphics_window()) {
        std::fprintf(stderr, "logger: %s\n", window_open_error().c_str());
        return 1;
    }
    int32_t file_number = 0;
    try {
        run_stages(file_number);
    } catch (const EndRequested&) {
        std::fprintf(stderr, "logger: ending on request from outside the program\n");
    }
    run_closing_stage(file_number);
    let_machine_sleep();
    note_program_closed();
    return 0;
}
