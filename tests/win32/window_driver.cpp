#include "window_driver.h"

#include "common/wide_text.h"
#include "win32/window_kit.h"

#include <algorithm>
#include <commctrl.h>
#include <cstdio>
#include <gtest/gtest.h>

namespace orv::test {

std::string Text(HWND window) {
    return WindowText(window);
}

void SetText(HWND control, const std::string& text) {
    SendMessageW(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(WideText(text).c_str()));
}

void Click(HWND button) {
    SendMessageW(button, BM_CLICK, 0, 0);
}

bool Choose(HWND combo, const std::string& text) {
    const LRESULT index = SendMessageW(combo, CB_FINDSTRINGEXACT, WPARAM(-1),
                                       reinterpret_cast<LPARAM>(WideText(text).c_str()));
    // CB_FINDSTRINGEXACT ignores letter case; the choice must be the very entry.
    if (index == CB_ERR || Entries(combo)[size_t(index)] != text)
        return false;
    SendMessageW(combo, CB_SETCURSEL, WPARAM(index), 0);
    return true;
}

std::vector<std::string> Entries(HWND combo) {
    std::vector<std::string> entries;
    const LRESULT count = SendMessageW(combo, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        std::wstring entry(size_t(SendMessageW(combo, CB_GETLBTEXTLEN, WPARAM(i), 0)) + 1, L'\0');
        SendMessageW(combo, CB_GETLBTEXT, WPARAM(i), reinterpret_cast<LPARAM>(entry.data()));
        entries.push_back(ToUtf8(entry.c_str()));
    }
    return entries;
}

std::string Chosen(HWND combo) {
    const LRESULT index = SendMessageW(combo, CB_GETCURSEL, 0, 0);
    return index == CB_ERR ? std::string() : Entries(combo)[size_t(index)];
}

std::string StatusText(HWND statusBar) {
    const LRESULT length = LOWORD(SendMessageW(statusBar, SB_GETTEXTLENGTHW, 0, 0));
    std::wstring text(size_t(length) + 1, L'\0');
    SendMessageW(statusBar, SB_GETTEXTW, 0, reinterpret_cast<LPARAM>(text.data()));
    std::wstring_view shown = text.c_str();
    while (!shown.empty() && shown.front() == L'\t')
        shown.remove_prefix(1);
    return ToUtf8(shown);
}

namespace {

HWND KeyTarget(HWND window) {
    const HWND focus = GetFocus();
    return focus && (focus == window || IsChild(window, focus)) ? focus : window;
}

LPARAM KeyData(UINT key, bool up) {
    const LPARAM scan = LPARAM(MapVirtualKeyW(key, MAPVK_VK_TO_VSC)) << 16;
    return up ? (scan | 1 | LPARAM(3) << 30) : (scan | 1);
}

} // namespace

void PressKey(HWND window, UINT key) {
    const HWND target = KeyTarget(window);
    PostMessageW(target, WM_KEYDOWN, key, KeyData(key, false));
    PostMessageW(target, WM_KEYUP, key, KeyData(key, true));
}

void PressAltKey(HWND window, wchar_t character) {
    // The context code (bit 29): Alt is held.
    PostMessageW(KeyTarget(window), WM_SYSCHAR, character, 1 | LPARAM(1) << 29);
}

int FocusId(HWND window) {
    const HWND focus = GetFocus();
    return focus && IsChild(window, focus) ? GetDlgCtrlID(focus) : 0;
}

std::string MessageText(HWND box) {
    // The static control that holds text: the icon is one too, without text.
    std::string text;
    for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        wchar_t name[32] = {};
        GetClassNameW(child, name, 32);
        if (lstrcmpiW(name, L"Static") == 0 && !Text(child).empty())
            text = Text(child);
    }
    return text;
}

void PressOk(HWND box) {
    if (const HWND ok = GetDlgItem(box, IDOK))
        Click(ok);
    else
        PostMessageW(box, WM_COMMAND, IDOK, 0);
}

namespace {

// Posted to the thread behind what is to be handled first: posted messages keep their order.
constexpr UINT kSettled = WM_APP + 0x3A7;
int settledSeen = 0;

} // namespace

bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    // A timer wakes the wait at least this often, so that `done` is looked at.
    const UINT_PTR waker = SetTimer(nullptr, 0, 20, nullptr);
    while (!done() && std::chrono::steady_clock::now() < deadline) {
        MSG message;
        if (GetMessageW(&message, nullptr, 0, 0) <= 0)
            break;
        if (!message.hwnd && message.message == kSettled)
            ++settledSeen;
        else
            TFormWindow::DispatchThreadMessage(message);
    }
    KillTimer(nullptr, waker);
    return done();
}

bool Settle(std::chrono::milliseconds limit) {
    const int seen = settledSeen;
    PostThreadMessageW(GetCurrentThreadId(), kSettled, 0, 0);
    return PumpUntil([seen] { return settledSeen > seen; }, limit);
}

// The modal script.

std::map<HWND, int> TModalScript::showings_;
TModalScript* TModalScript::current_ = nullptr;

TModalScript::TModalScript(std::chrono::milliseconds limit)
    : deadline_(std::chrono::steady_clock::now() + limit) {
    current_ = this;
    // Each showing of a window counts, so that a dialog shown again is answered again.
    hook_ = SetWindowsHookExW(WH_CALLWNDPROC, WatchShowing, nullptr, GetCurrentThreadId());
    timer_ = SetTimer(nullptr, 0, 20, Tick);
}

TModalScript::~TModalScript() {
    KillTimer(nullptr, timer_);
    if (hook_)
        UnhookWindowsHookEx(hook_);
    if (current_ == this)
        current_ = nullptr;
    if (!steps_.empty())
        ADD_FAILURE() << steps_.size() << " step(s) of the modal script never ran";
}

TModalScript& TModalScript::Then(Step step) {
    steps_.push_back({std::move(step), nullptr, nullptr});
    return *this;
}

TModalScript& TModalScript::ThenMessage(std::string& text, std::string* title) {
    return Then([&text, title](HWND box) {
        text = MessageText(box);
        if (title)
            *title = Text(box);
        PressOk(box);
    });
}

TModalScript& TModalScript::When(std::function<bool()> condition, std::function<void()> action) {
    steps_.push_back({nullptr, std::move(condition), std::move(action)});
    return *this;
}

bool TModalScript::WaitDone() {
    return PumpUntil([this] { return Done() || failed_; },
                     std::chrono::duration_cast<std::chrono::milliseconds>(
                         deadline_ - std::chrono::steady_clock::now() + 5s)) &&
           !failed_;
}

LRESULT CALLBACK TModalScript::WatchShowing(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HC_ACTION) {
        const auto* call = reinterpret_cast<const CWPSTRUCT*>(lParam);
        if (call->message == WM_SHOWWINDOW && call->wParam)
            ++showings_[call->hwnd];
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

void CALLBACK TModalScript::Tick(HWND, UINT, UINT_PTR, DWORD) {
    if (current_)
        current_->OnTick();
}

HWND TModalScript::NewModal() {
    struct TFound {
        TModalScript* Script;
        HWND Modal = nullptr;
    } found{this};
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND window, LPARAM data) -> BOOL {
            auto* found = reinterpret_cast<TFound*>(data);
            wchar_t name[16] = {};
            GetClassNameW(window, name, 16);
            if (lstrcmpW(name, L"#32770") != 0 || window == TFormWindow::MainWindow() ||
                !IsWindowVisible(window) || !IsWindowEnabled(window))
                return TRUE;
            const auto answered = found->Script->answered_.find(window);
            if (answered != found->Script->answered_.end() && answered->second == showings_[window])
                return TRUE;
            found->Modal = window;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found.Modal;
}

void TModalScript::OnTick() {
    if (failed_)
        return;
    if (std::chrono::steady_clock::now() > deadline_ && !steps_.empty()) {
        failed_ = true;
        answered_.clear(); // whatever is up goes, answered or not
        const HWND up = NewModal();
        ADD_FAILURE() << "the modal script ran out of time with " << steps_.size()
                      << " step(s) left; up now: " << (up ? Text(up) : std::string("nothing"));
        if (up)
            PostMessageW(up, WM_CLOSE, 0, 0);
        return;
    }
    if (steps_.empty()) {
        if (const HWND unexpected = NewModal(); unexpected && running_ == 0) {
            answered_[unexpected] = showings_[unexpected];
            ADD_FAILURE() << "a modal window no step expected: \"" << Text(unexpected) << "\" "
                          << MessageText(unexpected);
            PostMessageW(unexpected, WM_CLOSE, 0, 0);
        }
        return;
    }
    TStep& next = steps_.front();
    if (next.Condition) {
        if (!next.Condition())
            return;
        const std::function<void()> action = std::move(next.Action);
        steps_.pop_front();
        ++running_;
        action();
        --running_;
        return;
    }
    const HWND modal = NewModal();
    if (!modal)
        return;
    answered_[modal] = showings_[modal];
    const Step step = std::move(next.OnModal);
    steps_.pop_front();
    // A step may open the next modal window: its loop brings the next tick, and the next step.
    ++running_;
    step(modal);
    --running_;
}

// Pictures.

int TPicture::Count(const RECT& area, uint32_t colour) const {
    int count = 0;
    for (int y = std::max(0, int(area.top)); y < std::min(Height, int(area.bottom)); ++y)
        for (int x = std::max(0, int(area.left)); x < std::min(Width, int(area.right)); ++x)
            count += At(x, y) == colour;
    return count;
}

TPicture Capture(HWND window) {
    RedrawWindow(window, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
    RECT frame{};
    GetWindowRect(window, &frame);
    TPicture picture;
    picture.Width = frame.right - frame.left;
    picture.Height = frame.bottom - frame.top;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = picture.Width;
    info.bmiHeader.biHeight = -picture.Height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    const HDC source = GetWindowDC(window);
    const HDC memory = CreateCompatibleDC(source);
    void* bits = nullptr;
    const HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    const HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, picture.Width, picture.Height, source, 0, 0, SRCCOPY);
    GdiFlush();
    const auto* pixels = static_cast<const uint32_t*>(bits);
    picture.Pixels.assign(pixels, pixels + size_t(picture.Width) * size_t(picture.Height));
    for (uint32_t& p : picture.Pixels)
        p &= 0xFFFFFF;
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(window, source);
    return picture;
}

RECT PlaceIn(HWND window, HWND control) {
    RECT frame{}, place{};
    GetWindowRect(window, &frame);
    GetWindowRect(control, &place);
    OffsetRect(&place, -frame.left, -frame.top);
    return place;
}

namespace {

uint32_t Crc32(const uint8_t* data, size_t size, uint32_t crc = 0) {
    crc = ~crc;
    for (size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = crc & 1 ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
    }
    return ~crc;
}

void PutBig(std::vector<uint8_t>& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(uint8_t(value >> shift));
}

void Chunk(std::vector<uint8_t>& png, const char* type, const std::vector<uint8_t>& data) {
    PutBig(png, uint32_t(data.size()));
    std::vector<uint8_t> body(type, type + 4);
    body.insert(body.end(), data.begin(), data.end());
    png.insert(png.end(), body.begin(), body.end());
    PutBig(png, Crc32(body.data(), body.size()));
}

} // namespace

// RGB, its rows in stored (uncompressed) deflate blocks: no library needed.
bool SavePng(const TPicture& picture, const std::string& path) {
    std::vector<uint8_t> raw;
    for (int y = 0; y < picture.Height; ++y) {
        raw.push_back(0); // no filter
        for (int x = 0; x < picture.Width; ++x) {
            const uint32_t p = picture.At(x, y);
            raw.insert(raw.end(), {uint8_t(p >> 16), uint8_t(p >> 8), uint8_t(p)});
        }
    }
    std::vector<uint8_t> zlib{0x78, 0x01};
    for (size_t at = 0; at < raw.size() || at == 0; at += 65535) {
        const size_t size = std::min<size_t>(65535, raw.size() - at);
        zlib.push_back(at + size >= raw.size() ? 1 : 0);
        zlib.insert(zlib.end(),
                    {uint8_t(size), uint8_t(size >> 8), uint8_t(~size), uint8_t(~size >> 8)});
        zlib.insert(zlib.end(), raw.begin() + long(at), raw.begin() + long(at + size));
        if (raw.empty())
            break;
    }
    uint32_t a = 1, b = 0;
    for (const uint8_t byte : raw) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    PutBig(zlib, b << 16 | a);

    std::vector<uint8_t> png{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<uint8_t> header;
    PutBig(header, uint32_t(picture.Width));
    PutBig(header, uint32_t(picture.Height));
    header.insert(header.end(), {8, 2, 0, 0, 0}); // 8 bits, RGB
    Chunk(png, "IHDR", header);
    Chunk(png, "IDAT", zlib);
    Chunk(png, "IEND", {});
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        return false;
    const bool written = std::fwrite(png.data(), 1, png.size(), file) == png.size();
    return std::fclose(file) == 0 && written;
}

} // namespace orv::test
