#pragma once
// Steps that drive the Qt program's windows, shared by the window tests and the GUI bench: the
// program's own application object, the connect dialog, "Get PLC's Status", a whole update,
// and the files they need (a first-run settings store, plain OS images).

#include "qt/application.h"
#include "qt_modal.h"
#include "serial/comm.h"

#include <QComboBox>
#include <QString>
#include <cstddef>
#include <functional>

namespace orv::test {

// Chooses the entry with this text; none when there is no such entry.
inline void ChooseEntry(QComboBox* list, const QString& text) {
    list->setCurrentIndex(list->findText(text));
}

// The program's own application object, with its error display behind every event.
void EnsureProgramApplication();

enum class PortListed { Required, MayBeMissing };

// Fills the connect dialog and presses "Connect PLC".
ModalScript::Step ConnectStep(const QString& port, const QString& baud, const QString& parity,
                              const QString& bits, const QString& station,
                              PortListed listed = PortListed::MayBeMissing);

// Runs the event loop until done() holds, for as long as what seen() shows keeps changing: a run
// that stops moving on fails after stallMs, naming the last thing seen, instead of waiting out
// the test's time-out.
bool WaitWhileProgressing(const std::function<bool()>& done, const std::function<QString()>& seen,
                          int stallMs = 10000);

// "Get PLC's Status" with the connect dialog at 9600 baud, EVEN, 7 data bits, station 1, on the
// virtual port of that name; returns the version the status window showed.
QString GetStatus(TOrvApplication& app, const QString& portName);

// What the update window showed when a run ended.
struct UpdateOutcome {
    QString panel;
    QString statusBar;
    int gauge = -1;
    bool updateEnabled = false, abortEnabled = true, exitEnabled = false;
    QWidget* focus = nullptr;
    TByteSize byteSize = TByteSize::_8;
    TParity parity = TParity::None;
    uint32_t baud = 0;
};

// "Proceed to Update OS", the image into the file box, "Update OS", then waits until the
// buttons are idle again (the run is over, one way or another), notes what the window shows
// and presses Exit (Abort first, should the run have stopped moving on). `more` answers the
// windows the run opens on the way.
UpdateOutcome Update(TOrvApplication& app, const QString& image,
                     const std::function<void(ModalScript&)>& more = {}, int timeoutMs = 20000);

// The program's settings file.
QString SettingsFile();
// Every test that needs it starts as a first run: no settings from an earlier test.
void ForgetSettings();

// A plain image of size bytes: version 1.61, 03/2010, flash type 2, first page 128; with
// rightId false the identification bytes are wrong.
QString WritePlainImage(const QString& path, size_t size = 0x22000, bool rightId = true);

} // namespace orv::test
