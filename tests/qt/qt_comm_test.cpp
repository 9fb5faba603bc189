// The program's sink: posted events on the GUI thread, in order, nested modal loops included;
// and the virtual-port folder where the toolkit puts the runtime folder.

#include "pty.h"
#include "qt/qt_comm_sink.h"
#include "serial/port_name_posix.h"

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QStandardPaths>
#include <QTimer>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <thread>

namespace orv {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;

QApplication& App() {
    static int argc = 1;
    static char name[] = "serial_qt_tests";
    static char* argv[] = {name, nullptr};
    static QApplication app(argc, argv);
    return app;
}

// Runs the event loop until done() holds or ms pass.
bool SpinUntil(const std::function<bool()>& done, int ms) {
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

TEST(QtCommSink, HandlerInModalDialogReceivesTheNextBlockNested) {
    App();
    test::TPty pty;
    TQtComm comm;
    comm.CommName = pty.SlavePath;
    comm.SetReadIntervalTimeout(30);
    int depth = 0;
    std::vector<std::pair<std::string, int>> seen; // text and nesting depth
    comm.OnReceiveData = [&](TComm*, const uint8_t* buffer, uint16_t length) {
        const std::string text(reinterpret_cast<const char*>(buffer), length);
        ++depth;
        seen.emplace_back(text, depth);
        if (text == "first") {
            QDialog dialog;
            // The other end answers while the dialog is open; its block must come in here.
            QTimer::singleShot(0, [&] { pty.Write("second"); });
            QTimer poll;
            QObject::connect(&poll, &QTimer::timeout, [&] {
                if (seen.size() >= 2)
                    dialog.accept();
            });
            poll.start(10);
            QTimer::singleShot(5000, &dialog, &QDialog::reject);
            dialog.exec();
            EXPECT_EQ(std::string(reinterpret_cast<const char*>(buffer), length), "first")
                << "the interrupted block stays valid";
        }
        --depth;
    };
    comm.StartComm();
    pty.Write("first");
    ASSERT_TRUE(SpinUntil([&] { return seen.size() >= 2 && depth == 0; }, 5000));
    EXPECT_EQ(seen[0], std::make_pair(std::string("first"), 1));
    EXPECT_EQ(seen[1], std::make_pair(std::string("second"), 2));
    comm.StopComm();
}

TEST(QtCommSink, DeliversInPostingOrderFromAnotherThread) {
    App();
    TQtCommSink sink;
    TComm comm(&sink);
    std::vector<uint32_t> got;
    comm.OnModemStateChange = [&](TComm*, uint32_t v) { got.push_back(v); };
    std::thread poster([&] {
        for (uint32_t i = 0; i < 500; ++i) {
            CommNotification note;
            note.Target = &comm;
            note.Message = MSG_MODEM_STATE_CHANGE;
            note.Value = i;
            EXPECT_TRUE(sink.Post(note));
        }
    });
    poster.join();
    ASSERT_TRUE(SpinUntil([&] { return got.size() == 500; }, 3000));
    for (uint32_t i = 0; i < 500; ++i)
        ASSERT_EQ(got[i], i);
}

TEST(QtCommSink, QueuedBlocksAreReleasedWithTheComponent) {
    App();
    test::TPty pty;
    int delivered = 0;
    {
        TQtComm comm;
        comm.CommName = pty.SlavePath;
        comm.OnReceiveData = [&](TComm*, const uint8_t*, uint16_t) { ++delivered; };
        comm.StartComm();
        pty.Write("never delivered");
        test::Sleep(300);
    } // still open, events still posted: the leak checker sees their blocks released
    QCoreApplication::processEvents();
    EXPECT_EQ(delivered, 0);
}

std::string QtVirtualPortFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation).toStdString() +
           "/orv-ports/";
}

TEST(PortList, VirtualFolderAgreesWithTheToolkit) {
    App();
    EXPECT_EQ(VirtualPortFolder(), QtVirtualPortFolder());
    const std::string saved = std::getenv("XDG_RUNTIME_DIR") ? std::getenv("XDG_RUNTIME_DIR") : "";
    const std::string savedTmp = std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "";
    unsetenv("XDG_RUNTIME_DIR");
    setenv("TMPDIR", (std::string(std::getenv("HOME")) + "/tmp/").c_str(), 1);
    std::filesystem::create_directories(std::string(std::getenv("HOME")) + "/tmp");
    EXPECT_EQ(VirtualPortFolder(), QtVirtualPortFolder());
    unsetenv("TMPDIR");
    EXPECT_EQ(VirtualPortFolder(), QtVirtualPortFolder());
    if (!saved.empty())
        setenv("XDG_RUNTIME_DIR", saved.c_str(), 1);
    if (!savedTmp.empty())
        setenv("TMPDIR", savedTmp.c_str(), 1);
}

} // namespace
} // namespace orv
