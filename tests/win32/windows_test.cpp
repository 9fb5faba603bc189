// The program's Win32 windows, run in this process under Wine and driven as an operator would:
// what only the windows can get wrong, the rules themselves being the forms' (tests/forms).
// Titles, drawing and colours (high contrast too), what screen readers get, the keyboard, modal
// behaviour and the taskbar, the connect dialog's ways out, the layout at another DPI, long
// paths and the end of the session. With ORV_WINDOW_PNG_DIR set, each window is saved there as
// a picture (scripts/windows-screenshots); with ORV_WINDOW_HIGH_CONTRAST set, in high contrast.

#include "common/wide_text.h"
#include "form_fakes.h"
#include "pty.h"
#include "test_images.h"
#include "win32/application.h"
#include "window_driver.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <oleacc.h>

namespace orv {
namespace {

using namespace test;

// A colour as the windows draw it now: their own, or the system's in high contrast.
uint32_t Drawn(COLORREF own, int system) {
    const COLORREF colour = TColour{own, system}.Now();
    return uint32_t(GetRValue(colour)) << 16 | uint32_t(GetGValue(colour)) << 8 | GetBValue(colour);
}

// What a screen reader reads of a window's client area: its name, role and value.
struct TAccessible {
    std::string Name, Value;
    long Role = 0;
};
TAccessible ReadAccessible(HWND window) {
    TAccessible read;
    IAccessible* object = nullptr;
    if (FAILED(AccessibleObjectFromWindow(window, DWORD(OBJID_CLIENT), __uuidof(IAccessible),
                                          reinterpret_cast<void**>(&object))))
        return read;
    VARIANT self{};
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    VARIANT role{};
    for (auto [get, text] : {std::pair{&IAccessible::get_accName, &read.Name},
                             std::pair{&IAccessible::get_accValue, &read.Value}}) {
        BSTR got = nullptr;
        if (SUCCEEDED((object->*get)(self, &got)) && got)
            *text = ToUtf8(got);
        SysFreeString(got);
    }
    if (SUCCEEDED(object->get_accRole(self, &role)) && role.vt == VT_I4)
        read.Role = role.lVal;
    object->Release();
    return read;
}

// The pixel of a COLORREF in a captured picture.
uint32_t Pixel(COLORREF colour) {
    return uint32_t(GetRValue(colour)) << 16 | uint32_t(GetGValue(colour)) << 8 | GetBValue(colour);
}

RECT ClientRectOf(HWND window) {
    RECT r{};
    GetClientRect(window, &r);
    return r;
}

RECT WindowRectOf(HWND window) {
    RECT r{};
    GetWindowRect(window, &r);
    return r;
}

int MenuBarHeight(HWND window) {
    MENUBARINFO bar{};
    bar.cbSize = sizeof bar;
    return GetMenu(window) && GetMenuBarInfo(window, OBJID_MENU, 0, &bar)
               ? bar.rcBar.bottom - bar.rcBar.top
               : 0;
}

LONG FontHeight(HWND control) {
    LOGFONTW font{};
    GetObjectW(reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)), sizeof font,
               &font);
    return font.lfHeight;
}

// Every static text and button text of `window` fits its control, in the control's own font.
void ExpectTextsFit(HWND window) {
    for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        wchar_t name[32] = {};
        GetClassNameW(child, name, 32);
        const bool button = lstrcmpiW(name, L"Button") == 0;
        const LONG_PTR style = GetWindowLongPtrW(child, GWL_STYLE);
        if ((!button && lstrcmpiW(name, L"Static") != 0) || (button && (style & BS_ICON)))
            continue;
        std::wstring text = WideText(Text(child));
        std::erase(text, L'&');
        if (text.empty())
            continue;
        const HDC dc = GetDC(child);
        const HGDIOBJ old =
            SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(child, WM_GETFONT, 0, 0)));
        RECT need{0, 0, ClientRectOf(child).right, 0};
        // Wrapping statics may take more lines; the rest must fit on one.
        const bool wraps = !button && !(style & SS_CENTERIMAGE) && ClientRectOf(child).bottom > 20;
        DrawTextW(dc, text.c_str(), int(text.size()), &need,
                  DT_CALCRECT | DT_NOPREFIX | (wraps ? DT_WORDBREAK : DT_SINGLELINE));
        SelectObject(dc, old);
        ReleaseDC(child, dc);
        const RECT have = ClientRectOf(child);
        EXPECT_LE(need.right + (button ? 8 : 0), have.right) << Text(child);
        EXPECT_LE(need.bottom, have.bottom) << Text(child);
    }
}

void SaveIfAsked(HWND window, const char* name) {
    if (const char* folder = std::getenv("ORV_WINDOW_PNG_DIR"); folder && *folder) {
        EXPECT_TRUE(SavePng(Capture(window), std::string(folder) + "/win32-" + name + ".png"));
    }
}

class Win32Windows : public ::testing::Test {
protected:
    void SetUp() override {
        if (const char* contrast = std::getenv("ORV_WINDOW_HIGH_CONTRAST"); contrast && *contrast)
            OverrideHighContrast(true);
        app_ = std::make_unique<TOrvWin32Application>(
            std::make_unique<fakes::MemoryRegStore>(stored_));
        app_->LinePort.PortSource = [this] { return ports_; };
    }
    void TearDown() override {
        app_.reset();
        OverrideHighContrast(std::nullopt);
    }

    void ShowMain() {
        app_->fmStartup->Centre();
        ShowWindow(app_->fmStartup->Handle(), SW_SHOW);
        SetForegroundWindow(app_->fmStartup->Handle());
        Settle();
    }

    std::string Stored(const char* name) {
        const auto& values = stored_->keys[kRegKeyPath];
        const auto found = values.find(name);
        return found == values.end() ? "" : std::get<std::string>(found->second);
    }

    std::shared_ptr<fakes::StoredValues> stored_ = std::make_shared<fakes::StoredValues>();
    std::unique_ptr<TOrvWin32Application> app_;
    std::vector<std::string> ports_{"COM77: (Orv test port)", "COM3"};
};

// Each title is exactly its caption, message boxes carry the program's and belong to the main
// window; the texts fit their controls; the title panels, the status window's values and the
// update window's status line are drawn in their colours; the gauge reads as a progress bar.
TEST_F(Win32Windows, TitlesTextsAndColours) {
    TOrvWin32Application& app = *app_;
    const std::pair<TFormWindow*, const char*> captions[] = {
        {app.fmStartup.get(), "Orv OS update"},
        {app.fmUpdate.get(), "Update Orv OS"},
        {app.fmStatus.get(), ""},
        {app.fmStopPLC.get(), "fmStopPLC"},
        {app.fmAbout.get(), "About"},
        {app.fmOpen.get(), "Connect PLC"},
        {app.fmSpeed.get(), "Update Download Speed"}};
    for (const auto& [window, caption] : captions)
        EXPECT_EQ(Text(window->Handle()), caption);
    EXPECT_EQ(Text(app.fmStartup->Panel1), "Orv PLC  OS update Utility          V1.61");

    ShowMain();
    ExpectTextsFit(app.fmStartup->Handle());
    const TPicture main = Capture(app.fmStartup->Handle());
    const RECT panel = PlaceIn(app.fmStartup->Handle(), app.fmStartup->Panel1);
    EXPECT_GT(main.Count(panel, Drawn(RGB(0, 0, 255), COLOR_BTNTEXT)), 50) << "title text";
    EXPECT_GT(main.Count(panel, Drawn(RGB(192, 192, 192), COLOR_BTNFACE)), 1000) << "title panel";
    SaveIfAsked(app.fmStartup->Handle(), "fmStartup");

    std::string boxTitle, boxText;
    HWND boxOwner = nullptr;
    TModalScript script;
    script
        .Then([&](HWND box) {
            boxOwner = GetWindow(box, GW_OWNER);
            boxTitle = Text(box);
            boxText = MessageText(box);
            PressOk(box);
        })
        .Then([&](HWND status) {
            EXPECT_EQ(status, app.fmStatus->Handle());
            ExpectTextsFit(status);
            const TPicture picture = Capture(status);
            const RECT version = PlaceIn(status, app.fmStatus->stVersion);
            EXPECT_GT(picture.Count(version, Drawn(RGB(255, 0, 0), COLOR_WINDOWTEXT)), 10)
                << "value text";
            if (GetSysColor(COLOR_BTNFACE) != GetSysColor(COLOR_WINDOW)) {
                EXPECT_EQ(picture.Count(version, Pixel(GetSysColor(COLOR_BTNFACE))), 0)
                    << "the values stand on the window colour of their panel";
            }
            const RECT title = PlaceIn(status, app.fmStatus->pnStatus);
            EXPECT_GT(picture.Count(title, Drawn(RGB(0, 0, 255), COLOR_BTNTEXT)), 50);
            SaveIfAsked(status, "fmStatus");
            Click(app.fmStatus->BitBtn1);
        })
        .Then([&](HWND update) {
            EXPECT_EQ(update, app.fmUpdate->Handle());
            app.fmUpdate->SetFileText("C:\\Users\\op\\os\\orv-1.61.os");
            app.fmUpdate->SetPanelStatus("Comm. No response abandon update");
            app.fmUpdate->SetStatusBar("Change Download Baud .. Try #4");
            app.fmUpdate->SetGauge(42);
            EXPECT_EQ(StatusText(app.fmUpdate->sbStatus), "Change Download Baud .. Try #4");
            ExpectTextsFit(update);
            const TPicture picture = Capture(update);
            const uint32_t navy = Drawn(RGB(0, 0, 128), COLOR_BTNTEXT);
            EXPECT_GT(picture.Count(PlaceIn(update, app.fmUpdate->pnlStatus), navy), 100)
                << "status line";
            EXPECT_GT(picture.Count(PlaceIn(update, app.fmUpdate->prbMain.Handle()),
                                    Drawn(RGB(0, 0, 128), COLOR_HIGHLIGHT)),
                      1000)
                << "the gauge's bar";
            const TAccessible gauge = ReadAccessible(app.fmUpdate->prbMain.Handle());
            EXPECT_EQ(gauge.Name, "Progress");
            EXPECT_EQ(gauge.Role, ROLE_SYSTEM_PROGRESSBAR);
            EXPECT_EQ(gauge.Value, "42 %");
            SaveIfAsked(update, "fmUpdate");
            Click(app.fmUpdate->btExit);
        });
    const std::pair<HWND, const char*> rest[] = {{app.fmStopPLC->Handle(), "fmStopPLC"},
                                                 {app.fmAbout->Handle(), "fmAbout"},
                                                 {app.fmOpen->Handle(), "fmOpen"},
                                                 {app.fmSpeed->Handle(), "fmSpeed"}};
    for (const auto& [w, name] : rest) {
        script.Then([w, name](HWND modal) {
            EXPECT_EQ(modal, w) << Text(modal);
            ExpectTextsFit(modal);
            SaveIfAsked(modal, name);
            PostMessageW(modal, WM_CLOSE, 0, 0);
        });
    }
    ShowMessageBox(nullptr, "Get PLC Status Fail !!");
    app.fmStatus->SetValues("1.61", "12/2099", "AT29C020");
    app.fmStatus->ShowModal();
    app.fmUpdate->ShowModal();
    app.fmStopPLC->ShowModal();
    app.fmAbout->ShowModal();
    app.fmOpen->ShowModal();
    app.fmSpeed->ShowModal();
    EXPECT_TRUE(script.WaitDone());
    EXPECT_EQ(boxTitle, kAppTitle);
    EXPECT_EQ(boxText, "Get PLC Status Fail !!");
    EXPECT_EQ(boxOwner, app.fmStartup->Handle()) << "a box of no window goes with the main one";
}

// The main window: its mnemonics and default button, the menu, and the modal windows above it.
// The about box, shown while the main window hides, stands alone in the taskbar; the main window
// shown meanwhile (as a PLC's status brings it back) takes no input beneath it.
TEST_F(Win32Windows, MainWindowKeyboardAndModalWindows) {
    TOrvWin32Application& app = *app_;
    const HWND main = app.fmStartup->Handle();
    ShowMain();

    bool mainHidden = false, mainDisabled = false, alone = false, heldBeneath = false;
    HWND owner = nullptr;
    int answered = 0;
    TModalScript script;
    script
        .Then([&](HWND about) {
            EXPECT_EQ(about, app.fmAbout->Handle());
            mainHidden = !IsWindowVisible(main);
            alone = !GetWindow(about, GW_OWNER) &&
                    (GetWindowLongPtrW(about, GWL_EXSTYLE) & WS_EX_APPWINDOW) &&
                    SendMessageW(about, WM_GETICON, ICON_BIG, 0);
            app.fmStartup->SetVisible(true);
            heldBeneath = !IsWindowEnabled(main);
            app.fmStartup->SetVisible(false);
            ++answered;
            PressKey(about, VK_ESCAPE);
        })
        .Then([&](HWND open) {
            EXPECT_EQ(open, app.fmOpen->Handle());
            mainDisabled = !IsWindowEnabled(main);
            owner = GetWindow(open, GW_OWNER);
            ++answered;
            PressKey(open, VK_ESCAPE);
        })
        .Then([&](HWND open) {
            EXPECT_EQ(open, app.fmOpen->Handle()) << "Enter presses \"Get PLC's Status\"";
            ++answered;
            PostMessageW(open, WM_CLOSE, 0, 0);
        });
    const auto backAtMain = [&](int steps) {
        return PumpUntil(
            [&] { return answered == steps && IsWindowVisible(main) && IsWindowEnabled(main); });
    };
    PressAltKey(main, L'a'); // the menu's "About"
    EXPECT_TRUE(backAtMain(1));
    PressAltKey(main, L'g');
    EXPECT_TRUE(backAtMain(2));
    PressKey(main, VK_RETURN);
    EXPECT_TRUE(script.WaitDone());
    EXPECT_TRUE(mainHidden) << "hidden while the about box is up";
    EXPECT_TRUE(alone) << "unowned, with a taskbar button and the program's icon";
    EXPECT_TRUE(heldBeneath);
    EXPECT_TRUE(IsWindowVisible(main));
    EXPECT_TRUE(mainDisabled) << "the connect dialog is modal";
    EXPECT_EQ(owner, main);
    EXPECT_FALSE(GetWindowLongPtrW(app.fmOpen->Handle(), GWL_EXSTYLE) & WS_EX_APPWINDOW);
    EXPECT_TRUE(IsWindowEnabled(main));

    // Alt+X: "Exit".
    PressAltKey(main, L'x');
    EXPECT_TRUE(PumpUntil([&] { return app.fmStartup->Closed(); }, 10s));
    EXPECT_FALSE(IsWindowVisible(main));
}

// Tab goes through the connect dialog's fields as they are laid out; Escape and the close box
// leave it as a cancel, with no status query; Enter connects, and a port that cannot be opened
// is shown by the error display; a refusal's box closing lists the ports again.
TEST_F(Win32Windows, ConnectDialogKeysAndWaysOut) {
    TOrvWin32Application& app = *app_;
    TfmOpen& open = *app.fmOpen;
    ShowMain();

    std::vector<int> order;
    TModalScript script;
    script.Then([&](HWND dialog) {
        for (int i = 0; i < 6; ++i) {
            order.push_back(FocusId(dialog));
            PressKey(dialog, VK_TAB);
            PumpUntil([&] { return FocusId(dialog) != order.back(); }, 5s);
        }
        PressKey(dialog, VK_ESCAPE);
    });
    Click(app.fmStartup->Button1);
    EXPECT_TRUE(script.WaitDone());
    EXPECT_EQ(order,
              (std::vector<int>{TfmOpen::idcbPort, TfmOpen::idcbBaudRate, TfmOpen::idedStation,
                                TfmOpen::idcbParity, TfmOpen::idcbDataBit, TfmOpen::idButton1}));
    EXPECT_FALSE(IsWindowVisible(open.Handle()));
    EXPECT_EQ(app.Forms->Dispatch.PortOpened, 0) << "Escape is a cancel";
    EXPECT_FALSE(app.fmStartup->tmTimeOut.Enabled());

    EXPECT_TRUE(GetWindowLongPtrW(open.Handle(), GWL_STYLE) & WS_SYSMENU) << "a close box";
    script.Then([](HWND dialog) { PostMessageW(dialog, WM_CLOSE, 0, 0); });
    Click(app.fmStartup->Button1);
    EXPECT_TRUE(script.WaitDone());
    EXPECT_EQ(app.Forms->Dispatch.PortOpened, 0) << "the close box is a cancel";

    // Enter: "Connect PLC" with what was chosen; COM77 is not there to be opened.
    std::string error;
    script
        .Then([&](HWND dialog) {
            EXPECT_TRUE(Choose(open.cbPort, "COM77: (Orv test port)"));
            EXPECT_TRUE(Choose(open.cbBaudRate, "57600"));
            EXPECT_TRUE(Choose(open.cbParity, "ODD"));
            EXPECT_TRUE(Choose(open.cbDataBit, "7"));
            SetText(open.edStation, "31");
            SetFocus(open.cbParity);
            PressKey(dialog, VK_RETURN);
        })
        .ThenMessage(error);
    Click(app.fmStartup->Button1);
    EXPECT_TRUE(script.WaitDone());
    EXPECT_EQ(app.Comm.CommName, "COM77");
    EXPECT_EQ(app.Comm.BaudRate(), 57600u);
    EXPECT_EQ(app.Comm.Parity(), TParity::Odd);
    EXPECT_EQ(app.Forms->Station.StationHex, "1F");
    EXPECT_EQ(error.rfind("Error opening serial port", 0), 0u) << error;
    EXPECT_TRUE(IsWindowVisible(app.fmStartup->Handle()));
    EXPECT_TRUE(IsWindowEnabled(app.fmStartup->Handle()));

    // No port: the refusal's box; an adapter plugged in meanwhile is listed once it closes.
    ports_.clear();
    std::string refusal;
    std::vector<std::string> listed;
    script.Then([&](HWND) { Click(open.Button1); })
        .Then([&](HWND box) {
            refusal = MessageText(box);
            ports_ = {"COM9: (Orv USB)"};
            PressOk(box);
        })
        .When([&] { return IsWindowEnabled(open.Handle()) && !Entries(open.cbPort).empty(); },
              [&] {
                  listed = Entries(open.cbPort);
                  PostMessageW(open.Handle(), WM_CLOSE, 0, 0);
              });
    Click(app.fmStartup->Button1);
    EXPECT_TRUE(script.WaitDone());
    EXPECT_EQ(refusal, "Choose a COM port: none is present");
    EXPECT_EQ(listed, (std::vector<std::string>{"COM9: (Orv USB)"}));
}

// The update window: Escape does nothing; when a run ends, the focus goes from Abort to Exit,
// not into the file box; Exit closes it while idle. The stop question's Enter and Escape answer
// No, only its Yes stops the PLC.
TEST_F(Win32Windows, UpdateWindowAndStopQuestionKeys) {
    TOrvWin32Application& app = *app_;
    TfmUpdate& update = *app.fmUpdate;
    bool stayed = false;
    HWND focusAfterRun = nullptr;
    TModalScript script;
    script.Then([&](HWND window) {
        PressKey(window, VK_ESCAPE);
        stayed = Settle() && IsWindowVisible(window);
        EXPECT_TRUE(IsWindowEnabled(update.btDUReroro));
        EXPECT_FALSE(IsWindowEnabled(update.btAbort));
        update.SetButtonEnabled(TUpdateButton::btAbort, true);
        for (TUpdateButton b :
             {TUpdateButton::btDUReroro, TUpdateButton::btExit, TUpdateButton::btnOS})
            update.SetButtonEnabled(b, false);
        SetFocus(update.btAbort);
        app.Forms->fmUpdate->btAbortClick();
        focusAfterRun = GetFocus();
        Click(update.btExit);
    });
    update.ShowModal();
    EXPECT_TRUE(script.WaitDone());
    EXPECT_TRUE(stayed);
    EXPECT_EQ(focusAfterRun, update.btExit);

    script.Then([](HWND stop) { PressKey(stop, VK_RETURN); });
    EXPECT_FALSE(app.fmStopPLC->ShowModal());
    script.Then([](HWND stop) { PressKey(stop, VK_ESCAPE); });
    EXPECT_FALSE(app.fmStopPLC->ShowModal());
    script.Then([&](HWND) { Click(app.fmStopPLC->BitBtn1); });
    EXPECT_TRUE(app.fmStopPLC->ShowModal());
    EXPECT_TRUE(script.WaitDone());
}

// Moved to a monitor of twice the DPI, a window takes the rectangle the system suggests from the
// size it asked for (WM_GETDPISCALEDSIZE), where the system puts it, and doubles its client
// area, its controls and their fonts; back, it is as it was.
TEST_F(Win32Windows, FollowsTheDpiOfItsMonitor) {
    TOrvWin32Application& app = *app_;
    for (TFormWindow* window : {static_cast<TFormWindow*>(app.fmOpen.get()),
                                static_cast<TFormWindow*>(app.fmStartup.get())}) {
        const HWND w = window->Handle();
        const HWND button =
            window == app.fmOpen.get() ? app.fmOpen->Button1 : app.fmStartup->Button2;
        ASSERT_EQ(window->Dpi(), 96u) << "these tests run at 96 DPI";
        const RECT client = ClientRectOf(w), place = PlaceIn(w, button);
        const LONG font = FontHeight(button);
        const int menuBar = MenuBarHeight(w);
        SIZE size{};
        EXPECT_TRUE(SendMessageW(w, WM_GETDPISCALEDSIZE, 192, reinterpret_cast<LPARAM>(&size)));
        const RECT before = WindowRectOf(w);
        RECT suggested{before.left + 40, before.top + 30, before.left + 40 + size.cx,
                       before.top + 30 + size.cy};
        SendMessageW(w, WM_DPICHANGED, MAKEWPARAM(192, 192), reinterpret_cast<LPARAM>(&suggested));
        const RECT after = WindowRectOf(w);
        // Wine draws the title bar unscaled, so the height the system asked for holds more frame
        // than Wine draws, and the window keeps only the client area it needs.
        EXPECT_EQ(std::vector({after.left, after.top, after.right}),
                  std::vector({suggested.left, suggested.top, suggested.right}))
            << Text(w);
        EXPECT_EQ(ClientRectOf(w).right, 2 * client.right) << Text(w);
        // The main window's height holds its menu bar, which Wine does not scale.
        EXPECT_EQ(ClientRectOf(w).bottom + MenuBarHeight(w), 2 * (client.bottom + menuBar))
            << Text(w);
        const RECT doubled = ClientRectOf(button);
        EXPECT_EQ(doubled.right, 2 * (place.right - place.left)) << Text(button);
        EXPECT_EQ(doubled.bottom, 2 * (place.bottom - place.top)) << Text(button);
        EXPECT_EQ(FontHeight(button), 2 * font) << Text(button);
        SendMessageW(w, WM_DPICHANGED, MAKEWPARAM(96, 96), reinterpret_cast<LPARAM>(&before));
        EXPECT_EQ(ClientRectOf(w).right, client.right);
        EXPECT_EQ(ClientRectOf(button).right, place.right - place.left);
        EXPECT_EQ(FontHeight(button), font);
    }
}

// High contrast switched on while the program runs (WM_SYSCOLORCHANGE): the status line and the
// gauge take the system's colours; off again, their own. Wine has no high contrast
// (SPI_SETHIGHCONTRAST fails there), so the program is then told directly.
TEST_F(Win32Windows, HighContrastTakesTheSystemColours) {
    TfmUpdate& update = *app_->fmUpdate;
    HIGHCONTRASTW contrast{sizeof contrast, HCF_HIGHCONTRASTON, nullptr};
    const bool bySystem = SystemParametersInfoW(SPI_SETHIGHCONTRAST, sizeof contrast, &contrast, 0);
    const auto colours = [&](bool on) {
        if (!bySystem)
            OverrideHighContrast(on);
        contrast.dwFlags = on ? HCF_HIGHCONTRASTON : 0;
        if (bySystem)
            SystemParametersInfoW(SPI_SETHIGHCONTRAST, sizeof contrast, &contrast, 0);
        SendMessageW(update.Handle(), WM_SYSCOLORCHANGE, 0, 0);
        update.SetPanelStatus("Comm. Aborted!!");
        const TPicture picture = Capture(update.Handle());
        return std::pair{picture.Count(PlaceIn(update.Handle(), update.pnlStatus), 0x000080),
                         update.prbMain.ForeColor()};
    };
    ShowWindow(update.Handle(), SW_SHOWNA);
    const auto [navyOn, barOn] = colours(true);
    EXPECT_EQ(navyOn, 0) << "no navy text on the theme's button face";
    EXPECT_EQ(barOn, GetSysColor(COLOR_HIGHLIGHT));
    const auto [navyOff, barOff] = colours(false);
    EXPECT_GT(navyOff, 100);
    EXPECT_EQ(barOff, RGB(0, 0, 128));
    ShowWindow(update.Handle(), SW_HIDE);
}

// Screen readers hear the gauge's new value and the status line's new text.
TEST_F(Win32Windows, ValueAndStatusChangesAreTold) {
    static std::vector<std::pair<DWORD, HWND>> told;
    told.clear();
    const HWINEVENTHOOK hook = SetWinEventHook(
        EVENT_OBJECT_VALUECHANGE, EVENT_OBJECT_LIVEREGIONCHANGED, nullptr,
        [](HWINEVENTHOOK, DWORD event, HWND window, LONG, LONG, DWORD, DWORD) {
            told.emplace_back(event, window);
        },
        GetCurrentProcessId(), 0, WINEVENT_OUTOFCONTEXT);
    app_->fmUpdate->SetGauge(42);
    app_->fmUpdate->SetPanelStatus("page #7");
    Settle();
    UnhookWinEvent(hook);
    EXPECT_NE(std::ranges::find(told, std::pair{DWORD(EVENT_OBJECT_VALUECHANGE),
                                                app_->fmUpdate->prbMain.Handle()}),
              told.end());
    EXPECT_NE(std::ranges::find(told, std::pair{DWORD(EVENT_OBJECT_LIVEREGIONCHANGED),
                                                app_->fmUpdate->pnlStatus}),
              told.end());
}

// An image on a path of 300 characters opens, as the file dialog may give it; past MAX_PATH
// the program opens it in the \\?\ form, which Windows takes without a policy. (Wine has no
// such limit: there it opens either way.)
TEST_F(Win32Windows, OpensAnImageOnAPathOf300Characters) {
    namespace fs = std::filesystem;
    const fs::path top = fs::temp_directory_path() / "orv-long-path";
    fs::path folder = top;
    while (folder.native().size() < 290)
        folder /= std::wstring(30, L'd');
    fs::create_directories(folder);
    const std::string image = test::WritePlainImageFile(folder / "orv-1.61-image.bin");
    ASSERT_GE(image.size(), 300u);
    std::wstring opened;
    ASSERT_TRUE(ToWidePath(image, opened));
    EXPECT_EQ(opened.rfind(L"\\\\?\\", 0), 0u);
    app_->fmUpdate->SetFileText(image);
    app_->Forms->fmUpdate->ShowImageInfo(false);
    EXPECT_EQ(Text(app_->fmStatus->stVersion), "1.61");
    DeleteFileW(opened.c_str());
    for (fs::path made = folder; made != top.parent_path(); made = made.parent_path())
        RemoveDirectoryW((L"\\\\?\\" + made.native()).c_str());
}

// Asked whether the session may end: idle, yes, with the settings saved first; with the PLC's
// speed to restore, no. Ending anyway, the program sends the restore-speed command and closes,
// its settings saved, before Windows' 5 s are up.
TEST_F(Win32Windows, SessionEndSavesAndWaitsForTheRestore) {
    const HWND main = app_->fmStartup->Handle();
    SetText(app_->fmOpen->edStation, "12");
    EXPECT_EQ(SendMessageW(main, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF), TRUE);
    EXPECT_EQ(Stored("Station"), "12");
    UpdateSequence& run = app_->Forms->fmUpdate->Sequence();
    run.SpeedChanged = true;
    EXPECT_EQ(SendMessageW(main, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF), FALSE);
    SetText(app_->fmOpen->edStation, "13");
    const auto start = std::chrono::steady_clock::now();
    SendMessageW(main, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    EXPECT_FALSE(run.SpeedChanged) << "the restore-speed command went out";
    EXPECT_TRUE(app_->fmStartup->Closed());
    EXPECT_EQ(Stored("Station"), "13");
}

// A block that comes while a message box opened by the previous block's handler is up is
// delivered inside that box's loop, nested, and the interrupted block stays valid.
TEST(Win32CommSink, HandlerInAMessageBoxReceivesTheNextBlockNested) {
    test::TPty pty;
    TWin32Comm comm;
    comm.CommName = pty.SlavePath;
    comm.SetReadIntervalTimeout(30);
    int depth = 0;
    std::vector<std::pair<std::string, int>> seen; // text and nesting depth
    std::string interrupted;
    comm.OnReceiveData = [&](TComm*, const uint8_t* buffer, uint16_t length) {
        const std::string text(reinterpret_cast<const char*>(buffer), length);
        seen.emplace_back(text, ++depth);
        if (text == "first") {
            ShowMessageBox(nullptr, "first");
            interrupted.assign(reinterpret_cast<const char*>(buffer), length);
        }
        --depth;
    };
    HWND box = nullptr;
    TModalScript script(10s);
    script
        .Then([&](HWND up) {
            box = up;
            pty.Write("second");
        })
        .When([&] { return seen.size() >= 2; }, [&] { PressOk(box); });
    comm.StartComm();
    pty.Write("first");
    EXPECT_TRUE(script.WaitDone());
    EXPECT_TRUE(PumpUntil([&] { return depth == 0 && !interrupted.empty(); }, 5s));
    const std::vector<std::pair<std::string, int>> expected{{"first", 1}, {"second", 2}};
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(interrupted, "first");
    comm.StopComm();
}

// Against orv-plcsim: run by flash_wine_test, a Linux program, which starts the simulator
// (station 10, OS 1.61 of 03/2010, flash type 2, 9600 7E1, running), maps its pseudo-terminal
// as the COM port named in ORV_PLCSIM_COM, and compares its flash with ORV_PLCSIM_IMAGE after
// this has ended. Left out of this program's own CTest run (GTEST_FILTER).
class Win32WithPlcSim : public Win32Windows {
protected:
    void SetUp() override {
        for (const char* name : {"ORV_PLCSIM_COM", "ORV_PLCSIM_IMAGE"})
            ASSERT_NE(std::getenv(name), nullptr) << name << " unset: run by flash_wine_test";
        Win32Windows::SetUp();
        ports_ = {std::getenv("ORV_PLCSIM_COM")};
        // Blocks handed over sooner than a real line needs: the pages go faster.
        app_->Comm.SetReadIntervalTimeout(10);
    }
};

// "Get PLC's Status", then a whole update of the running PLC: the stop question answered Yes,
// the pages out, "Exit" restoring the speed.
TEST_F(Win32WithPlcSim, StatusThenWholeUpdateWithTheStopQuestionAnsweredYes) {
    TOrvWin32Application& app = *app_;
    TfmOpen& open = *app.fmOpen;
    ShowMain();

    std::string title, version, date, flash;
    bool mainHidden = false;
    TModalScript script(60s);
    script
        .Then([&](HWND) {
            EXPECT_TRUE(Choose(open.cbPort, ports_.front()));
            EXPECT_TRUE(Choose(open.cbBaudRate, "9600"));
            EXPECT_TRUE(Choose(open.cbParity, "EVEN"));
            EXPECT_TRUE(Choose(open.cbDataBit, "7"));
            SetText(open.edStation, "10");
            Click(open.Button1);
        })
        .Then([&](HWND status) {
            EXPECT_EQ(status, app.fmStatus->Handle()) << Text(status) << MessageText(status);
            mainHidden = !IsWindowVisible(app.fmStartup->Handle());
            title = Text(app.fmStatus->pnStatus);
            version = Text(app.fmStatus->stVersion);
            date = Text(app.fmStatus->stDate);
            flash = Text(app.fmStatus->stFlash);
            Click(app.fmStatus->BitBtn1);
        });
    Click(app.fmStartup->Button1);
    ASSERT_TRUE(script.WaitDone());
    EXPECT_TRUE(mainHidden);
    EXPECT_EQ(title, "PLC Status");
    EXPECT_EQ(version, "1.61");
    EXPECT_EQ(date, "03/2010");
    EXPECT_EQ(flash, "AT29C020");
    ASSERT_TRUE(IsWindowEnabled(app.fmStartup->btNext));

    TfmUpdate& update = *app.fmUpdate;
    bool stopAsked = false;
    std::string panel, bar;
    HWND focus = nullptr;
    script
        .Then([&](HWND modal) {
            ASSERT_EQ(modal, update.Handle());
            SetText(update.edtOSFile, std::getenv("ORV_PLCSIM_IMAGE"));
            Click(update.btDUReroro);
        })
        .Then([&](HWND stop) {
            stopAsked = stop == app.fmStopPLC->Handle();
            Click(app.fmStopPLC->BitBtn1);
        })
        .When(
            [&] {
                return IsWindowEnabled(update.btDUReroro) &&
                       TFormWindow::InnermostModal() == &update;
            },
            [&] {
                panel = Text(update.pnlStatus);
                bar = StatusText(update.sbStatus);
                focus = GetFocus();
                Click(update.btExit); // the restore command; its reply closes the window
            });
    Click(app.fmStartup->btNext);
    EXPECT_TRUE(script.WaitDone());
    EXPECT_TRUE(stopAsked);
    EXPECT_EQ(panel, "DU Reroro ... OK!!") << bar;
    EXPECT_EQ(focus, update.btExit) << "the next step, not the file box";
    EXPECT_TRUE(PumpUntil([&] { return !IsWindowVisible(update.Handle()); }, 10s));
    EXPECT_EQ(app.Forms->fmUpdate->Sequence().UpdateState, UpdateSequence::Idle);
}

// wineboot --end-session asks every program of the session, as a log-off does: with the PLC's
// speed to restore, this one holds the session up and goes on. Run alone by a CTest of its
// own, since the session's other programs would be ended.
using Win32SessionEnd = Win32Windows;
TEST_F(Win32SessionEnd, WinebootIsHeldUpWhileARestoreIsDue) {
    ShowMain();
    app_->Forms->fmUpdate->Sequence().SpeedChanged = true;
    wchar_t command[] = L"wineboot.exe --end-session";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    ASSERT_TRUE(CreateProcessW(nullptr, command, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &startup, &process));
    EXPECT_TRUE(
        PumpUntil([&] { return WaitForSingleObject(process.hProcess, 0) == WAIT_OBJECT_0; }));
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    EXPECT_EQ(code, 1u) << "the end of the session refused";
    EXPECT_FALSE(app_->fmStartup->Closed());
    EXPECT_TRUE(app_->Forms->fmUpdate->Sequence().SpeedChanged);
}

} // namespace
} // namespace orv
