// The program's Win32 windows, run in this process under Wine and driven as an operator would:
// what only the windows can get wrong, the rules themselves being the forms' (tests/forms).
// Titles, drawing and colours, the keyboard, modal behaviour, the connect dialog's ways out,
// and the layout at another DPI. With ORV_WINDOW_PNG_DIR set, each window is saved there as a
// picture (scripts/windows-screenshots).

#include "form_fakes.h"
#include "pty.h"
#include "win32/application.h"
#include "window_driver.h"

#include <cstdlib>
#include <gtest/gtest.h>

namespace orv {
namespace {

using namespace test;

std::unique_ptr<RegStore> FreshSettings() {
    return std::make_unique<fakes::MemoryRegStore>(std::make_shared<fakes::StoredValues>());
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
        app_ = std::make_unique<TOrvWin32Application>(FreshSettings());
        app_->LinePort.PortSource = [this] { return ports_; };
    }
    void TearDown() override { app_.reset(); }

    void ShowMain() {
        app_->fmStartup->Centre();
        ShowWindow(app_->fmStartup->Handle(), SW_SHOW);
        SetForegroundWindow(app_->fmStartup->Handle());
        Settle();
    }

    std::unique_ptr<TOrvWin32Application> app_;
    std::vector<std::string> ports_{"COM77: (Orv test port)", "COM3"};
};

// Each title is exactly its caption, message boxes carry the program's; the texts fit their
// controls; the title panels, the status window's values and the update window's status line
// are drawn in their colours.
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
    EXPECT_GT(main.Count(panel, 0x0000FF), 50) << "blue title text";
    EXPECT_GT(main.Count(panel, 0xC0C0C0), 1000) << "grey title panel";
    SaveIfAsked(app.fmStartup->Handle(), "fmStartup");

    std::string boxTitle, boxText;
    TModalScript script;
    script.ThenMessage(boxText, &boxTitle)
        .Then([&](HWND status) {
            EXPECT_EQ(status, app.fmStatus->Handle());
            ExpectTextsFit(status);
            const TPicture picture = Capture(status);
            const RECT version = PlaceIn(status, app.fmStatus->stVersion);
            EXPECT_GT(picture.Count(version, 0xFF0000), 10) << "red value text";
            EXPECT_EQ(picture.Count(version, Pixel(GetSysColor(COLOR_BTNFACE))), 0)
                << "the values stand on the window colour of their panel";
            const RECT title = PlaceIn(status, app.fmStatus->pnStatus);
            EXPECT_GT(picture.Count(title, 0x0000FF), 50);
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
            EXPECT_GT(picture.Count(PlaceIn(update, app.fmUpdate->pnlStatus), 0x000080), 100)
                << "navy status line";
            EXPECT_GT(picture.Count(PlaceIn(update, app.fmUpdate->prbMain.Handle()), 0x000080),
                      1000)
                << "the gauge's navy bar";
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
    ShowMessageBox(app.fmStartup->Handle(), "Get PLC Status Fail !!");
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
}

// The main window: its mnemonics and default button, the menu, and the modal windows above it.
TEST_F(Win32Windows, MainWindowKeyboardAndModalWindows) {
    TOrvWin32Application& app = *app_;
    const HWND main = app.fmStartup->Handle();
    ShowMain();

    bool mainHidden = false, mainDisabled = false;
    HWND owner = nullptr;
    int answered = 0;
    TModalScript script;
    script
        .Then([&](HWND about) {
            EXPECT_EQ(about, app.fmAbout->Handle());
            mainHidden = !IsWindowVisible(main);
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
    EXPECT_TRUE(IsWindowVisible(main));
    EXPECT_TRUE(mainDisabled) << "the connect dialog is modal";
    EXPECT_EQ(owner, main);
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

// The update window: Escape does nothing, Exit closes it while idle; the stop question's Enter
// and Escape answer No, only its Yes stops the PLC.
TEST_F(Win32Windows, UpdateWindowAndStopQuestionKeys) {
    TOrvWin32Application& app = *app_;
    bool stayed = false;
    TModalScript script;
    script.Then([&](HWND update) {
        PressKey(update, VK_ESCAPE);
        stayed = Settle() && IsWindowVisible(update);
        EXPECT_TRUE(IsWindowEnabled(app.fmUpdate->btDUReroro));
        EXPECT_FALSE(IsWindowEnabled(app.fmUpdate->btAbort));
        Click(app.fmUpdate->btExit);
    });
    app.fmUpdate->ShowModal();
    EXPECT_TRUE(script.WaitDone());
    EXPECT_TRUE(stayed);

    script.Then([](HWND stop) { PressKey(stop, VK_RETURN); });
    EXPECT_FALSE(app.fmStopPLC->ShowModal());
    script.Then([](HWND stop) { PressKey(stop, VK_ESCAPE); });
    EXPECT_FALSE(app.fmStopPLC->ShowModal());
    script.Then([&](HWND) { Click(app.fmStopPLC->BitBtn1); });
    EXPECT_TRUE(app.fmStopPLC->ShowModal());
    EXPECT_TRUE(script.WaitDone());
}

// Moved to a monitor of twice the DPI, a window doubles its client area, its controls and
// their fonts; back, it is as it was.
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
        RECT suggested = WindowRectOf(w);
        SendMessageW(w, WM_DPICHANGED, MAKEWPARAM(192, 192), reinterpret_cast<LPARAM>(&suggested));
        EXPECT_EQ(ClientRectOf(w).right, 2 * client.right) << Text(w);
        // The main window's height holds its menu bar, which Wine does not scale.
        EXPECT_EQ(ClientRectOf(w).bottom + MenuBarHeight(w), 2 * (client.bottom + menuBar))
            << Text(w);
        const RECT doubled = ClientRectOf(button);
        EXPECT_EQ(doubled.right, 2 * (place.right - place.left)) << Text(button);
        EXPECT_EQ(doubled.bottom, 2 * (place.bottom - place.top)) << Text(button);
        EXPECT_EQ(FontHeight(button), 2 * font) << Text(button);
        SendMessageW(w, WM_DPICHANGED, MAKEWPARAM(96, 96), reinterpret_cast<LPARAM>(&suggested));
        EXPECT_EQ(ClientRectOf(w).right, client.right);
        EXPECT_EQ(ClientRectOf(button).right, place.right - place.left);
        EXPECT_EQ(FontHeight(button), font);
    }
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
                Click(update.btExit); // the restore command; its reply closes the window
            });
    Click(app.fmStartup->btNext);
    EXPECT_TRUE(script.WaitDone());
    EXPECT_TRUE(stopAsked);
    EXPECT_EQ(panel, "DU Reroro ... OK!!") << bar;
    EXPECT_TRUE(PumpUntil([&] { return !IsWindowVisible(update.Handle()); }, 10s));
    EXPECT_EQ(app.Forms->fmUpdate->Sequence().UpdateState, UpdateSequence::Idle);
}

} // namespace
} // namespace orv
