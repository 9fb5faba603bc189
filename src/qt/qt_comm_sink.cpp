#include "qt/qt_comm_sink.h"

#include <QCoreApplication>

namespace orv {

namespace {

class TCommEvent : public QEvent {
public:
    explicit TCommEvent(CommNotification&& note)
        : QEvent(TQtCommSink::EventType()), Note(std::move(note)) {}
    CommNotification Note; // owns the data block until delivered or dropped
};

} // namespace

QEvent::Type TQtCommSink::EventType() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

TQtCommSink::TQtCommSink(QObject* parent) : QObject(parent) {
    setObjectName(QStringLiteral("CommNotifyWindow"));
}

// QObject's destructor releases the events still posted to it, and with them their blocks.
TQtCommSink::~TQtCommSink() = default;

bool TQtCommSink::Post(CommNotification& note) {
    auto* event = new TCommEvent(std::move(note));
    Posted.fetch_add(1, std::memory_order_release);
    QCoreApplication::postEvent(this, event);
    return true;
}

void TQtCommSink::Discard(TComm* /*target*/) {
    QCoreApplication::removePostedEvents(this, EventType());
}

void TQtCommSink::customEvent(QEvent* event) {
    (void)Posted.load(std::memory_order_acquire);
    if (event->type() != EventType())
        return;
    CommNotification& note = static_cast<TCommEvent*>(event)->Note;
    if (note.Target)
        note.Target->Deliver(note);
}

} // namespace orv
