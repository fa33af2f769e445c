// Everything the logger says to the module: the port check, the drain, the
// request, one exchange, the reading record with its two rules, and the link test.
#pragma once
#include <cstdint>
#include <string>

#include "app/run_settings.h"

// One reply of the module, seven fields in the order they arrive.
struct ReadingRecord {
    std::string marker;
    int32_t spare = 0;
    int32_t switch_state = 0;
    int32_t ad1 = 0;
    int32_t ad2 = 0;
    int32_t ad3 = 0;
    int32_t checksum = 0;
};

enum class ExchangeOutcome { no_reply, short_reply, reply };

constexpr int64_t minimum_reply_bytes = 21;
constexpr int32_t link_test_exchanges = 50;

// Checksum equals AD1 + Switch + AD2 + AD3 in 32-bit arithmetic (wrapping).
bool checksum_holds(const ReadingRecord& record);
// The marker is exactly "X".
bool marker_holds(const ReadingRecord& record);

// Reads and throws away fields while the serial channel has bytes waiting.
void drain_serial_channel();
// "X" and the line end on the serial channel, then 50 ms.
void send_request();
int64_t serial_bytes_waiting();
// True once the serial port has said its device went away (cable pulled).
bool serial_port_gone();
// The seven fields from the serial channel.
ReadingRecord read_reading_record();

// Opens the port and proves the link. False when the port is missing or the
// link test failed: the message is shown and the wait done; the caller closes.
bool check_port_and_link(int32_t port_number);
bool run_link_test();
