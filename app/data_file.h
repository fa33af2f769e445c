// The run's data file "DATAnnn.CSV": choosing its number, and every row written to it.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "app/conversion.h"
#include "app/link.h"

extern const std::string_view checksum_note;
extern const std::string_view no_reply_note;
extern const std::string_view short_reply_note;

// The first of DATA001.CSV to DATA100.CSV with no file of that name, created
// and left open on the data channel; 101 when all are taken (nothing opened).
int32_t choose_data_file();
// True when a file of that name exists in any form (even unreadable, or a dangling link).
bool file_name_taken(const std::string& name);
bool data_file_is_open();

void write_header_row();
void write_data_row(double elapsed_s, const ReadingRecord& record, const ConvertedReadings& converted);
void write_note_row(std::string_view note);
