#pragma once
// Answers the program's modal windows in tests: each step waits for the next modal window to
// come up and acts on it (fills it, presses its buttons, reads its texts). A step that finds
// no window within its time fails the test and closes whatever is modal, so no test ever
// waits on a real dialog forever.

#include <QPointer>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <deque>
#include <functional>
#include <ostream>

// Readable QStrings in test failures.
inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

namespace orv::test {

class ModalScript {
public:
    using Step = std::function<void(QWidget* modal)>;

    explicit ModalScript(int stepTimeoutMs = 5000);
    ~ModalScript(); // unfinished steps fail the test

    // Adds a step; steps run in order, one per modal window.
    ModalScript& Then(Step step);
    // Shortcuts: press the window's button with this text / note a message box's text.
    ModalScript& Press(const QString& buttonText);
    ModalScript& ReadMessage(QString& text); // a QMessageBox: its text, then OK

    bool Done() const { return steps_.empty(); }
    // Runs the event loop until every step has run (or the time is up).
    bool WaitDone(int timeoutMs = 10000);

private:
    void Poll();
    void GiveUp();

    std::deque<Step> steps_;
    QTimer timer_;
    QPointer<QWidget> last_;
    int stepTimeoutMs_;
    int waitedMs_ = 0;
    int running_ = 0;
};

// The Qt application of a test program, made once unless the test made its own.
void EnsureApplication();

// Clicks the push button with this text among widget's children; fails when there is none.
void PressButton(QWidget* window, const QString& text);
// The widget's child of that object name and type.
template <typename T>
T* Child(QWidget* window, const char* name) {
    return window->findChild<T*>(QString::fromLatin1(name));
}

} // namespace orv::test
