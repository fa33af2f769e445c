// An open channel as the field reader's character source: one get-data call
// per byte, and bytes given back go to the channel's push-back store.
#include "io/channels.h"
#include "text/field_reader.h"

int32_t ChannelSource::get_char()
{
    uint8_t byte = 0;
    // Cleared first so that only this read's outcome counts (the field read
    // that called us leaves the status 0 in the end anyway).
    if (status_)
        status_->set(status_ok);
    const size_t delivered = channels_->get_data(channel_, &byte, 1);
    if (delivered == 0)
        return end_of_source;
    if (status_ && status_->code() != status_ok)
        return end_of_source;  // a failed read ends the source like an empty one
    return byte;
}

void ChannelSource::unget_char(int32_t c)
{
    if (c < 0 || c > 255)
        return;  // only bytes go back, never the end marker
    const auto byte = static_cast<uint8_t>(c);
    // A full store reports status 3 and loses the byte; the field read then
    // resets the status as every field read does.
    channels_->push_back(channel_, &byte, 1);
}
