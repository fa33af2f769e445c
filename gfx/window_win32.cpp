// The real window on Windows: an 800x600 Win32 window that shows the Screen's
// palette frame buffer, turns keyboard and close messages into queued keys,
// places and hides the pointer and sounds the tone. The display thread creates
// the window and so receives its messages; every window call runs there.
#include <windows.h>
#include <imm.h>

#include <algorithm>
#include <cstdio>
#include <array>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <thread>

#include "core/program_life.h"
#include "gfx/display_thread.h"
#include "gfx/screen.h"
#include "gfx/window.h"

namespace {

constexpr DWORD tone_frequency_hz = 1000;
constexpr DWORD tone_duration_ms = 250;
// A program that rings the bell in a loop must not queue minutes of sound.
constexpr int32_t most_tones_queued = 4;
constexpr DWORD window_style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX;
constexpr UINT code_page_437 = 437;
constexpr UINT_PTR modal_loop_timer_id = 1;
constexpr char window_class_name[] = "logger_palette_window";

// Extended key codes of the keys that produce no character, by virtual key.
// With Num Lock off the keypad keys arrive as these virtual keys too.
std::optional<uint32_t> key_code_for(WPARAM virtual_key) {
    switch (virtual_key) {
        case VK_UP: return key_up;
        case VK_DOWN: return key_down;
        case VK_LEFT: return key_left;
        case VK_RIGHT: return key_right;
        case VK_INSERT: return key_insert;
        case VK_DELETE: return key_delete;
        case VK_HOME: return key_home;
        case VK_END: return key_end;
        case VK_PRIOR: return key_page_up;
        case VK_NEXT: return key_page_down;
        case VK_F11: return extended_key(133);
        case VK_F12: return extended_key(134);
        default: break;
    }
    if (virtual_key >= VK_F1 && virtual_key <= VK_F10) {
        return extended_key(static_cast<uint8_t>(59 + (virtual_key - VK_F1)));
    }
    return std::nullopt;
}

// The code page 437 byte of a character given in the ANSI code page (one byte,
// or two for a double-byte character); none when code page 437 lacks it.
std::optional<uint8_t> cp437_from_ansi(const char* ansi, int length) {
    wchar_t wide = 0;
    if (MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, ansi, length, &wide, 1) != 1) return std::nullopt;
    char converted = 0;
    BOOL used_default = FALSE;
    // No best fit: a character without its own byte is dropped, not replaced by a look-alike.
    if (WideCharToMultiByte(code_page_437, WC_NO_BEST_FIT_CHARS, &wide, 1, &converted, 1, nullptr,
                            &used_default) != 1 ||
        used_default) {
        return std::nullopt;
    }
    return static_cast<uint8_t>(converted);
}

// The system's words for the last error, after `what`.
std::string describe_last_error(const std::string& what) {
    const DWORD code = GetLastError();
    // Seen when no display driver could be loaded (Wine without an X display).
    if (code == 0) return what + " (the system gave no cause; is there a display to show it on?)";
    std::array<char, 512> text{};
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                                  text.data(), static_cast<DWORD>(text.size()), nullptr);
    while (length > 0 && (text[length - 1] == '\r' || text[length - 1] == '\n' || text[length - 1] == '.')) {
        --length;
    }
    std::string cause = what + " (error " + std::to_string(code);
    if (length > 0) cause += ": " + std::string(text.data(), length);
    return cause + ")";
}

// A BITMAPINFO with room for the whole palette.
struct PaletteBitmapInfo {
    BITMAPINFOHEADER header;
    std::array<RGBQUAD, 256> colours;
};

class Win32Window final : public Window, private DisplayBackend {
public:
    ~Win32Window() override { close(); }

    bool open(Screen& screen, const std::string& title, std::string& error) override;
    void close() override;
    void move_mouse(int32_t x, int32_t y, int32_t visible) override;
    void play_tone() override;

private:
    static LRESULT CALLBACK window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
    LRESULT handle_message(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

    // Display thread.
    bool create_window(const std::string& title, std::string& error) override;
    void fit_client_area();
    void destroy_window() override;
    void take_frame() override;
    void show_frame() override;
    void refresh_frame();
    void show_changed_rows();
    void show_rows(HDC device, int32_t first_y, int32_t last_y);
    void paint();
    void pump_messages();
    void end_with_the_session();
    void queue_typed_character(WPARAM character, LPARAM flags);
    void queue_extended_key(WPARAM virtual_key, LPARAM flags);
    bool set_cursor(LPARAM hit);
    void set_pointer_drawn(bool drawn);
    bool pointer_over_client();
    void apply_pointer_request();

    // Tone thread.
    void start_tones();
    void run_tones();
    void stop_tones();

    std::mutex close_mutex_;

    // Handed over from the program thread.
    PointerHandover pointer_;

    // The tone plays on a thread of its own: Beep blocks for its whole length.
    std::thread tone_thread_;
    std::mutex tone_mutex_;
    std::condition_variable tone_wanted_;
    int32_t pending_tones_ = 0;
    bool stop_tones_ = false;

    // Owned by the display thread.
    HWND window_ = nullptr;
    bool class_registered_ = false;
    PaletteBitmapInfo bitmap_info_{};
    DisplayFrame frame_;
    bool pointer_hidden_ = false;  // over the client area, as the program asked
    bool pointer_drawn_ = true;    // this thread's ShowCursor state
    char pending_lead_byte_ = 0;   // first half of a double-byte character

    // Declared last, so it is destroyed first, before the members its thread uses.
    DisplayThread display_{*this};
};

bool Win32Window::open(Screen& screen, const std::string& title, std::string& error) {
    std::lock_guard close_guard(close_mutex_);
    const bool already_open = display_.running();
    if (display_.start(screen, title, error)) {
        start_tones();
        return true;
    }
    // A program started from the desktop has no console to print the cause on.
    if (!already_open) MessageBoxA(nullptr, error.c_str(), title.c_str(), MB_OK | MB_ICONERROR | MB_SETFOREGROUND);
    return false;
}

void Win32Window::close() {
    std::lock_guard close_guard(close_mutex_);
    stop_tones();
    display_.stop();
}

void Win32Window::move_mouse(int32_t x, int32_t y, int32_t visible) { pointer_.request(x, y, visible); }

void Win32Window::play_tone() {
    // The tone thread sounds it; the caller goes on at once.
    {
        std::lock_guard lock(tone_mutex_);
        if (pending_tones_ >= most_tones_queued) return;
        ++pending_tones_;
    }
    tone_wanted_.notify_one();
}

void Win32Window::start_tones() {
    {
        std::lock_guard lock(tone_mutex_);
        pending_tones_ = 0;
        stop_tones_ = false;
    }
    try {
        tone_thread_ = std::thread([this] { run_tones(); });
    } catch (const std::system_error&) {
        // No tone thread: the window works, the tones stay silent.
    }
}

void Win32Window::run_tones() {
    std::unique_lock lock(tone_mutex_);
    for (;;) {
        tone_wanted_.wait(lock, [this] { return stop_tones_ || pending_tones_ > 0; });
        if (stop_tones_) return;
        --pending_tones_;
        lock.unlock();
        Beep(tone_frequency_hz, tone_duration_ms);  // fails quietly without a sound device
        lock.lock();
    }
}

void Win32Window::stop_tones() {
    {
        std::lock_guard lock(tone_mutex_);
        stop_tones_ = true;
    }
    tone_wanted_.notify_all();
    if (tone_thread_.joinable()) tone_thread_.join();
}

bool Win32Window::create_window(const std::string& title, std::string& error) {
    // Pixels, not scaled points: on a high-DPI desktop the system would
    // otherwise stretch the 800x600 frame and blur it.
    SetProcessDPIAware();
    const HINSTANCE instance = GetModuleHandleA(nullptr);
    WNDCLASSA window_class{};
    window_class.lpfnWndProc = window_procedure;
    window_class.hInstance = instance;
    window_class.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    window_class.hIcon = LoadIconA(nullptr, IDI_APPLICATION);
    window_class.lpszClassName = window_class_name;
    if (RegisterClassA(&window_class) == 0) {
        error = describe_last_error("cannot register the window class");
        return false;
    }
    class_registered_ = true;

    RECT outer{0, 0, screen_width, screen_height};
    AdjustWindowRect(&outer, window_style, FALSE);
    const int outer_width = outer.right - outer.left;
    const int outer_height = outer.bottom - outer.top;
    RECT desktop{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &desktop, 0);
    // Centred; on a desktop smaller than the window the caption stays in reach.
    const int x = std::max(desktop.left, desktop.left + (desktop.right - desktop.left - outer_width) / 2);
    const int y = std::max(desktop.top, desktop.top + (desktop.bottom - desktop.top - outer_height) / 2);

    window_ = CreateWindowExA(0, window_class_name, title.c_str(), window_style, x, y, outer_width, outer_height,
                              nullptr, nullptr, instance, this);
    if (window_ == nullptr) {
        error = describe_last_error("cannot create the window");
        return false;
    }
    fit_client_area();
    // No input method: with one on, digits arrive full-width and the key mapping drops them.
    ImmAssociateContext(window_, nullptr);

    frame_.reset();
    pointer_.take();  // nothing left over from an earlier opening
    pointer_hidden_ = false;
    pointer_drawn_ = true;
    pending_lead_byte_ = 0;
    bitmap_info_ = PaletteBitmapInfo{};
    bitmap_info_.header.biSize = sizeof(BITMAPINFOHEADER);
    bitmap_info_.header.biWidth = screen_width;
    bitmap_info_.header.biPlanes = 1;
    bitmap_info_.header.biBitCount = 8;
    bitmap_info_.header.biCompression = BI_RGB;
    bitmap_info_.header.biClrUsed = 256;

    ShowWindow(window_, SW_SHOW);
    SetForegroundWindow(window_);
    return true;
}

// Makes the client area exactly 800x600 where the frame the system draws
// differs from what AdjustWindowRect said.
void Win32Window::fit_client_area() {
    RECT client{};
    RECT outer{};
    if (!GetClientRect(window_, &client) || !GetWindowRect(window_, &outer)) return;
    const int extra_width = screen_width - (client.right - client.left);
    const int extra_height = screen_height - (client.bottom - client.top);
    if (extra_width == 0 && extra_height == 0) return;
    SetWindowPos(window_, nullptr, 0, 0, outer.right - outer.left + extra_width,
                 outer.bottom - outer.top + extra_height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void Win32Window::destroy_window() {
    if (window_ != nullptr) {
        set_pointer_drawn(true);
        // Marked as not to be redrawn, the window is no longer visible to the
        // system, so destroying it does not wait for a window manager to
        // withdraw it: under Wine without one that wait is 2 s, otherwise 1 ms.
        SendMessageA(window_, WM_SETREDRAW, FALSE, 0);
        DestroyWindow(window_);
        window_ = nullptr;
    }
    if (class_registered_) UnregisterClassA(window_class_name, GetModuleHandleA(nullptr));
    class_registered_ = false;
}

void Win32Window::take_frame() {
    if (!frame_.take(display_.screen())) return;
    const Palette& palette = display_.screen().palette();
    for (size_t i = 0; i < palette.size(); ++i) {
        bitmap_info_.colours[i] = RGBQUAD{palette[i].blue, palette[i].green, palette[i].red, 0};
    }
}

void Win32Window::show_frame() {
    pump_messages();
    show_changed_rows();
    apply_pointer_request();
}

// The frame part of a pass, for the timer that keeps the picture live while
// the system runs a modal loop (the window being dragged, the system menu).
void Win32Window::refresh_frame() {
    {
        DisplayLock lock(display_.screen().lock());
        take_frame();
    }
    show_changed_rows();
}

// Shows each run of rows taken since the last pass, or the whole frame. Most
// passes have nothing to show: they do not even ask for the device context.
void Win32Window::show_changed_rows() {
    if (!frame_.anything_to_show()) return;
    HDC device = GetDC(window_);
    if (device == nullptr) return;
    if (frame_.full_redraw_owed()) {
        show_rows(device, 0, screen_height - 1);
        frame_.whole_frame_shown();
    }
    frame_.show_taken_rows([this, device](int32_t first_y, int32_t last_y) { show_rows(device, first_y, last_y); });
    ReleaseDC(window_, device);
}

// Rows first_y..last_y of the display's copy, through the palette, onto the
// same rows of the client area: a top-down 8-bit DIB starting at first_y.
void Win32Window::show_rows(HDC device, int32_t first_y, int32_t last_y) {
    first_y = std::clamp(first_y, 0, screen_height - 1);
    last_y = std::clamp(last_y, first_y, screen_height - 1);
    const int32_t rows = last_y - first_y + 1;
    bitmap_info_.header.biHeight = -rows;
    SetDIBitsToDevice(device, 0, first_y, screen_width, static_cast<DWORD>(rows), 0, 0, 0,
                      static_cast<UINT>(rows), frame_.pixels() + static_cast<size_t>(first_y) * screen_width,
                      reinterpret_cast<const BITMAPINFO*>(&bitmap_info_), DIB_RGB_COLORS);
}

// The whole frame again from the display's copy; black beyond it, should the
// window have been maximised.
void Win32Window::paint() {
    PAINTSTRUCT paint_state{};
    HDC device = BeginPaint(window_, &paint_state);
    if (device == nullptr) return;
    show_rows(device, 0, screen_height - 1);
    RECT client{};
    GetClientRect(window_, &client);
    auto* black = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    if (client.right > screen_width) {
        const RECT right{screen_width, 0, client.right, client.bottom};
        FillRect(device, &right, black);
    }
    if (client.bottom > screen_height) {
        const RECT below{0, screen_height, std::min<LONG>(client.right, screen_width), client.bottom};
        FillRect(device, &below, black);
    }
    EndPaint(window_, &paint_state);
}

void Win32Window::pump_messages() {
    MSG message{};
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

LRESULT CALLBACK Win32Window::window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_NCCREATE) {
        const auto* creation = reinterpret_cast<const CREATESTRUCTA*>(lparam);
        SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(creation->lpCreateParams));
    }
    auto* self = reinterpret_cast<Win32Window*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (self == nullptr) return DefWindowProcA(window, message, wparam, lparam);
    return self->handle_message(window, message, wparam, lparam);
}

LRESULT Win32Window::handle_message(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_CHAR: queue_typed_character(wparam, lparam); return 0;
        case WM_KEYDOWN: queue_extended_key(wparam, lparam); return 0;
        case WM_SYSKEYDOWN:
            // Alt+F4 is the system's close command; it comes back as WM_CLOSE.
            if (wparam == VK_F4 && (lparam & (1 << 29)) != 0) break;
            // F10 and Alt combinations: the key, but never the system menu.
            queue_extended_key(wparam, lparam);
            return 0;
        case WM_SYSKEYUP:
        case WM_SYSCHAR: return 0;
        case WM_SYSCOMMAND:
            if ((wparam & 0xFFF0) == SC_KEYMENU) return 0;
            break;
        case WM_CLOSE: display_.screen().queue_key(key_close_window); return 0;  // the window stays
        case WM_QUERYENDSESSION: return TRUE;  // the run ends with the session, its picture saved
        case WM_ENDSESSION:
            if (wparam != FALSE) end_with_the_session();
            return 0;
        case WM_PAINT: paint(); return 0;
        case WM_ERASEBKGND: return 1;  // painting covers every pixel
        case WM_SETCURSOR:
            if (set_cursor(lparam)) return TRUE;
            break;
        case WM_ENTERSIZEMOVE:
        case WM_ENTERMENULOOP: SetTimer(window, modal_loop_timer_id, display_period_ms, nullptr); return 0;
        case WM_EXITSIZEMOVE:
        case WM_EXITMENULOOP: KillTimer(window, modal_loop_timer_id); return 0;
        case WM_TIMER:
            if (wparam == modal_loop_timer_id) refresh_frame();
            return 0;
        default: break;
    }
    return DefWindowProcA(window, message, wparam, lparam);
}

// The session ends (shut-down, restart, log-off): the program's thread takes
// the end like ESC and saves its picture. Windows ends the process soon after
// this message returns, so it waits for the closing stage, within the few
// seconds Windows allows before it offers to end the program regardless. The
// reason stated meanwhile is what Windows shows beside the program on its
// "waiting for programs" screen; the notes on standard error say when the
// wait began and ended.
void Win32Window::end_with_the_session() {
    constexpr int64_t closing_wait_ms = 4000;
    const BOOL reason_stated = ShutdownBlockReasonCreate(window_, L"Saving the chart");
    std::fprintf(stderr, "logger: the session is ending; saving the chart (reason stated: %s)\n",
                 reason_stated != FALSE ? "yes" : "no");
    display_.screen().request_end();
    program_closing().wait_until_done(closing_wait_ms);
    const BOOL reason_destroyed = ShutdownBlockReasonDestroy(window_);
    std::fprintf(stderr, "logger: the chart is saved; the session may end (reason destroyed: %s)\n",
                 reason_destroyed != FALSE ? "yes" : "no");
}

// WM_CHAR brings one byte of the ANSI code page (two messages for a
// double-byte character), repeated as often as the low word of the flags says.
void Win32Window::queue_typed_character(WPARAM character, LPARAM flags) {
    std::array<char, 2> ansi{static_cast<char>(character & 0xFF), 0};
    int length = 1;
    if (pending_lead_byte_ != 0) {
        ansi = {pending_lead_byte_, ansi[0]};
        length = 2;
        pending_lead_byte_ = 0;
    } else if (IsDBCSLeadByte(static_cast<BYTE>(ansi[0]))) {
        pending_lead_byte_ = ansi[0];
        return;
    }
    const auto first = static_cast<uint8_t>(ansi[0]);
    std::optional<uint8_t> code;
    if (length == 1 && (first == key_enter || first == key_backspace || first == key_tab || first == key_escape)) {
        code = first;
    } else if (length == 2 || (first >= 0x20 && first != 0x7F)) {
        code = cp437_from_ansi(ansi.data(), length);
    }  // other control characters come from Ctrl combinations: not characters
    if (!code) return;
    const int repeats = std::max(1, static_cast<int>(flags & 0xFFFF));
    for (int i = 0; i < repeats; ++i) display_.screen().queue_key(*code);
}

void Win32Window::queue_extended_key(WPARAM virtual_key, LPARAM flags) {
    const auto code = key_code_for(virtual_key);
    if (!code) return;
    const int repeats = std::max(1, static_cast<int>(flags & 0xFFFF));
    for (int i = 0; i < repeats; ++i) display_.screen().queue_key(*code);
}

// Over the client area a hidden pointer is no cursor at all; elsewhere (the
// caption, the frame) it is whatever the system shows. True when handled.
bool Win32Window::set_cursor(LPARAM hit) {
    const bool hide = pointer_hidden_ && LOWORD(hit) == HTCLIENT;
    set_pointer_drawn(!hide);
    if (!hide) return false;
    SetCursor(nullptr);
    return true;
}

// ShowCursor counts per thread: keep this thread's count at one step at most.
void Win32Window::set_pointer_drawn(bool drawn) {
    if (drawn == pointer_drawn_) return;
    ShowCursor(drawn ? TRUE : FALSE);
    pointer_drawn_ = drawn;
}

bool Win32Window::pointer_over_client() {
    POINT point{};
    if (!GetCursorPos(&point) || WindowFromPoint(point) != window_) return false;
    if (!ScreenToClient(window_, &point)) return false;
    return point.x >= 0 && point.y >= 0 && point.x < screen_width && point.y < screen_height;
}

void Win32Window::apply_pointer_request() {
    const PointerRequest request = pointer_.take();
    if (request.warp) {
        POINT point{request.x, request.y};
        if (ClientToScreen(window_, &point)) SetCursorPos(point.x, point.y);
    }
    if (request.visibility >= 0) {
        pointer_hidden_ = request.visibility == 0;
        // The system asks again only when the pointer moves: apply it now if it is over us.
        if (pointer_over_client()) {
            set_pointer_drawn(!pointer_hidden_);
            SetCursor(pointer_hidden_ ? nullptr : LoadCursorA(nullptr, IDC_ARROW));
        }
    }
}

}  // namespace

std::unique_ptr<Window> make_system_window() { return std::make_unique<Win32Window>(); }
