// The run's data file "DATAnnn.CSV": choosing its number, and every row written to it.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "app/conversion.h"
#include "app/link.h"

extern const std::string_view checksum_note;
extern const std::string_view no_reply_note;
extern const std::string_view short_reply_note;

// The first number from 001 to 999 with neither DATAnnn.CSV nor BMPnnn.BMP in
// the folder; its data file is created exclusively and left open on the data
// channel. A name another program creates between the look and the create is
// taken, and the search goes on. last_file_number + 1 when all are taken
// (nothing opened). after_look runs between the look at a number and its create.
int32_t choose_data_file(const std::function<void(int32_t file_number)>& after_look = {});
// True when a file of that name exists in any form (even unreadable, or a dangling link).
bool file_name_taken(const std::string& name);
bool data_file_is_open();

void write_header_row();
void write_data_row(double elapsed_s, const ReadingRecord& record, const ConvertedReadings& converted);
void write_note_row(std::string_view note);

// Saves the screen as the run's picture, BMPnnn.BMP for its file number
// (BMP000.BMP before one is chosen); false with every number taken, when
// any name would replace an earlier run's picture and nothing is saved.
bool save_run_picture(int32_t file_number);
