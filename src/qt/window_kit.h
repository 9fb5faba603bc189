#pragma once
// What the Qt windows share: the program's message boxes and error display, its font, centring,
// the title panel, and the pick-only list over a combo box.

#include "forms/form_kit.h"

#include <QString>
#include <initializer_list>
#include <string>
#include <vector>

class QComboBox;
class QHBoxLayout;
class QLabel;
class QWidget;

namespace orv {

// The error display: the text in a message box with an error icon and an OK button.
void ShowErrorBox(QWidget* parent, const std::string& text);
// A plain message box with an OK button, as the program's own messages are shown.
void ShowMessageBox(QWidget* parent, const std::string& text);

// The program's text: MS Sans Serif where there is one, else the desktop's sans serif, 13
// pixels from ascent to descent.
void ApplyProgramFont(QWidget* window);

// Centres a window on the screen, or over another window when one is given.
void CentreWindow(QWidget* window, const QWidget* over = nullptr);

// A grey title panel with blue text of 16 pixels, as the startup and status windows show.
QLabel* NewTitlePanel(const QString& text, QWidget* parent);

// A row with the widgets in the middle, `spacing` pixels apart (-1: the style's spacing).
QHBoxLayout* CentredRow(std::initializer_list<QWidget*> widgets, int spacing = 16);

// A combo box the operator picks from and cannot type into.
QComboBox* NewPickList(const char* name, QWidget* parent);

// IChoiceList over a combo box.
class TComboChoice final : public IChoiceList {
public:
    explicit TComboChoice(QComboBox& combo) : combo_(combo) {}
    void SetEntries(const std::vector<std::string>& entries) override;
    int ChosenIndex() const override;
    void Choose(int index) override;

private:
    QComboBox& combo_;
};

} // namespace orv
