// The real window on Linux: an SDL2 window that shows the Screen's 800x600
// palette frame buffer scaled to its size (resizable, full screen on Alt+Enter
// or F11), turns keyboard and close events into queued keys, places the
// pointer and sounds the tone. Every SDL call runs on the display thread.
#include "display/window_sdl.h"

#include <SDL.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "display/display_thread.h"
#include "display/presentation.h"
#include "display/system_window.h"
#include "screen/screen.h"
#include "screen/window.h"

// ---------------------------------------------------------------------------
// Typed text to code page 437

namespace {

// Unicode code points of code page 437 bytes 128 to 255.
constexpr std::array<char16_t, 128> cp437_upper_half = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7,  // 128
    0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5,  // 136
    0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,  // 144
    0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192,  // 152
    0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA,  // 160
    0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,  // 168
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556,  // 176
    0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510,  // 184
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,  // 192
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567,  // 200
    0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B,  // 208
    0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,  // 216
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4,  // 224
    0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229,  // 232
    0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248,  // 240
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,  // 248
};

// Length of the UTF-8 sequence that starts with `lead`, 0 for a byte that
// cannot start one.
int32_t utf8_sequence_length(uint8_t lead)
{
    if (lead < 0x80)
        return 1;
    if (lead >= 0xC2 && lead <= 0xDF)
        return 2;
    if (lead >= 0xE0 && lead <= 0xEF)
        return 3;
    if (lead >= 0xF0 && lead <= 0xF4)
        return 4;
    return 0;
}

// Decodes the sequence at text[pos] of length `length`; nullopt when it is
// truncated, has a bad continuation byte, is overlong, a surrogate or above U+10FFFF.
std::optional<char32_t> decode_utf8_sequence(std::string_view text, size_t pos, int32_t length)
{
    if (pos + static_cast<size_t>(length) > text.size())
        return std::nullopt;
    const auto lead = static_cast<uint8_t>(text[pos]);
    if (length == 1)
        return lead;
    char32_t value = lead & (0xFFu >> (length + 1));
    for (int32_t i = 1; i < length; ++i) {
        const auto next = static_cast<uint8_t>(text[pos + static_cast<size_t>(i)]);
        if ((next & 0xC0) != 0x80)
            return std::nullopt;
        value = (value << 6) | (next & 0x3Fu);
    }
    constexpr std::array<char32_t, 5> smallest = {0, 0, 0x80, 0x800, 0x10000};
    if (value < smallest[static_cast<size_t>(length)])
        return std::nullopt;
    if (value >= 0xD800 && value <= 0xDFFF)
        return std::nullopt;
    if (value > 0x10FFFF)
        return std::nullopt;
    return value;
}

}  // namespace

std::optional<uint8_t> cp437_from_code_point(char32_t code_point)
{
    if (code_point >= 0x20 && code_point <= 0x7E)
        return static_cast<uint8_t>(code_point);
    if (code_point < 0xA0)
        return std::nullopt;  // controls, DEL and the C1 range
    for (size_t i = 0; i < cp437_upper_half.size(); ++i) {
        if (cp437_upper_half[i] == code_point)
            return static_cast<uint8_t>(128 + i);
    }
    return std::nullopt;
}

std::vector<uint8_t> cp437_from_utf8(std::string_view text)
{
    std::vector<uint8_t> bytes;
    size_t pos = 0;
    while (pos < text.size()) {
        const int32_t length = utf8_sequence_length(static_cast<uint8_t>(text[pos]));
        const auto code_point = length > 0 ? decode_utf8_sequence(text, pos, length) : std::nullopt;
        if (!code_point) {
            ++pos;  // skip one byte and resynchronise on the next lead byte
            continue;
        }
        if (auto byte = cp437_from_code_point(*code_point))
            bytes.push_back(*byte);
        pos += static_cast<size_t>(length);
    }
    return bytes;
}

std::vector<int16_t> make_tone_samples(int32_t sample_rate_hz, int32_t frequency_hz, int32_t duration_ms,
                                       int16_t amplitude)
{
    if (sample_rate_hz <= 0 || frequency_hz <= 0 || duration_ms <= 0)
        return {};
    const int64_t count = int64_t{sample_rate_hz} * duration_ms / 1000;
    std::vector<int16_t> samples(static_cast<size_t>(count));
    const auto low = static_cast<int16_t>(-amplitude);
    for (int64_t i = 0; i < count; ++i) {
        // Which half period sample i falls in, in whole numbers so no drift builds up.
        const int64_t half_period = i * 2 * frequency_hz / sample_rate_hz;
        samples[static_cast<size_t>(i)] = (half_period % 2 == 0) ? amplitude : low;
    }
    return samples;
}

// ---------------------------------------------------------------------------
// The window

namespace {

constexpr int32_t tone_sample_rate_hz = 48000;
constexpr int32_t tone_frequency_hz = 1000;
constexpr int32_t tone_duration_ms = 250;
constexpr int16_t tone_amplitude = 6000;
// A program that rings the bell in a loop must not queue minutes of sound.
constexpr int32_t most_tones_queued = 4;

// Extended key codes of the keys that produce no text, by SDL key code.
std::optional<uint32_t> key_code_for(SDL_Keycode key)
{
    switch (key) {
    case SDLK_RETURN:
    case SDLK_RETURN2:
    case SDLK_KP_ENTER:
        return key_enter;
    case SDLK_BACKSPACE:
        return key_backspace;
    case SDLK_TAB:
        return key_tab;
    case SDLK_ESCAPE:
        return key_escape;
    case SDLK_UP:
        return key_up;
    case SDLK_DOWN:
        return key_down;
    case SDLK_LEFT:
        return key_left;
    case SDLK_RIGHT:
        return key_right;
    case SDLK_INSERT:
        return key_insert;
    case SDLK_DELETE:
        return key_delete;
    case SDLK_HOME:
        return key_home;
    case SDLK_END:
        return key_end;
    case SDLK_PAGEUP:
        return key_page_up;
    case SDLK_PAGEDOWN:
        return key_page_down;
    case SDLK_F1:
        return extended_key(59);
    case SDLK_F2:
        return extended_key(60);
    case SDLK_F3:
        return extended_key(61);
    case SDLK_F4:
        return extended_key(62);
    case SDLK_F5:
        return extended_key(63);
    case SDLK_F6:
        return extended_key(64);
    case SDLK_F7:
        return extended_key(65);
    case SDLK_F8:
        return extended_key(66);
    case SDLK_F9:
        return extended_key(67);
    case SDLK_F10:
        return extended_key(68);
    case SDLK_F12:
        return extended_key(134);
    default:
        return std::nullopt;
    }
}

// With Num Lock off the keypad is a second set of navigation keys; with it on
// its digits arrive as text.
std::optional<uint32_t> keypad_navigation_code_for(SDL_Keycode key)
{
    switch (key) {
    case SDLK_KP_8:
        return key_up;
    case SDLK_KP_2:
        return key_down;
    case SDLK_KP_4:
        return key_left;
    case SDLK_KP_6:
        return key_right;
    case SDLK_KP_7:
        return key_home;
    case SDLK_KP_1:
        return key_end;
    case SDLK_KP_9:
        return key_page_up;
    case SDLK_KP_3:
        return key_page_down;
    case SDLK_KP_0:
        return key_insert;
    case SDLK_KP_PERIOD:
        return key_delete;
    default:
        return std::nullopt;
    }
}

// Alt+Enter and F11 switch full screen on and off; neither is a key for the program.
bool is_full_screen_key(const SDL_Keysym& key)
{
    if (key.sym == SDLK_F11)
        return true;
    return (key.sym == SDLK_RETURN || key.sym == SDLK_KP_ENTER) && (key.mod & KMOD_ALT) != 0;
}

// The cause of a failed video start, in words an operator can act on.
std::string describe_video_failure(const char* sdl_error)
{
    const char* display = std::getenv("DISPLAY");
    const char* driver = std::getenv("SDL_VIDEODRIVER");
    std::string cause = "cannot open the window: ";
    if (driver == nullptr && (display == nullptr || *display == '\0')) {
        cause += "no X display (the DISPLAY environment variable is not set)";
    } else if (driver == nullptr) {
        cause += "cannot reach the X display \"";
        cause += display;
        cause += "\"";
    } else {
        cause += "the video driver \"";
        cause += driver;
        cause += "\" (from SDL_VIDEODRIVER) cannot start";
    }
    cause += "; SDL: ";
    cause += sdl_error;
    return cause;
}

enum class AudioState { untried, open, unavailable };

class SdlWindow final : public Window, private DisplayBackend {
public:
    ~SdlWindow() override;

    bool open(Screen& screen, const std::string& title, std::string& error) override;
    void close() override;
    void move_mouse(int32_t x, int32_t y, int32_t visible) override;
    void play_tone() override;

private:
    // Display thread.
    bool create_window(const std::string& title, std::string& error) override;
    void destroy_window() override;
    void take_frame() override;
    void show_frame() override;
    void wait_for_work_until(std::chrono::steady_clock::time_point until) override;
    void wake_for_work() override;
    void place_at_starting_size();
    void toggle_full_screen();
    void refresh_surface();
    const Presentation& current_presentation();
    void copy_rows(int32_t first_y, int32_t last_y);
    void handle_events();
    void handle_window_event(const SDL_WindowEvent& event);
    void handle_key_down(const SDL_KeyboardEvent& event);
    void handle_text_input(const char* text);
    void apply_pointer_request();
    void play_pending_tones();
    bool open_audio();
    void present();
    bool make_wake_pipe(std::string& error);
    static void on_display_lost(void* self);

    // Handed over from the program thread.
    PointerHandover pointer_;
    std::atomic<int32_t> pending_tones_{0};
    // Any thread writes a byte to wake the display thread, which waits on the
    // read end beside the X connection: a wake never calls into SDL or Xlib.
    // Made with the first window and kept until this object goes.
    int wake_pipe_[2] = {-1, -1};
    int x_fd_ = -1;  // the window's X connection, -1 off X

    // Owned by the display thread.
    SDL_Window* window_ = nullptr;
    SDL_Surface* surface_ = nullptr;
    ArgbColours colours_{};
    DisplayFrame frame_;
    Presentation presentation_;
    int windowed_width_ = screen_width;  // the size to return to from full screen
    int windowed_height_ = screen_height;
    std::vector<uint32_t> staging_;
    bool alt_held_ = false;
    std::vector<SDL_Rect> dirty_rects_;
    AudioState audio_state_ = AudioState::untried;
    SDL_AudioDeviceID audio_device_ = 0;
    std::vector<int16_t> tone_;

    // Declared last, so it is destroyed first, before the members its thread uses.
    DisplayThread display_{*this};
};

SdlWindow::~SdlWindow()
{
    close();
    for (int fd : wake_pipe_)
        if (fd >= 0)
            ::close(fd);
}

bool SdlWindow::open(Screen& screen, const std::string& title, std::string& error)
{
    return display_.start(screen, title, error);
}

void SdlWindow::close() { display_.stop(); }

void SdlWindow::move_mouse(int32_t x, int32_t y, int32_t visible)
{
    pointer_.request(x, y, visible);
    display_.owe_pass();
}

void SdlWindow::play_tone()
{
    // The display thread sounds it; the caller goes on at once.
    if (pending_tones_.load() < most_tones_queued)
        ++pending_tones_;
    display_.owe_pass();
}

bool SdlWindow::create_window(const std::string& title, std::string& error)
{
    if (!make_wake_pipe(error))
        return false;
    // SIGINT/SIGTERM are the program's own (an end request that saves the
    // picture); SDL must not turn them into a quit event.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    // While the window is open the X screen saver is suspended and the
    // desktop's idle sleep inhibited (through its D-Bus screen-saver service):
    // SDL's default, stated here so that no change of default can undo it. A
    // user's SDL_VIDEO_ALLOW_SCREENSAVER=1 still wins.
    SDL_SetHint(SDL_HINT_VIDEO_ALLOW_SCREENSAVER, "0");
    SDL_SetHint(SDL_HINT_QUIT_ON_LAST_WINDOW_CLOSE, "0");
    SDL_SetHint(SDL_HINT_RENDER_DRIVER, "software");
    SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
    // Without this, SDL falls back to an invisible offscreen window when no
    // display can be reached, and the program would run blind.
    if (std::getenv("SDL_VIDEODRIVER") == nullptr)
        SDL_SetHint(SDL_HINT_VIDEODRIVER, "x11");

    if (SDL_Init(SDL_INIT_VIDEO) != 0) {
        error = describe_video_failure(SDL_GetError());
        return false;
    }
    window_ = SDL_CreateWindow(title.c_str(), SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, screen_width,
                               screen_height, SDL_WINDOW_HIDDEN | SDL_WINDOW_RESIZABLE);
    if (window_ == nullptr) {
        error = std::string("cannot create the window; SDL: ") + SDL_GetError();
        return false;
    }
    SDL_SetWindowMinimumSize(window_, screen_width / 4, screen_height / 4);
    place_at_starting_size();
    SDL_ShowWindow(window_);
    // A window manager's frame is known only once the window is shown: fit again with it.
    int top = 0;
    int left = 0;
    int bottom = 0;
    int right = 0;
    if (SDL_GetWindowBordersSize(window_, &top, &left, &bottom, &right) == 0 && top + left + bottom + right > 0) {
        place_at_starting_size();
    }
    surface_ = SDL_GetWindowSurface(window_);
    if (surface_ == nullptr) {
        error = std::string("cannot draw into the window; SDL: ") + SDL_GetError();
        return false;
    }
    frame_.reset();
    dirty_rects_.clear();
    // Nothing left over from an earlier opening.
    pending_tones_ = 0;
    pointer_.take();
    SDL_StartTextInput();
    SDL_RaiseWindow(window_);
    // Xlib's fatal path (the X server ended, the connection broke) would call
    // exit() on the display thread, the only thread that calls into SDL or
    // Xlib, and the exit's teardown would wait for that very thread. Instead
    // it parks and the program ends like ESC, its picture saved.
    watch_for_lost_x_display(on_display_lost, this);
    x_fd_ = x_connection_fd(window_);
    return true;
}

void SdlWindow::on_display_lost(void* self) { static_cast<SdlWindow*>(self)->display_.park_after_display_lost(); }

bool SdlWindow::make_wake_pipe(std::string& error)
{
    if (wake_pipe_[0] >= 0)
        return true;
    if (pipe2(wake_pipe_, O_CLOEXEC | O_NONBLOCK) == 0)
        return true;
    error = std::string("cannot make the display's wake pipe: ") + std::strerror(errno);
    wake_pipe_[0] = wake_pipe_[1] = -1;
    return false;
}

void SdlWindow::destroy_window()
{
    if (audio_device_ != 0)
        SDL_CloseAudioDevice(audio_device_);
    audio_device_ = 0;
    audio_state_ = AudioState::untried;
    if (window_ != nullptr)
        SDL_DestroyWindow(window_);
    window_ = nullptr;
    x_fd_ = -1;
    surface_ = nullptr;
    SDL_Quit();
}

void SdlWindow::take_frame()
{
    if (frame_.take(display_.screen()))
        colours_ = argb_colours(display_.screen().palette());
}

void SdlWindow::show_frame()
{
    handle_events();
    if (frame_.full_redraw_owed()) {
        copy_rows(0, screen_height - 1);
    } else {
        frame_.show_taken_rows([this](int32_t first_y, int32_t last_y) { copy_rows(first_y, last_y); });
    }
    apply_pointer_request();
    play_pending_tones();
    present();
}

// Waits on the X connection and the wake pipe, once SDL holds no event read
// from X already. A video driver other than X (SDL_VIDEODRIVER) is looked at
// each display period.
void SdlWindow::wait_for_work_until(std::chrono::steady_clock::time_point until)
{
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
    if (left.count() <= 0)
        return;
    SDL_PumpEvents();
    if (SDL_HasEvents(SDL_FIRSTEVENT, SDL_LASTEVENT) == SDL_TRUE)
        return;
    std::array<pollfd, 2> watched{{{wake_pipe_[0], POLLIN, 0}, {x_fd_, POLLIN, 0}}};
    const int64_t most_ms = x_fd_ >= 0 ? display_idle_pass_ms : display_period_ms;
    if (poll(watched.data(), x_fd_ >= 0 ? 2 : 1, static_cast<int>(std::min<int64_t>(left.count(), most_ms))) < 0 &&
        errno != EINTR) {
        static std::atomic<bool> reported{false};
        if (!reported.exchange(true))
            std::perror("logger: the display's wait failed");
    }
    std::array<char, 64> drained{};
    while (read(wake_pipe_[0], drained.data(), drained.size()) > 0) {
    }
}

// A full pipe already holds a wake: nothing is lost.
void SdlWindow::wake_for_work()
{
    const char byte = 1;
    if (write(wake_pipe_[1], &byte, 1) < 0 && errno != EAGAIN) {
        static std::atomic<bool> reported{false};
        if (!reported.exchange(true))
            std::perror("logger: cannot wake the display");
    }
}

// The largest whole scale that fits the usable bounds of the window's display
// less the frame, or the desktop's stated scale, centred there; 800x600 when
// the bounds are unknown.
void SdlWindow::place_at_starting_size()
{
    SDL_Rect usable{};
    if (SDL_GetDisplayUsableBounds(std::max(SDL_GetWindowDisplayIndex(window_), 0), &usable) != 0)
        return;
    int top = 0;
    int left = 0;
    int bottom = 0;
    int right = 0;
    if (SDL_GetWindowBordersSize(window_, &top, &left, &bottom, &right) != 0)
        top = left = bottom = right = 0;
    const int32_t work_width = usable.w - left - right;
    const int32_t work_height = usable.h - top - bottom;
    const DeviceSize size = starting_window_size(work_width, work_height, stated_desktop_scale());
    SDL_SetWindowSize(window_, size.width, size.height);
    SDL_SetWindowPosition(window_, usable.x + left + (work_width - size.width) / 2,
                          usable.y + top + (work_height - size.height) / 2);
}

void SdlWindow::toggle_full_screen()
{
    const uint32_t flags = SDL_GetWindowFlags(window_);
    const bool full_screen = (flags & SDL_WINDOW_FULLSCREEN_DESKTOP) == SDL_WINDOW_FULLSCREEN_DESKTOP;
    if (!full_screen)
        SDL_GetWindowSize(window_, &windowed_width_, &windowed_height_);
    SDL_SetWindowFullscreen(window_, full_screen ? 0 : SDL_WINDOW_FULLSCREEN_DESKTOP);
    // A window manager restores the size; where there is none, nothing would.
    if (full_screen && (SDL_GetWindowFlags(window_) & SDL_WINDOW_MAXIMIZED) == 0) {
        SDL_SetWindowSize(window_, windowed_width_, windowed_height_);
    }
    refresh_surface();
}

void SdlWindow::refresh_surface()
{
    surface_ = SDL_GetWindowSurface(window_);
    frame_.owe_full_redraw();
}

// The frame's place in the window surface as it is now (the window may have
// been resized, maximised or made full screen since the last pass).
const Presentation& SdlWindow::current_presentation()
{
    if (surface_ != nullptr && presentation_.target != DeviceSize{surface_->w, surface_->h}) {
        presentation_ = make_presentation(surface_->w, surface_->h);
    }
    return presentation_;
}

// Scales frame rows first_y..last_y of the display's frame copy through the
// palette into the device rows of the window surface they show on, and notes
// those for the next present. The whole frame settles every row still owed and
// repaints the bars too.
void SdlWindow::copy_rows(int32_t first_y, int32_t last_y)
{
    if (surface_ == nullptr)
        refresh_surface();
    if (surface_ == nullptr)
        return;
    const bool whole_frame = first_y <= 0 && last_y >= screen_height - 1;
    if (whole_frame)
        frame_.whole_frame_shown();
    const Presentation& presentation = current_presentation();
    const DeviceRows rows =
        whole_frame ? DeviceRows{0, surface_->h - 1} : device_rows_for_frame_rows(presentation, first_y, last_y);
    if (rows.empty() || surface_->w <= 0)
        return;

    if (SDL_MUSTLOCK(surface_) && SDL_LockSurface(surface_) != 0)
        return;
    const int32_t count = rows.last - rows.first + 1;
    const uint32_t format = surface_->format->format;
    if (format == SDL_PIXELFORMAT_ARGB8888 || format == SDL_PIXELFORMAT_RGB888) {
        scale_frame_rows(presentation, frame_.pixels(), colours_, rows, static_cast<uint32_t*>(surface_->pixels),
                         surface_->pitch);
    } else {  // any other surface format: scale aside, then convert
        staging_.resize(static_cast<size_t>(surface_->w) * surface_->h);
        const int32_t pitch = surface_->w * 4;
        scale_frame_rows(presentation, frame_.pixels(), colours_, rows, staging_.data(), pitch);
        auto* target = static_cast<uint8_t*>(surface_->pixels) + static_cast<size_t>(rows.first) * surface_->pitch;
        SDL_ConvertPixels(surface_->w, count, SDL_PIXELFORMAT_ARGB8888,
                          &staging_[static_cast<size_t>(rows.first) * surface_->w], pitch, format, target,
                          surface_->pitch);
    }
    if (SDL_MUSTLOCK(surface_))
        SDL_UnlockSurface(surface_);
    dirty_rects_.push_back(SDL_Rect{0, rows.first, surface_->w, count});
}

void SdlWindow::handle_events()
{
    SDL_Event event;
    while (SDL_PollEvent(&event) == 1) {
        switch (event.type) {
        case SDL_WINDOWEVENT:
            handle_window_event(event.window);
            break;
        case SDL_KEYDOWN:
            alt_held_ = (event.key.keysym.mod & KMOD_ALT) != 0;
            handle_key_down(event.key);
            break;
        case SDL_KEYUP:
            alt_held_ = (event.key.keysym.mod & KMOD_ALT) != 0;
            break;
        case SDL_TEXTINPUT:
            handle_text_input(event.text.text);
            break;
        default:
            break;  // quit requests included: closing is a key here
        }
    }
}

void SdlWindow::handle_window_event(const SDL_WindowEvent& event)
{
    switch (event.event) {
    case SDL_WINDOWEVENT_CLOSE:
        display_.screen().queue_key(key_close_window);
        break;
    case SDL_WINDOWEVENT_SIZE_CHANGED:
    case SDL_WINDOWEVENT_RESIZED:
        refresh_surface();  // the old surface is gone
        copy_rows(0, screen_height - 1);
        break;
    case SDL_WINDOWEVENT_EXPOSED:
    case SDL_WINDOWEVENT_SHOWN:
    case SDL_WINDOWEVENT_RESTORED:
        copy_rows(0, screen_height - 1);
        break;
    default:
        break;
    }
}

void SdlWindow::handle_key_down(const SDL_KeyboardEvent& event)
{
    if (is_full_screen_key(event.keysym)) {
        if (event.repeat == 0)
            toggle_full_screen();
        return;
    }
    // Auto-repeat events count as presses: one key each.
    auto code = key_code_for(event.keysym.sym);
    if (!code && (event.keysym.mod & KMOD_NUM) == 0)
        code = keypad_navigation_code_for(event.keysym.sym);
    if (code)
        display_.screen().queue_key(*code);
}

void SdlWindow::handle_text_input(const char* text)
{
    if (alt_held_)
        return;  // Alt combinations are not characters
    for (uint8_t byte : cp437_from_utf8(text))
        display_.screen().queue_key(byte);
}

void SdlWindow::apply_pointer_request()
{
    const PointerRequest request = pointer_.take();
    if (request.warp) {
        const DevicePoint point = device_point_for_frame_pixel(current_presentation(), request.x, request.y);
        SDL_WarpMouseInWindow(window_, point.x, point.y);
    }
    // A hidden SDL cursor is hidden over this window only; elsewhere the
    // desktop's own pointer shows.
    if (request.visibility >= 0)
        SDL_ShowCursor(request.visibility == 0 ? SDL_DISABLE : SDL_ENABLE);
}

bool SdlWindow::open_audio()
{
    if (audio_state_ == AudioState::untried) {
        audio_state_ = AudioState::unavailable;
        if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0)
            return false;
        SDL_AudioSpec wanted{};
        wanted.freq = tone_sample_rate_hz;
        wanted.format = AUDIO_S16SYS;
        wanted.channels = 1;
        wanted.samples = 1024;
        wanted.callback = nullptr;  // fed with SDL_QueueAudio
        SDL_AudioSpec obtained{};
        // No format changes allowed: SDL converts if the device differs, so
        // the samples below are always right.
        audio_device_ = SDL_OpenAudioDevice(nullptr, 0, &wanted, &obtained, 0);
        if (audio_device_ == 0) {
            SDL_QuitSubSystem(SDL_INIT_AUDIO);
            return false;
        }
        tone_ = make_tone_samples(tone_sample_rate_hz, tone_frequency_hz, tone_duration_ms, tone_amplitude);
        SDL_PauseAudioDevice(audio_device_, 0);
        audio_state_ = AudioState::open;
    }
    return audio_state_ == AudioState::open;
}

void SdlWindow::play_pending_tones()
{
    int32_t tones = pending_tones_.exchange(0);
    if (tones == 0 || !open_audio())
        return;  // no audio device: silence
    const auto tone_bytes = static_cast<uint32_t>(tone_.size() * sizeof(int16_t));
    // Queued tones follow one another, each a whole number of periods, so
    // back-to-back bells join cleanly instead of mixing.
    for (; tones > 0; --tones) {
        if (SDL_GetQueuedAudioSize(audio_device_) >= tone_bytes * most_tones_queued)
            break;
        SDL_QueueAudio(audio_device_, tone_.data(), tone_bytes);
    }
}

void SdlWindow::present()
{
    if (dirty_rects_.empty() || window_ == nullptr)
        return;
    SDL_UpdateWindowSurfaceRects(window_, dirty_rects_.data(), static_cast<int>(dirty_rects_.size()));
    dirty_rects_.clear();
}

}  // namespace

std::unique_ptr<Window> make_system_window() { return std::make_unique<SdlWindow>(); }

bool sdl_screen_saver_kept_off() { return SDL_WasInit(SDL_INIT_VIDEO) != 0 && SDL_IsScreenSaverEnabled() == SDL_FALSE; }
