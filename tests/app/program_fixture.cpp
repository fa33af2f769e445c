// The in-process program harness shared by the logger's tests.
#include "program_fixture.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "app/logger.h"
#include "display/window_headless.h"
#include "support/temp_folder.h"

int32_t FakeModule::close()
{
    shared_.closed = true;
    return status_ok;
}

int32_t FakeModule::read(uint8_t* buffer, size_t count, size_t& bytes_read)
{
    bytes_read = 0;
    while (bytes_read < count && !shared_.incoming.empty()) {
        buffer[bytes_read++] = shared_.incoming.front();
        shared_.incoming.pop_front();
    }
    return status_ok;
}

int32_t FakeModule::write(const uint8_t* bytes, size_t count)
{
    if (shared_.gone)
        return status_io_failed;
    shared_.written.append(reinterpret_cast<const char*>(bytes), count);
    // A request is complete when its line end arrives after the "X".
    while (true) {
        const size_t request = shared_.written.find("X\r\n");
        if (request == std::string::npos)
            break;
        shared_.written.erase(0, request + 3);
        const int32_t number = ++shared_.requests;
        if (shared_.on_request)
            shared_.on_request(number);
        const std::string reply = shared_.reply_for ? shared_.reply_for(number) : std::string();
        shared_.incoming.insert(shared_.incoming.end(), reply.begin(), reply.end());
    }
    return status_ok;
}

std::string module_reply(int32_t switch_state, int32_t ad1, int32_t ad2, int32_t ad3)
{
    const int64_t checksum = int64_t{switch_state} + ad1 + ad2 + ad3;
    return "X,0," + std::to_string(switch_state) + "," + std::to_string(ad1) + "," + std::to_string(ad2) + "," +
           std::to_string(ad3) + "," + std::to_string(checksum) + "\r\n";
}

ProgramFixture::ProgramFixture()
{
    use_error_status(&status);
    use_program_life(&life);
    use_program_clock(&clock);
    use_screen(&screen);
    use_channels(&channels);
    use_field_reader(&reader);
    set_window_factory(make_headless_window);
    channels.set_port_opener([this](std::string_view open_string, int32_t& open_status, PortRefusal& refusal) {
        port_open_strings.emplace_back(open_string);
        if (!port_present || absent_opens > 0) {
            absent_opens = absent_opens > 0 ? absent_opens - 1 : 0;
            open_status = status_cannot_open;
            refusal = port_refusal;
            return std::unique_ptr<ChannelDevice>();
        }
        open_status = status_ok;
        module.gone = false;
        return std::unique_ptr<ChannelDevice>(std::make_unique<FakeModule>(module));
    });
    module.reply_for = [](int32_t) { return module_reply(1, 512, 512, 512); };
    clock.set_on_sleep([this](int64_t delay_ms) {
        feed_key();
        if (on_wait)
            on_wait(delay_ms);
    });

    previous_folder_ = std::filesystem::current_path();
    folder = make_temp_folder("logger_run");
    std::filesystem::current_path(folder);
}

ProgramFixture::~ProgramFixture()
{
    close_graphics_window();
    channels.close_all();
    use_field_reader(nullptr);
    use_channels(nullptr);
    use_screen(nullptr);
    use_program_clock(nullptr);
    use_program_life(nullptr);
    use_error_status(nullptr);
    std::filesystem::current_path(previous_folder_);
    std::error_code ignored;
    std::filesystem::permissions(folder, std::filesystem::perms::owner_all, ignored);
    std::filesystem::remove_all(folder, ignored);
}

void ProgramFixture::type_keys(const std::vector<uint32_t>& keys)
{
    pending_keys_.insert(pending_keys_.end(), keys.begin(), keys.end());
}

void ProgramFixture::type_line(const std::string& text)
{
    for (unsigned char c : text)
        pending_keys_.push_back(c);
    pending_keys_.push_back(key_enter);
}

void ProgramFixture::feed_key()
{
    // A program waiting for keys that will never come would spin forever on
    // virtual time: stop the test instead.
    if (pending_keys_.empty() && !screen.key_waiting()) {
        if (++idle_sleeps_ > 100'000) {
            std::fprintf(stderr, "the program waits for a key the test never types\n");
            std::abort();
        }
        return;
    }
    idle_sleeps_ = 0;
    if (!pending_keys_.empty() && !screen.key_waiting()) {
        screen.queue_key(pending_keys_.front());
        pending_keys_.pop_front();
    }
}

int ProgramFixture::run() { return run_logger(); }

std::string ProgramFixture::read_file(const std::string& name) const
{
    std::ifstream file(folder / name, std::ios::binary);
    std::ostringstream contents;
    contents << file.rdbuf();
    return contents.str();
}

bool ProgramFixture::file_exists(const std::string& name) const { return std::filesystem::exists(folder / name); }

std::vector<std::string> ProgramFixture::data_rows(const std::string& name) const
{
    const std::string contents = read_file(name);
    std::vector<std::string> rows;
    size_t start = 0;
    while (start < contents.size()) {
        const size_t end = contents.find("\r\n", start);
        if (end == std::string::npos) {
            rows.push_back(contents.substr(start));
            break;
        }
        rows.push_back(contents.substr(start, end - start));
        start = end + 2;
    }
    return rows;
}

void start_run(ProgramFixture& program, const std::string& minutes, const std::string& mode)
{
    program.clock.set_step_per_reading_us(1000);
    program.type_line("3");
    program.type_line(minutes);
    program.type_line(mode);
}

void press_escape_at_column(ProgramFixture& program, int32_t column)
{
    program.module.on_request = [&program, column](int32_t n) {
        if (n == 50 + column)
            program.screen.queue_key(key_escape);
    };
}
