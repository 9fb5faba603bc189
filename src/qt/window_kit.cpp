#include "qt/window_kit.h"

#include <QApplication>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QScreen>

namespace orv {

namespace {

void ShowBox(QWidget* parent, QMessageBox::Icon icon, const std::string& text) {
    if (parent == nullptr)
        parent = QApplication::activeModalWidget();
    QMessageBox box(icon, QString::fromLatin1(kAppTitle), QString::fromStdString(text),
                    QMessageBox::Ok, parent);
    box.exec();
}

} // namespace

void ShowErrorBox(QWidget* parent, const std::string& text) {
    ShowBox(parent, QMessageBox::Critical, text);
}

void ShowMessageBox(QWidget* parent, const std::string& text) {
    ShowBox(parent, QMessageBox::NoIcon, text);
}

void ApplyProgramFont(QWidget* window) {
    QFont font = window->font();
    font.setFamilies(
        {QStringLiteral("MS Sans Serif"), QStringLiteral("Microsoft Sans Serif"), font.family()});
    font.setPixelSize(11);
    window->setFont(font);
}

void CentreWindow(QWidget* window, const QWidget* over) {
    QRect area;
    if (over != nullptr && over->isVisible()) {
        area = over->frameGeometry();
    } else {
        const QScreen* screen = window->screen();
        if (screen == nullptr)
            screen = QGuiApplication::primaryScreen();
        if (screen == nullptr)
            return;
        area = screen->availableGeometry();
    }
    QRect frame = window->frameGeometry();
    frame.moveCenter(area.center());
    window->move(frame.topLeft());
}

QLabel* NewTitlePanel(const QString& text, QWidget* parent) {
    auto* panel = new QLabel(text, parent);
    panel->setTextFormat(Qt::PlainText);
    panel->setAlignment(Qt::AlignCenter);
    panel->setAutoFillBackground(true);
    panel->setMinimumHeight(40);
    QFont font = panel->font();
    font.setPixelSize(16);
    font.setBold(true);
    panel->setFont(font);
    QPalette palette = panel->palette();
    palette.setColor(QPalette::Window, QColor(192, 192, 192));
    palette.setColor(QPalette::WindowText, QColor(0, 0, 255));
    panel->setPalette(palette);
    return panel;
}

QHBoxLayout* CentredRow(std::initializer_list<QWidget*> widgets, int spacing) {
    auto* row = new QHBoxLayout;
    row->setSpacing(spacing);
    row->addStretch(1);
    for (QWidget* w : widgets)
        row->addWidget(w);
    row->addStretch(1);
    return row;
}

QComboBox* NewPickList(const char* name, QWidget* parent) {
    auto* list = new QComboBox(parent);
    list->setObjectName(QString::fromLatin1(name));
    list->setEditable(false); // a typed entry has no position and is never used
    return list;
}

void TComboChoice::SetEntries(const std::vector<std::string>& entries) {
    combo_.clear();
    for (const std::string& entry : entries)
        combo_.addItem(QString::fromStdString(entry));
    combo_.setCurrentIndex(-1);
}

int TComboChoice::ChosenIndex() const {
    return combo_.currentIndex();
}

void TComboChoice::Choose(int index) {
    combo_.setCurrentIndex(index);
}

} // namespace orv
