// In-memory devices behind channels for the harnesses: a queue of bytes that a
// channel reads (with the queue's length as its location, like a serial port),
// answering a request line with a prepared reply, and a sink that keeps what is written.
#pragma once
#include <cstdint>
#include <deque>
#include <string>

#include "io/channels.h"

class MemoryDevice final : public ChannelDevice {
public:
    struct Shared {
        std::deque<uint8_t> incoming;
        std::string written;
        std::string request;  // when it has been written, `reply` joins the incoming bytes
        std::string reply;
        int32_t requests = 0;
    };

    explicit MemoryDevice(Shared& shared) : shared_(shared) {}
    bool at_end() override { return shared_.incoming.empty(); }
    int32_t close() override { return status_ok; }
    int64_t tell() override { return static_cast<int64_t>(shared_.incoming.size()); }
    int32_t read(uint8_t* buffer, size_t count, size_t& bytes_read) override
    {
        bytes_read = 0;
        while (bytes_read < count && !shared_.incoming.empty()) {
            buffer[bytes_read++] = shared_.incoming.front();
            shared_.incoming.pop_front();
        }
        return status_ok;
    }
    int32_t write(const uint8_t* bytes, size_t count) override
    {
        shared_.written.append(reinterpret_cast<const char*>(bytes), count);
        if (!shared_.request.empty() && shared_.written.size() >= shared_.request.size() &&
            shared_.written.compare(shared_.written.size() - shared_.request.size(), shared_.request.size(),
                                    shared_.request) == 0) {
            ++shared_.requests;
            shared_.incoming.insert(shared_.incoming.end(), shared_.reply.begin(), shared_.reply.end());
        }
        return status_ok;
    }

private:
    Shared& shared_;
};
