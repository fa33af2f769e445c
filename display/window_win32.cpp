// The real window on Windows: a resizable, DPI-aware Win32 window that shows
// the Screen's palette frame buffer scaled to fit (full screen on Alt+Enter or
// F11), turns keyboard and close messages into queued keys, places and hides
// the pointer and sounds the tone. The display thread creates the window and so
// receives its messages; every window call runs there.
// windows.h first: imm.h relies on its types.
#include <windows.h>

#include <imm.h>

#include <algorithm>
#include <array>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <thread>

#include "core/program_life.h"
#include "core/sleep_watch.h"
#include "display/display_thread.h"
#include "display/presentation.h"
#include "display/system_window.h"
#include "screen/screen.h"
#include "screen/window.h"

namespace {

constexpr DWORD tone_frequency_hz = 1000;
constexpr DWORD tone_duration_ms = 250;
// A program that rings the bell in a loop must not queue minutes of sound.
constexpr int32_t most_tones_queued = 4;
constexpr DWORD window_style =
    WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX;
// Full screen: no caption, no frame, the whole monitor.
constexpr DWORD full_screen_style = WS_POPUP;
constexpr UINT standard_dpi = 96;
// The smallest client area the user can drag the window to, at 96 DPI.
constexpr int32_t smallest_client_width = 400;
constexpr int32_t smallest_client_height = 300;
constexpr UINT code_page_437 = 437;
constexpr UINT_PTR modal_loop_timer_id = 1;
constexpr char window_class_name[] = "logger_palette_window";

// Extended key codes of the keys that produce no character, by virtual key.
// With Num Lock off the keypad keys arrive as these virtual keys too.
std::optional<uint32_t> key_code_for(WPARAM virtual_key)
{
    switch (virtual_key) {
    case VK_UP:
        return key_up;
    case VK_DOWN:
        return key_down;
    case VK_LEFT:
        return key_left;
    case VK_RIGHT:
        return key_right;
    case VK_INSERT:
        return key_insert;
    case VK_DELETE:
        return key_delete;
    case VK_HOME:
        return key_home;
    case VK_END:
        return key_end;
    case VK_PRIOR:
        return key_page_up;
    case VK_NEXT:
        return key_page_down;
    case VK_F12:
        return extended_key(134);
    default:
        break;
    }
    if (virtual_key >= VK_F1 && virtual_key <= VK_F10) {
        return extended_key(static_cast<uint8_t>(59 + (virtual_key - VK_F1)));
    }
    return std::nullopt;
}

// The code page 437 byte of a character given in the ANSI code page (one byte,
// or two for a double-byte character); none when code page 437 lacks it.
std::optional<uint8_t> cp437_from_ansi(const char* ansi, int length)
{
    wchar_t wide = 0;
    if (MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, ansi, length, &wide, 1) != 1)
        return std::nullopt;
    char converted = 0;
    BOOL used_default = FALSE;
    // No best fit: a character without its own byte is dropped, not replaced by a look-alike.
    if (WideCharToMultiByte(code_page_437, WC_NO_BEST_FIT_CHARS, &wide, 1, &converted, 1, nullptr, &used_default) !=
            1 ||
        used_default) {
        return std::nullopt;
    }
    return static_cast<uint8_t>(converted);
}

// The system's words for the last error, after `what`.
std::string describe_last_error(const std::string& what)
{
    const DWORD code = GetLastError();
    // Seen when no display driver could be loaded (Wine without an X display).
    if (code == 0)
        return what + " (the system gave no cause; is there a display to show it on?)";
    std::array<char, 512> text{};
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                                  text.data(), static_cast<DWORD>(text.size()), nullptr);
    while (length > 0 && (text[length - 1] == '\r' || text[length - 1] == '\n' || text[length - 1] == '.')) {
        --length;
    }
    std::string cause = what + " (error " + std::to_string(code);
    if (length > 0)
        cause += ": " + std::string(text.data(), length);
    return cause + ")";
}

// A function of user32.dll that older Windows lacks; null where it is missing.
template <typename Function>
Function user32_function(const char* name)
{
    const FARPROC found = GetProcAddress(GetModuleHandleA("user32.dll"), name);
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(found));
}

// Sharp at every display scale: per-monitor aware (version 2, then 1) where
// the manifest was not read, system aware where the system knows no better.
// The window takes its size from whatever DPI it is then given.
void become_dpi_aware()
{
    using SetContext = BOOL(WINAPI*)(HANDLE);
    const auto set_context = user32_function<SetContext>("SetProcessDpiAwarenessContext");
    if (set_context != nullptr) {
        for (const intptr_t context : {-4, -3}) {  // per monitor v2, per monitor
            if (set_context(reinterpret_cast<HANDLE>(context)))
                return;
            // Already set, by the manifest: that setting stands.
            if (GetLastError() == ERROR_ACCESS_DENIED)
                return;
        }
    }
    SetProcessDPIAware();
}

// The DPI the window is shown at: its monitor's, or the system's.
UINT dpi_of(HWND window)
{
    using GetDpi = UINT(WINAPI*)(HWND);
    static const auto get_dpi_for_window = user32_function<GetDpi>("GetDpiForWindow");
    UINT dpi = get_dpi_for_window != nullptr ? get_dpi_for_window(window) : 0;
    if (dpi == 0) {
        HDC device = GetDC(nullptr);
        if (device != nullptr) {
            dpi = static_cast<UINT>(std::max(0, GetDeviceCaps(device, LOGPIXELSX)));
            ReleaseDC(nullptr, device);
        }
    }
    // 25 % to 1000 %; anything else is not a DPI.
    return dpi >= standard_dpi / 4 && dpi <= standard_dpi * 10 ? dpi : standard_dpi;
}

// The outer window size for a client area at a DPI.
SIZE outer_size_for_client(int32_t client_width, int32_t client_height, UINT dpi)
{
    using AdjustForDpi = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);
    static const auto adjust_for_dpi = user32_function<AdjustForDpi>("AdjustWindowRectExForDpi");
    RECT outer{0, 0, client_width, client_height};
    if (adjust_for_dpi == nullptr || !adjust_for_dpi(&outer, window_style, FALSE, 0, dpi)) {
        AdjustWindowRectEx(&outer, window_style, FALSE, 0);
    }
    return SIZE{outer.right - outer.left, outer.bottom - outer.top};
}

int32_t scaled_by_dpi(int32_t length, UINT dpi)
{
    return static_cast<int32_t>(MulDiv(length, static_cast<int>(dpi), static_cast<int>(standard_dpi)));
}

// Maximised when the starter asks (a shortcut set to run maximised, "start
// /max"): read here, as not every system applies it to a window that a second
// thread shows.
int show_command_at_start()
{
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    GetStartupInfoA(&startup);
    const bool maximised = (startup.dwFlags & STARTF_USESHOWWINDOW) != 0 &&
                           (startup.wShowWindow == SW_SHOWMAXIMIZED || startup.wShowWindow == SW_MAXIMIZE);
    return maximised ? SW_SHOWMAXIMIZED : SW_SHOW;
}

// A key held down: the system repeats it, with the previous-state bit set.
bool key_repeats(LPARAM flags) { return (flags & (1 << 30)) != 0; }

// The computer is about to sleep, or woke: the program's thread hears of it as
// from any watcher. A suspend waits here for the run's data to be safe, within
// the two seconds or so Windows gives each window before it sleeps regardless.
LRESULT take_power_broadcast(WPARAM event)
{
    constexpr int64_t sleep_wait_ms = 1500;
    if (event == PBT_APMSUSPEND)
        pass_on_sleep(sleep_wait_ms);
    else if (event == PBT_APMRESUMEAUTOMATIC || event == PBT_APMRESUMESUSPEND)
        pass_on_resume();
    return TRUE;
}

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
    void place_at_start();
    void fit_client_area(int32_t width, int32_t height);
    void destroy_window() override;
    void take_frame() override;
    void show_frame() override;
    void wait_for_work_until(std::chrono::steady_clock::time_point until) override;
    void wake_for_work() override;
    void refresh_frame();
    void lay_out(int32_t width, int32_t height);
    bool make_picture(DeviceSize size);
    void free_picture();
    void show_changed_rows();
    void show_rows(HDC device, int32_t first_y, int32_t last_y);
    void paint();
    void keep_smallest_size(MINMAXINFO& limits) const;
    void follow_dpi_change(UINT dpi, const RECT& suggested);
    void toggle_full_screen();
    void keep_placement_at_dpi(UINT dpi);
    void cover_monitor();
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
    // Set from any thread to end the display thread's wait (auto-reset).
    HANDLE work_event_ = nullptr;
    DisplayFrame frame_;
    ArgbColours colours_{};
    UINT dpi_ = standard_dpi;
    // The frame scaled to the client area, in a 32-bit DIB section.
    Presentation presentation_;
    HDC picture_device_ = nullptr;
    HBITMAP picture_bitmap_ = nullptr;
    HGDIOBJ replaced_bitmap_ = nullptr;
    uint32_t* picture_pixels_ = nullptr;
    bool full_screen_ = false;
    WINDOWPLACEMENT placement_before_full_screen_{};
    UINT placement_dpi_ = standard_dpi;  // the DPI the placement's size is for
    bool pointer_hidden_ = false;        // over the client area, as the program asked
    bool pointer_drawn_ = true;          // this thread's ShowCursor state
    char pending_lead_byte_ = 0;         // first half of a double-byte character

    // Declared last, so it is destroyed first, before the members its thread uses.
    DisplayThread display_{*this};
};

bool Win32Window::open(Screen& screen, const std::string& title, std::string& error)
{
    std::lock_guard close_guard(close_mutex_);
    const bool already_open = display_.running();
    if (display_.start(screen, title, error)) {
        start_tones();
        return true;
    }
    // A program started from the desktop has no console to print the cause on.
    if (!already_open)
        MessageBoxA(nullptr, error.c_str(), title.c_str(), MB_OK | MB_ICONERROR | MB_SETFOREGROUND);
    return false;
}

void Win32Window::close()
{
    std::lock_guard close_guard(close_mutex_);
    stop_tones();
    display_.stop();
}

void Win32Window::move_mouse(int32_t x, int32_t y, int32_t visible)
{
    pointer_.request(x, y, visible);
    display_.owe_pass();
}

void Win32Window::play_tone()
{
    // The tone thread sounds it; the caller goes on at once.
    {
        std::lock_guard lock(tone_mutex_);
        if (pending_tones_ >= most_tones_queued)
            return;
        ++pending_tones_;
    }
    tone_wanted_.notify_one();
}

void Win32Window::start_tones()
{
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

void Win32Window::run_tones()
{
    std::unique_lock lock(tone_mutex_);
    for (;;) {
        tone_wanted_.wait(lock, [this] { return stop_tones_ || pending_tones_ > 0; });
        if (stop_tones_)
            return;
        --pending_tones_;
        lock.unlock();
        Beep(tone_frequency_hz, tone_duration_ms);  // fails quietly without a sound device
        lock.lock();
    }
}

void Win32Window::stop_tones()
{
    {
        std::lock_guard lock(tone_mutex_);
        stop_tones_ = true;
    }
    tone_wanted_.notify_all();
    if (tone_thread_.joinable())
        tone_thread_.join();
}

bool Win32Window::create_window(const std::string& title, std::string& error)
{
    become_dpi_aware();
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
    work_event_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (work_event_ == nullptr) {
        error = describe_last_error("cannot create the display's wake event");
        return false;
    }

    frame_.reset();
    colours_ = ArgbColours{};
    presentation_ = Presentation{};
    full_screen_ = false;
    pointer_.take();  // nothing left over from an earlier opening
    pointer_hidden_ = false;
    pointer_drawn_ = true;
    pending_lead_byte_ = 0;

    // Created hidden, then sized for the DPI of the monitor it landed on.
    window_ = CreateWindowExA(0, window_class_name, title.c_str(), window_style, CW_USEDEFAULT, CW_USEDEFAULT,
                              screen_width, screen_height, nullptr, nullptr, instance, this);
    if (window_ == nullptr) {
        error = describe_last_error("cannot create the window");
        return false;
    }
    place_at_start();
    // No input method: with one on, digits arrive full-width and the key mapping drops them.
    ImmAssociateContext(window_, nullptr);

    ShowWindow(window_, show_command_at_start());
    SetForegroundWindow(window_);
    return true;
}

// 800x600 times the monitor's scale, or the largest size that fits its work
// area, centred there; on a desktop too small the caption stays in reach.
void Win32Window::place_at_start()
{
    dpi_ = dpi_of(window_);
    RECT work{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    MONITORINFO monitor{};
    monitor.cbSize = sizeof(monitor);
    if (GetMonitorInfoA(MonitorFromWindow(window_, MONITOR_DEFAULTTOPRIMARY), &monitor))
        work = monitor.rcWork;
    const int32_t work_width = work.right - work.left;
    const int32_t work_height = work.bottom - work.top;
    const SIZE frame = outer_size_for_client(0, 0, dpi_);
    const DeviceSize client =
        starting_window_size(work_width - frame.cx, work_height - frame.cy, static_cast<double>(dpi_) / standard_dpi);
    const SIZE outer = outer_size_for_client(client.width, client.height, dpi_);
    const int x = std::max(work.left, work.left + (work_width - outer.cx) / 2);
    const int y = std::max(work.top, work.top + (work_height - outer.cy) / 2);
    SetWindowPos(window_, nullptr, x, y, outer.cx, outer.cy, SWP_NOZORDER | SWP_NOACTIVATE);
    fit_client_area(client.width, client.height);
    RECT client_area{};
    if (GetClientRect(window_, &client_area))
        lay_out(client_area.right, client_area.bottom);
}

// Makes the client area exactly the size asked where the frame the system
// draws differs from what AdjustWindowRectEx said.
void Win32Window::fit_client_area(int32_t width, int32_t height)
{
    RECT client{};
    RECT outer{};
    if (!GetClientRect(window_, &client) || !GetWindowRect(window_, &outer))
        return;
    const int extra_width = width - (client.right - client.left);
    const int extra_height = height - (client.bottom - client.top);
    if (extra_width == 0 && extra_height == 0)
        return;
    SetWindowPos(window_, nullptr, 0, 0, outer.right - outer.left + extra_width,
                 outer.bottom - outer.top + extra_height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void Win32Window::destroy_window()
{
    if (window_ != nullptr) {
        set_pointer_drawn(true);
        // Marked as not to be redrawn, the window is no longer visible to the
        // system, so destroying it does not wait for a window manager to
        // withdraw it: under Wine without one that wait is 2 s, otherwise 1 ms.
        SendMessageA(window_, WM_SETREDRAW, FALSE, 0);
        DestroyWindow(window_);
        window_ = nullptr;
    }
    free_picture();
    if (class_registered_)
        UnregisterClassA(window_class_name, GetModuleHandleA(nullptr));
    class_registered_ = false;
    if (work_event_ != nullptr)
        CloseHandle(work_event_);
    work_event_ = nullptr;
}

void Win32Window::take_frame()
{
    if (!frame_.take(display_.screen()))
        return;
    colours_ = argb_colours(display_.screen().palette());
}

void Win32Window::show_frame()
{
    // A wake from before this point is for what this pass takes; one after
    // it also leaves the display's owed flag set, so the next wait is skipped.
    ResetEvent(work_event_);
    pump_messages();
    show_changed_rows();
    apply_pointer_request();
}

// Ends on any message for this thread (input, paint, sent or posted), on the
// wake event, or at `until`.
void Win32Window::wait_for_work_until(std::chrono::steady_clock::time_point until)
{
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
    if (left.count() <= 0)
        return;
    const auto wait_ms = static_cast<DWORD>(std::min<int64_t>(left.count(), display_idle_pass_ms));
    MsgWaitForMultipleObjectsEx(1, &work_event_, wait_ms, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
}

void Win32Window::wake_for_work() { SetEvent(work_event_); }

// The frame part of a pass, for the timer that keeps the picture live while
// the system runs a modal loop (the window being dragged, the system menu).
void Win32Window::refresh_frame()
{
    {
        DisplayLock lock(display_.screen().lock());
        take_frame();
    }
    show_changed_rows();
}

// A new client size: the frame fitted to it anew, the whole picture scaled
// from the display's copy and shown. A minimised window keeps what it had; a
// window not yet shown leaves the scaling to the first pass.
void Win32Window::lay_out(int32_t width, int32_t height)
{
    if (width <= 0 || height <= 0)
        return;
    if (picture_pixels_ != nullptr && presentation_.target == DeviceSize{width, height})
        return;
    free_picture();
    presentation_ = make_presentation(width, height);
    if (!make_picture(presentation_.target))
        return;
    if (!IsWindowVisible(window_)) {
        frame_.owe_full_redraw();
        return;
    }
    scale_frame_rows(presentation_, frame_.pixels(), colours_, DeviceRows{0, height - 1}, picture_pixels_, width * 4);
    InvalidateRect(window_, nullptr, FALSE);
}

// A top-down 32-bit DIB section of the client's size, selected into a memory
// device context, which the scaler writes into and the passes copy from.
bool Win32Window::make_picture(DeviceSize size)
{
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = size.width;
    info.bmiHeader.biHeight = -size.height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    picture_bitmap_ = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    picture_device_ = CreateCompatibleDC(nullptr);
    if (picture_bitmap_ == nullptr || picture_device_ == nullptr || bits == nullptr) {
        free_picture();
        return false;
    }
    replaced_bitmap_ = SelectObject(picture_device_, picture_bitmap_);
    picture_pixels_ = static_cast<uint32_t*>(bits);
    return true;
}

void Win32Window::free_picture()
{
    if (picture_device_ != nullptr) {
        if (replaced_bitmap_ != nullptr)
            SelectObject(picture_device_, replaced_bitmap_);
        DeleteDC(picture_device_);
    }
    if (picture_bitmap_ != nullptr)
        DeleteObject(picture_bitmap_);
    picture_device_ = nullptr;
    picture_bitmap_ = nullptr;
    replaced_bitmap_ = nullptr;
    picture_pixels_ = nullptr;
}

// Shows each run of rows taken since the last pass, or the whole frame. Most
// passes have nothing to show: they do not even ask for the device context.
void Win32Window::show_changed_rows()
{
    if (!frame_.anything_to_show())
        return;
    HDC device = picture_pixels_ != nullptr ? GetDC(window_) : nullptr;
    if (device == nullptr) {
        // Minimised or without a picture: the next lay-out scales the whole frame.
        frame_.whole_frame_shown();
        return;
    }
    if (frame_.full_redraw_owed()) {
        const DeviceSize target = presentation_.target;
        scale_frame_rows(presentation_, frame_.pixels(), colours_, DeviceRows{0, target.height - 1}, picture_pixels_,
                         target.width * 4);
        BitBlt(device, 0, 0, target.width, target.height, picture_device_, 0, 0, SRCCOPY);
        frame_.whole_frame_shown();
    }
    frame_.show_taken_rows([this, device](int32_t first_y, int32_t last_y) { show_rows(device, first_y, last_y); });
    ReleaseDC(window_, device);
}

// Frame rows first_y..last_y of the display's copy, scaled through the palette
// into the device rows they cover, and those rows onto the client area.
void Win32Window::show_rows(HDC device, int32_t first_y, int32_t last_y)
{
    const DeviceRows rows = device_rows_for_frame_rows(presentation_, first_y, last_y);
    if (rows.empty())
        return;
    scale_frame_rows(presentation_, frame_.pixels(), colours_, rows, picture_pixels_, presentation_.target.width * 4);
    const DeviceRect& picture = presentation_.picture;
    BitBlt(device, picture.x, rows.first, picture.width, rows.last - rows.first + 1, picture_device_, picture.x,
           rows.first, SRCCOPY);
}

// The picture as last scaled, bars included.
void Win32Window::paint()
{
    PAINTSTRUCT paint_state{};
    HDC device = BeginPaint(window_, &paint_state);
    if (device == nullptr)
        return;
    const RECT& area = paint_state.rcPaint;
    if (picture_pixels_ != nullptr) {
        BitBlt(device, area.left, area.top, area.right - area.left, area.bottom - area.top, picture_device_, area.left,
               area.top, SRCCOPY);
    } else {
        FillRect(device, &area, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    }
    EndPaint(window_, &paint_state);
}

// No smaller than 400x300 client pixels at 96 DPI, scaled to the window's DPI.
void Win32Window::keep_smallest_size(MINMAXINFO& limits) const
{
    if (full_screen_)
        return;
    const SIZE outer = outer_size_for_client(scaled_by_dpi(smallest_client_width, dpi_),
                                             scaled_by_dpi(smallest_client_height, dpi_), dpi_);
    limits.ptMinTrackSize = POINT{outer.cx, outer.cy};
}

// Moved to a monitor of another scale (or the scale changed): the system
// suggests the place and size for the new DPI; the picture follows the size.
void Win32Window::follow_dpi_change(UINT dpi, const RECT& suggested)
{
    dpi_ = dpi >= standard_dpi / 4 && dpi <= standard_dpi * 10 ? dpi : dpi_of(window_);
    if (full_screen_) {
        keep_placement_at_dpi(dpi_);
        cover_monitor();
        return;
    }
    SetWindowPos(window_, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                 suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
}

// Alt+Enter or F11: a borderless window over the whole monitor, and back to
// the window as it was (maximised or not, its place and size).
void Win32Window::toggle_full_screen()
{
    if (!full_screen_) {
        placement_before_full_screen_ = WINDOWPLACEMENT{};
        placement_before_full_screen_.length = sizeof(WINDOWPLACEMENT);
        if (!GetWindowPlacement(window_, &placement_before_full_screen_))
            return;
        placement_dpi_ = dpi_;
        full_screen_ = true;
        SetWindowLongPtrA(window_, GWL_STYLE, full_screen_style | WS_VISIBLE);
        cover_monitor();
        return;
    }
    full_screen_ = false;
    SetWindowLongPtrA(window_, GWL_STYLE, window_style | WS_VISIBLE);
    SetWindowPlacement(window_, &placement_before_full_screen_);
    SetWindowPos(window_, nullptr, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOOWNERZORDER | SWP_FRAMECHANGED);
}

// The window left for full screen comes back at the size it had, in the
// pixels of the DPI it comes back at: scaled about its centre on a DPI change.
void Win32Window::keep_placement_at_dpi(UINT dpi)
{
    RECT& normal = placement_before_full_screen_.rcNormalPosition;
    const int width = MulDiv(normal.right - normal.left, static_cast<int>(dpi), static_cast<int>(placement_dpi_));
    const int height = MulDiv(normal.bottom - normal.top, static_cast<int>(dpi), static_cast<int>(placement_dpi_));
    const int centre_x = (normal.left + normal.right) / 2;
    const int centre_y = (normal.top + normal.bottom) / 2;
    normal =
        RECT{centre_x - width / 2, centre_y - height / 2, centre_x - width / 2 + width, centre_y - height / 2 + height};
    placement_dpi_ = dpi;
}

void Win32Window::cover_monitor()
{
    MONITORINFO monitor{};
    monitor.cbSize = sizeof(monitor);
    if (!GetMonitorInfoA(MonitorFromWindow(window_, MONITOR_DEFAULTTONEAREST), &monitor))
        return;
    const RECT& whole = monitor.rcMonitor;
    SetWindowPos(window_, HWND_TOP, whole.left, whole.top, whole.right - whole.left, whole.bottom - whole.top,
                 SWP_NOOWNERZORDER | SWP_FRAMECHANGED);
}

void Win32Window::pump_messages()
{
    MSG message{};
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

LRESULT CALLBACK Win32Window::window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (message == WM_NCCREATE) {
        const auto* creation = reinterpret_cast<const CREATESTRUCTA*>(lparam);
        SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(creation->lpCreateParams));
        // Known before CreateWindowExA returns: the first WM_SIZE comes sooner.
        static_cast<Win32Window*>(creation->lpCreateParams)->window_ = window;
    }
    auto* self = reinterpret_cast<Win32Window*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (self == nullptr)
        return DefWindowProcA(window, message, wparam, lparam);
    return self->handle_message(window, message, wparam, lparam);
}

LRESULT Win32Window::handle_message(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    switch (message) {
    case WM_CHAR:
        queue_typed_character(wparam, lparam);
        return 0;
    case WM_KEYDOWN:
        if (wparam == VK_F11) {
            if (!key_repeats(lparam))
                toggle_full_screen();
            return 0;
        }
        queue_extended_key(wparam, lparam);
        return 0;
    case WM_SYSKEYDOWN:
        // Alt+F4 is the system's close command; it comes back as WM_CLOSE.
        if (wparam == VK_F4 && (lparam & (1 << 29)) != 0)
            break;
        // Alt+Enter and Alt+F11: full screen, and no key.
        if (wparam == VK_RETURN || wparam == VK_F11) {
            if (!key_repeats(lparam))
                toggle_full_screen();
            return 0;
        }
        // F10 and Alt combinations: the key, but never the system menu.
        queue_extended_key(wparam, lparam);
        return 0;
    case WM_SYSKEYUP:
    case WM_SYSCHAR:
        return 0;
    case WM_SYSCOMMAND:
        if ((wparam & 0xFFF0) == SC_KEYMENU)
            return 0;
        break;
    case WM_CLOSE:
        display_.screen().queue_key(key_close_window);
        return 0;  // the window stays
    case WM_QUERYENDSESSION:
        return TRUE;  // the run ends with the session, its picture saved
    case WM_ENDSESSION:
        if (wparam != FALSE)
            end_with_the_session();
        return 0;
    case WM_POWERBROADCAST:
        return take_power_broadcast(wparam);
    case WM_SIZE:
        if (wparam != SIZE_MINIMIZED)
            lay_out(LOWORD(lparam), HIWORD(lparam));
        return 0;
    case WM_GETMINMAXINFO:
        keep_smallest_size(*reinterpret_cast<MINMAXINFO*>(lparam));
        return 0;
    case WM_DPICHANGED:
        follow_dpi_change(LOWORD(wparam), *reinterpret_cast<const RECT*>(lparam));
        return 0;
    case WM_PAINT:
        paint();
        return 0;
    case WM_ERASEBKGND:
        return 1;  // painting covers every pixel
    case WM_SETCURSOR:
        if (set_cursor(lparam))
            return TRUE;
        break;
    case WM_ENTERSIZEMOVE:
    case WM_ENTERMENULOOP:
        SetTimer(window, modal_loop_timer_id, display_period_ms, nullptr);
        return 0;
    case WM_EXITSIZEMOVE:
    case WM_EXITMENULOOP:
        KillTimer(window, modal_loop_timer_id);
        return 0;
    case WM_TIMER:
        if (wparam == modal_loop_timer_id)
            refresh_frame();
        return 0;
    default:
        break;
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
void Win32Window::end_with_the_session()
{
    constexpr int64_t closing_wait_ms = 4000;
    const BOOL reason_stated = ShutdownBlockReasonCreate(window_, L"Saving the chart");
    std::fprintf(stderr, "logger: the session is ending; saving the chart (reason stated: %s)\n",
                 reason_stated != FALSE ? "yes" : "no");
    request_program_end();
    program_closing().wait_until_done(closing_wait_ms);
    const BOOL reason_destroyed = ShutdownBlockReasonDestroy(window_);
    std::fprintf(stderr, "logger: the chart is saved; the session may end (reason destroyed: %s)\n",
                 reason_destroyed != FALSE ? "yes" : "no");
}

// WM_CHAR brings one byte of the ANSI code page (two messages for a
// double-byte character), repeated as often as the low word of the flags says.
void Win32Window::queue_typed_character(WPARAM character, LPARAM flags)
{
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
    if (!code)
        return;
    const int repeats = std::max(1, static_cast<int>(flags & 0xFFFF));
    for (int i = 0; i < repeats; ++i)
        display_.screen().queue_key(*code);
}

void Win32Window::queue_extended_key(WPARAM virtual_key, LPARAM flags)
{
    const auto code = key_code_for(virtual_key);
    if (!code)
        return;
    const int repeats = std::max(1, static_cast<int>(flags & 0xFFFF));
    for (int i = 0; i < repeats; ++i)
        display_.screen().queue_key(*code);
}

// Over the client area a hidden pointer is no cursor at all; elsewhere (the
// caption, the frame) it is whatever the system shows. True when handled.
bool Win32Window::set_cursor(LPARAM hit)
{
    const bool hide = pointer_hidden_ && LOWORD(hit) == HTCLIENT;
    set_pointer_drawn(!hide);
    if (!hide)
        return false;
    SetCursor(nullptr);
    return true;
}

// ShowCursor counts per thread: keep this thread's count at one step at most.
void Win32Window::set_pointer_drawn(bool drawn)
{
    if (drawn == pointer_drawn_)
        return;
    ShowCursor(drawn ? TRUE : FALSE);
    pointer_drawn_ = drawn;
}

bool Win32Window::pointer_over_client()
{
    POINT point{};
    if (!GetCursorPos(&point) || WindowFromPoint(point) != window_)
        return false;
    RECT client{};
    if (!ScreenToClient(window_, &point) || !GetClientRect(window_, &client))
        return false;
    return point.x >= 0 && point.y >= 0 && point.x < client.right && point.y < client.bottom;
}

void Win32Window::apply_pointer_request()
{
    const PointerRequest request = pointer_.take();
    if (request.warp) {
        // Onto the device pixel that shows the frame pixel asked for.
        const DevicePoint device = device_point_for_frame_pixel(presentation_, request.x, request.y);
        POINT point{device.x, device.y};
        if (ClientToScreen(window_, &point))
            SetCursorPos(point.x, point.y);
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
