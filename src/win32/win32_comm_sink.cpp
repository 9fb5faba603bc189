#include "win32/win32_comm_sink.h"

#include "win32/window_kit.h"

#include <memory>
#include <stdexcept>
#include <string>

namespace orv {

namespace {

constexpr wchar_t kWindowClass[] = L"OrvCommNotifyWindow";
constexpr UINT kNotification = WM_APP + 0x401;

} // namespace

TWin32CommSink::TWin32CommSink() {
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    if (!GetClassInfoExW(instance, kWindowClass, &windowClass)) {
        windowClass.lpfnWndProc = WindowProc;
        windowClass.hInstance = instance;
        windowClass.lpszClassName = kWindowClass;
        RegisterClassExW(&windowClass);
    }
    window_ = CreateWindowExW(0, kWindowClass, L"CommNotifyWindow", 0, 0, 0, 0, 0, HWND_MESSAGE,
                              nullptr, instance, nullptr);
    if (!window_)
        throw std::runtime_error("Windows refused the serial port's notification window (error " +
                                 std::to_string(GetLastError()) + ")");
}

TWin32CommSink::~TWin32CommSink() {
    Discard(nullptr);
    DestroyWindow(window_);
}

bool TWin32CommSink::Post(CommNotification& note) {
    auto posted = std::make_unique<CommNotification>(std::move(note));
    if (!PostMessageW(window_, kNotification, 0, reinterpret_cast<LPARAM>(posted.get()))) {
        note = std::move(*posted); // a full queue: the caller keeps it
        return false;
    }
    posted.release(); // the window procedure owns it now
    return true;
}

void TWin32CommSink::Discard(TComm* /*target*/) {
    MSG message;
    while (PeekMessageW(&message, window_, kNotification, kNotification, PM_REMOVE))
        delete reinterpret_cast<CommNotification*>(message.lParam);
}

LRESULT CALLBACK TWin32CommSink::WindowProc(HWND window, UINT message, WPARAM wParam,
                                            LPARAM lParam) {
    if (message != kNotification)
        return DefWindowProcW(window, message, wParam, lParam);
    const std::unique_ptr<CommNotification> note(reinterpret_cast<CommNotification*>(lParam));
    try {
        if (note->Target)
            note->Target->Deliver(*note);
    } catch (...) {
        // The handlers show their own errors; this is what slipped past them.
        ShowErrorBox(nullptr, ErrorText(std::current_exception()));
    }
    return 0;
}

} // namespace orv
