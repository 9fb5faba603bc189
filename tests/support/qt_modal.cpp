#include "qt_modal.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QTest>
#include <algorithm>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

namespace orv::test {

namespace {
constexpr int kPollMs = 10;
// The windows steps are answering now, in any script: a step that waits inside its window is
// answering it. Any other modal window on top, once no step is left to take it, is one the
// test did not expect (a message box from a reply handler, say): it fails the test and is
// closed, so that the code under it can return.
std::vector<QPointer<QWidget>> answering;

// Ends the test program's Qt application after the last test, as a program's main() would,
// so the toolkit's own caches are released before the leak check.
class ApplicationEnvironment : public ::testing::Environment {
public:
    void TearDown() override { delete QCoreApplication::instance(); }
};
const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new ApplicationEnvironment);
} // namespace

ModalScript::ModalScript(int stepTimeoutMs) : stepTimeoutMs_(stepTimeoutMs) {
    timer_.setInterval(kPollMs);
    QObject::connect(&timer_, &QTimer::timeout, [this] { Poll(); });
    timer_.start();
}

ModalScript::~ModalScript() {
    timer_.stop();
    if (!steps_.empty()) {
        ADD_FAILURE() << steps_.size() << " modal step(s) never ran";
        GiveUp();
    }
}

ModalScript& ModalScript::Then(Step step) {
    steps_.push_back(std::move(step));
    waitedMs_ = 0;
    return *this;
}

ModalScript& ModalScript::Press(const QString& buttonText) {
    return Then([buttonText](QWidget* modal) { PressButton(modal, buttonText); });
}

ModalScript& ModalScript::ReadMessage(QString& text) {
    return Then([&text](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        if (box == nullptr) {
            ADD_FAILURE() << "expected a message box, found " << modal->metaObject()->className();
            if (auto* dialog = qobject_cast<QDialog*>(modal))
                dialog->reject();
            return;
        }
        text = box->text();
        box->button(QMessageBox::Ok)->click();
    });
}

bool ModalScript::WaitDone(int timeoutMs) {
    return QTest::qWaitFor([this] { return steps_.empty() && running_ == 0; }, timeoutMs);
}

void ModalScript::Poll() {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal != nullptr && !modal->isVisible())
        modal = nullptr;
    // A window already handled counts again only once it has gone away and come back.
    if (last_ != nullptr && !last_->isVisible())
        last_ = nullptr;
    if (modal != nullptr && modal != last_ && !steps_.empty()) {
        Step step = std::move(steps_.front());
        steps_.pop_front();
        waitedMs_ = 0;
        last_ = modal;
        // Acts from a fresh timer: a step that opens a further modal window runs a nested
        // loop, and Qt does not fire the polling timer again while its own handler runs.
        QPointer<QWidget> target = modal;
        ++running_;
        answering.push_back(target);
        QTimer::singleShot(0, modal, [this, step = std::move(step), target] {
            if (target != nullptr)
                step(target);
            if (target != nullptr && !target->isVisible() && last_ == target)
                last_ = nullptr;
            --running_;
            answering.erase(std::find(answering.begin(), answering.end(), target));
        });
        return;
    }
    const bool answered =
        modal != nullptr && std::find(answering.begin(), answering.end(), modal) != answering.end();
    // Nothing left to wait for, or a window up that a step is answering.
    if (steps_.empty() && (modal == nullptr || answered)) {
        waitedMs_ = 0;
        return;
    }
    waitedMs_ += kPollMs;
    if (waitedMs_ > stepTimeoutMs_) {
        if (modal == nullptr) {
            ADD_FAILURE() << "no modal window came up for the next step within " << stepTimeoutMs_
                          << " ms";
        } else {
            QString what =
                QString::fromLatin1(modal->metaObject()->className()) + " " + modal->objectName();
            if (auto* box = qobject_cast<QMessageBox*>(modal))
                what += ": " + box->text();
            ADD_FAILURE() << "modal window left unanswered: " << what.toStdString();
        }
        GiveUp();
    }
}

void ModalScript::GiveUp() {
    steps_.clear();
    waitedMs_ = 0;
    // Close every modal window no step is answering, top first, so the code under test can
    // return.
    for (int guard = 0; guard < 20; ++guard) {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr ||
            std::find(answering.begin(), answering.end(), modal) != answering.end())
            break;
        if (auto* dialog = qobject_cast<QDialog*>(modal))
            dialog->done(QDialog::Rejected);
        else
            modal->close();
    }
}

void PressButton(QWidget* window, const QString& text) {
    for (QAbstractButton* button : window->findChildren<QAbstractButton*>()) {
        QString plain = button->text();
        plain.remove(QLatin1Char('&'));
        if (plain == text && button->isVisible()) {
            button->click();
            return;
        }
    }
    ADD_FAILURE() << "no button \"" << text.toStdString() << "\" in "
                  << window->objectName().toStdString();
    if (auto* dialog = qobject_cast<QDialog*>(window))
        dialog->done(QDialog::Rejected);
}

void EnsureApplication() {
    if (QApplication::instance() != nullptr)
        return;
    static int argc = 1;
    static char name[] = "orv-test";
    static char* argv[] = {name, nullptr};
    new QApplication(argc, argv); // deleted after the last test
}

} // namespace orv::test
