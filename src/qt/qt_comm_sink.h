#pragma once
// The program's notification sink: a hidden object on the GUI thread. Worker threads post
// custom events to it; Qt delivers them in posting order, also inside nested modal loops
// (QDialog::exec(), message boxes), and each becomes one TComm event.

#include "serial/comm.h"

#include <QEvent>
#include <QObject>
#include <atomic>
#include <cstdint>

namespace orv {

// Serves one component (Discard drops everything queued).
class TQtCommSink : public QObject, public ICommSink {
public:
    explicit TQtCommSink(QObject* parent = nullptr);
    ~TQtCommSink() override;

    bool Post(CommNotification& note) override;
    void Discard(TComm* target) override;

    static QEvent::Type EventType();

protected:
    void customEvent(QEvent* event) override;

private:
    // Qt's event queue orders a post before its delivery, but through its own futex-based lock,
    // which race checkers cannot see; this release/acquire pair states that order in our code.
    std::atomic<uint64_t> Posted{0};
};

namespace detail {
struct TQtCommSinkHolder {
    TQtCommSink Sink;
};
} // namespace detail

// A TComm with its own Qt sink, for the windows: `orv::TQtComm Comm;`. Create it on the GUI
// thread; the sink outlives the component's destructor, which stops the port first.
class TQtComm : private detail::TQtCommSinkHolder, public TComm {
public:
    TQtComm() : TComm(&Sink) {}
};

} // namespace orv
