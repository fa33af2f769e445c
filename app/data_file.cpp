// The data file: the first free number, the header row, one row per sample
// and the note rows. Each row is handed to the operating system as soon as it
// is complete, so a killed program loses nothing already sampled.
#include "app/data_file.h"

#include <array>

#include <cerrno>
#include <cstdio>

#include "app/run_settings.h"
#include "core/error_status.h"
#include "core/file_stream.h"
#include "io/channels.h"
#include "screen/graphics.h"
#include "text/value_format.h"

const std::string_view checksum_note = "Serial Error in Above Data Line";
const std::string_view no_reply_note = "Program is ending early because no data was received from datalogger. ";
const std::string_view short_reply_note = "Program is ending early because of an incomplete data string. ";

namespace {

constexpr std::array<std::string_view, 14> column_headings{
    "Time", "Seconds", "Marker", "Switch", "AD1", "AD2", "AD3", "Checksum", "V1", "V2", "V3", "T1", "T2", "T3",
};

}  // namespace

bool file_name_taken(const std::string& name) { return name_exists(name); }

namespace {

// The number whose picture this run created with its data file; 0 for none.
int32_t reserved_picture_number = 0;

// The picture's name made exclusively, as an empty file the run fills later.
NewFileOutcome reserve_picture(int32_t file_number)
{
    std::FILE* file = open_file_stream(picture_name(file_number), "wbx");
    if (file == nullptr)
        return errno == EEXIST ? NewFileOutcome::name_taken : NewFileOutcome::failed;
    std::fclose(file);  // nothing written, nothing to lose
    return NewFileOutcome::created;
}

// The look: the number is taken when its data file can be read, or when either
// of its names exists in any form (a file that cannot be read is still
// somebody's data; a picture without its data file is still somebody's picture).
bool file_number_looks_taken(int32_t file_number)
{
    const std::string name = data_file_name(file_number);
    open_channel_file(data_channel, name, mode_input, access_default, lock_none, 0);
    if (error_code() == status_ok) {
        close_channel(data_channel);
        return true;
    }
    return file_name_taken(name) || file_name_taken(picture_name(file_number));
}

}  // namespace

int32_t choose_data_file(const std::function<void(int32_t file_number)>& after_look)
{
    reserved_picture_number = 0;
    for (int32_t file_number = 1; file_number <= last_file_number; ++file_number) {
        if (file_number_looks_taken(file_number))
            continue;
        if (after_look)
            after_look(file_number);
        // Only a name with no file at all is created: another logger in the same
        // folder that chose the same number a moment earlier keeps its files.
        const NewFileOutcome data = create_channel_file(data_channel, data_file_name(file_number));
        if (data == NewFileOutcome::name_taken)
            continue;
        const NewFileOutcome picture = reserve_picture(file_number);
        if (picture == NewFileOutcome::name_taken) {
            if (data == NewFileOutcome::created) {
                close_channel(data_channel);
                std::remove(data_file_name(file_number).c_str());
            }
            continue;
        }
        if (picture == NewFileOutcome::created)
            reserved_picture_number = file_number;
        return file_number;
    }
    return last_file_number + 1;
}

bool run_picture_is_reserved(int32_t file_number) { return file_number > 0 && file_number == reserved_picture_number; }

int32_t save_run_picture(int32_t file_number)
{
    if (file_number != 0 && !run_picture_is_reserved(file_number)) {
        set_error_code(status_not_allowed);
        return status_not_allowed;
    }
    return save_snapshot(picture_name(file_number));
}

bool data_file_is_open() { return the_channels().is_open(data_channel); }

void write_header_row()
{
    for (size_t i = 0; i < column_headings.size(); ++i)
        write_text_field(data_channel, column_headings[i], i + 1 == column_headings.size());
    flush_channel(data_channel);
}

void write_data_row(double elapsed_s, const ReadingRecord& record, const ConvertedReadings& converted)
{
    write_text_field(data_channel, time_of_day_text(), false);
    write_double_field(data_channel, elapsed_s, false);
    write_text_field(data_channel, record.marker, false);
    write_int_field(data_channel, record.switch_state, false);
    write_int_field(data_channel, record.ad1, false);
    write_int_field(data_channel, record.ad2, false);
    write_int_field(data_channel, record.ad3, false);
    write_int_field(data_channel, record.checksum, false);
    for (float volts : converted.volts)
        write_single_field(data_channel, volts, false);
    for (size_t i = 0; i < converted.temperatures_f.size(); ++i)
        write_single_field(data_channel, converted.temperatures_f[i], i + 1 == converted.temperatures_f.size());
    flush_channel(data_channel);
}

void write_note_row(std::string_view note)
{
    write_text_field(data_channel, note, true);
    flush_channel(data_channel);
}
