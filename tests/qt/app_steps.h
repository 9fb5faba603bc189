#pragma once
// Steps the window tests share: the program's own application object, and filling the
// connect dialog when it comes up.

#include "modal_helper.h"
#include "qt/application.h"
#include "qt/fm_open.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QString>
#include <QTest>
#include <functional>
#include <gtest/gtest.h>

namespace orv::test {

// Chooses the entry with this text; none when there is no such entry.
inline void ChooseEntry(QComboBox* list, const QString& text) {
    list->setCurrentIndex(list->findText(text));
}

// The program's own application object, with its error display behind every event.
inline void EnsureProgramApplication() {
    if (QApplication::instance() == nullptr) {
        static int argc = 1;
        static char name[] = "orv-os-update-test";
        static char* argv[] = {name, nullptr};
        new TOrvQApplication(argc, argv); // deleted after the last test
    }
}

enum class PortListed { Required, MayBeMissing };

// Fills the connect dialog and presses "Connect PLC".
inline ModalScript::Step ConnectStep(const QString& port, const QString& baud,
                                     const QString& parity, const QString& bits,
                                     const QString& station,
                                     PortListed listed = PortListed::MayBeMissing) {
    return [=](QWidget* modal) {
        auto* open = qobject_cast<TfmOpen*>(modal);
        ASSERT_NE(open, nullptr) << modal->metaObject()->className();
        ChooseEntry(open->cbPort, port);
        if (listed == PortListed::Required) {
            ASSERT_GE(open->cbPort->currentIndex(), 0) << "the port is not listed";
        }
        ChooseEntry(open->cbBaudRate, baud);
        ChooseEntry(open->cbParity, parity);
        ChooseEntry(open->cbDataBit, bits);
        open->edStation->setText(station);
        open->Button1->click();
    };
}

// Runs the event loop until done() holds, for as long as what seen() shows keeps changing: a run
// that stops moving on fails after stallMs, naming the last thing seen, instead of waiting out
// the test's time-out.
inline bool WaitWhileProgressing(const std::function<bool()>& done,
                                 const std::function<QString()>& seen, int stallMs = 10000) {
    QString last = seen();
    QElapsedTimer still;
    still.start();
    while (!done()) {
        QTest::qWait(20);
        if (seen() != last) {
            last = seen();
            still.restart();
        } else if (still.elapsed() > stallMs) {
            ADD_FAILURE() << "nothing moved on for " << stallMs
                          << " ms; last seen: " << last.toStdString();
            return false;
        }
    }
    return true;
}

} // namespace orv::test
