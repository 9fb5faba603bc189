#pragma once
// Steps the window tests share: the program's own application object, and filling the
// connect dialog when it comes up.

#include "modal_helper.h"
#include "qt/application.h"
#include "qt/fm_open.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QString>
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

} // namespace orv::test
