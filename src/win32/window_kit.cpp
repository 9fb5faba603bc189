#include "win32/window_kit.h"

#include "common/wide_text.h"
#include "win32/dpi.h"

#include <algorithm>
#include <oleacc.h>
#include <string>

namespace orv {

namespace {

HWND BoxOwner(HWND owner) {
    if (TFormWindow* modal = TFormWindow::InnermostModal())
        return modal->Handle();
    if (owner && IsWindowVisible(owner))
        return owner;
    // A box of no window would get a taskbar button of its own, and could sit behind the main
    // window it disables.
    const HWND main = TFormWindow::MainWindow();
    return main && IsWindowVisible(main) ? main : nullptr;
}

void ShowBox(HWND owner, UINT icon, const std::string& text) {
    const HWND boxOwner = BoxOwner(owner);
    // Without an owner the box is modal to every window of the program.
    MessageBoxW(boxOwner, WideText(text).c_str(), WideText(kAppTitle).c_str(),
                MB_OK | icon | (boxOwner ? 0 : MB_TASKMODAL));
}

} // namespace

std::string WindowText(HWND window) {
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<size_t>(GetWindowTextW(window, text.data(), int(text.size()))));
    return ToUtf8(text);
}

void SetWindowTextUtf8(HWND window, const std::string& text) {
    SetWindowTextW(window, WideText(text).c_str());
}

void ShowErrorBox(HWND owner, const std::string& text) {
    ShowBox(owner, MB_ICONERROR, text);
}

void ShowMessageBox(HWND owner, const std::string& text) {
    ShowBox(owner, 0, text);
}

// Pick-only lists.

void TComboChoice::SetEntries(const std::vector<std::string>& entries) {
    SendMessageW(combo_, CB_RESETCONTENT, 0, 0);
    for (const std::string& entry : entries)
        SendMessageW(combo_, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(WideText(entry).c_str()));
    SendMessageW(combo_, CB_SETCURSEL, WPARAM(-1), 0);
}

int TComboChoice::ChosenIndex() const {
    const LRESULT index = SendMessageW(combo_, CB_GETCURSEL, 0, 0);
    return index == CB_ERR ? -1 : static_cast<int>(index);
}

void TComboChoice::Choose(int index) {
    SendMessageW(combo_, CB_SETCURSEL, WPARAM(index < 0 ? -1 : index), 0);
}

// Timers.

void TWindowTimer::Enable() {
    if (enabled_)
        return;
    SetTimer(window_, id_, UINT(interval_), nullptr);
    enabled_ = true;
}

void TWindowTimer::Disable() {
    if (enabled_)
        KillTimer(window_, id_);
    enabled_ = false;
}

void TWindowTimer::SetInterval(int ms) {
    interval_ = std::max(ms, 1);
    if (enabled_)
        SetTimer(window_, id_, UINT(interval_), nullptr);
}

// Live regions.

namespace {

// Active Accessibility's property services, and UI Automation's LiveSetting for them. Spelt out:
// the GUID library that holds them holds the oleacc library's own again.
constexpr GUID kAccPropServices = {
    0xb5f8350b, 0x0548, 0x48b1, {0xa6, 0xee, 0x88, 0xbd, 0x00, 0xb4, 0xa5, 0xe7}};
constexpr GUID kIAccPropServices = {
    0x6e26e776, 0x04f0, 0x495d, {0x80, 0xe4, 0x33, 0x30, 0x35, 0x2e, 0x31, 0x69}};
constexpr GUID kLiveSettingProperty = {
    0xc12bcd8e, 0x2a8e, 0x4950, {0x8a, 0xe7, 0x36, 0x25, 0x11, 0x1d, 0x58, 0xeb}};
constexpr long kPolite = 1;

} // namespace

void MarkLiveRegion(HWND control) {
    IAccPropServices* services = nullptr;
    if (FAILED(CoCreateInstance(kAccPropServices, nullptr, CLSCTX_INPROC_SERVER, kIAccPropServices,
                                reinterpret_cast<void**>(&services))))
        return;
    VARIANT polite;
    VariantInit(&polite);
    polite.vt = VT_I4;
    polite.lVal = kPolite;
    services->SetHwndProp(control, DWORD(OBJID_CLIENT), CHILDID_SELF, kLiveSettingProperty, polite);
    services->Release();
}

void AnnounceLiveRegion(HWND control) {
    NotifyWinEvent(EVENT_OBJECT_LIVEREGIONCHANGED, control, OBJID_CLIENT, CHILDID_SELF);
}

// The session's end.

void SetSessionEndReason(HWND window, const std::string& reason) {
    using Function = BOOL(WINAPI*)(HWND, LPCWSTR);
    static const auto create = User32Function<Function>("ShutdownBlockReasonCreate");
    if (create)
        create(window, WideText(reason).c_str());
}

void ClearSessionEndReason(HWND window) {
    using Function = BOOL(WINAPI*)(HWND);
    static const auto destroy = User32Function<Function>("ShutdownBlockReasonDestroy");
    if (destroy)
        destroy(window);
}

} // namespace orv
