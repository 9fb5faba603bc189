#pragma once
// The program's notification sink on Windows: a hidden message-only window of the GUI thread.
// The port's threads post each notification to it with PostMessage; every message loop of the
// thread, nested modal ones included (a message box opened by a handler, a dialog), delivers
// them in posting order, and each becomes one TComm event.

#include "serial/comm.h"

#include <windows.h>

namespace orv {

// Serves one component (Discard drops everything queued). Made on the GUI thread.
class TWin32CommSink final : public ICommSink {
public:
    TWin32CommSink();
    // Releases the notifications still queued, with their blocks.
    ~TWin32CommSink() override;
    TWin32CommSink(const TWin32CommSink&) = delete;
    TWin32CommSink& operator=(const TWin32CommSink&) = delete;

    bool Post(CommNotification& note) override;
    void Discard(TComm* target) override;

    HWND Handle() const { return window_; }

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    HWND window_ = nullptr;
};

namespace detail {
struct TWin32CommSinkHolder {
    TWin32CommSink Sink;
};
} // namespace detail

// A TComm with its own sink, for the windows: `orv::TWin32Comm Comm;`. Made on the GUI thread;
// the sink outlives the component's destructor, which stops the port first.
class TWin32Comm : private detail::TWin32CommSinkHolder, public TComm {
public:
    TWin32Comm() : TComm(&Sink) {}
};

} // namespace orv
