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
// channel, and its picture created exclusively beside it, empty, so that no
// other run takes the number. A name another program creates between the look
// and the create is taken, and the search goes on (a data file made for a
// picture name found taken is removed again). last_file_number + 1 when all
// are taken (nothing opened). after_look runs between the look at a number
// and its creates.
int32_t choose_data_file(const std::function<void(int32_t file_number)>& after_look = {});
// True when this run created the picture of that number with its data file.
bool run_picture_is_reserved(int32_t file_number);
// Writes the screen as it stands as the run's picture: BMP000.BMP (replaced)
// before a data file is chosen, else the BMPnnn.BMP this run created, which
// it may rewrite as often as it likes (before a sleep, at the end). Any other
// number writes nothing and gives status_not_allowed; returns the status.
int32_t save_run_picture(int32_t file_number);
// True when a file of that name exists in any form (even unreadable, or a dangling link).
bool file_name_taken(const std::string& name);
bool data_file_is_open();

void write_header_row();
void write_data_row(double elapsed_s, const ReadingRecord& record, const ConvertedReadings& converted);
void write_note_row(std::string_view note);
