#pragma once
// What the forms share: the message boxes and error display of a window with handlers, the
// pick-only lists, and the program's key and caption. Plain C++: each front end implements the
// window interfaces with its own toolkit.

#include <exception>
#include <string>
#include <string_view>
#include <vector>

namespace orv {

// The program's key under the current user's settings.
inline constexpr const char* kRegKeyPath = "Software\\Velko\\DUReroro\\v1.0";
// The caption of the program's message boxes.
inline constexpr const char* kAppTitle = "Orv OS update";

// The message boxes of a window that has handlers. Both are modal and owned by the window,
// captioned kAppTitle, with one OK button; each returns once the operator has closed the box.
// Port events and timer ticks go on arriving meanwhile (a nested message loop); the forms and
// engines guard against being re-entered by them.
class IMessageWindow {
public:
    virtual ~IMessageWindow() = default;
    // The program's own messages ("Connect Fail", "Choose an OS file first"), without an icon.
    virtual void ShowMessage(const std::string& text) = 0;
    // The error display: what stopped a handler, with an error icon. The text may have a second
    // line (a port error's detail).
    virtual void ShowError(const std::string& text) = 0;
};

// The error display's text: the error's what(), and a port error's detail on a second line.
std::string ErrorText(std::exception_ptr error);

// Every handler a window calls runs its work through this: whatever the work throws goes to the
// window's error display and the window stays as it was, so no exception ever unwinds through
// the toolkit's frames or a window procedure.
template <typename F>
void Guarded(IMessageWindow& window, F&& work) {
    try {
        work();
    } catch (...) {
        window.ShowError(ErrorText(std::current_exception()));
    }
}

// A pick-only list (a combo box the operator cannot type into): its entries are the form's,
// and one of them, or none, is chosen.
class IChoiceList {
public:
    virtual ~IChoiceList() = default;
    // Replaces the entries; none is chosen afterwards.
    virtual void SetEntries(const std::vector<std::string>& entries) = 0;
    // The position of the chosen entry; -1 when none is.
    virtual int ChosenIndex() const = 0;
    // Chooses the entry at index; -1 chooses none.
    virtual void Choose(int index) = 0;
};

// True when the texts are equal with letter case ignored: ASCII, and the capital and small
// letters of Latin-1, Latin Extended-A, Greek and Cyrillic in UTF-8. Other bytes must match.
bool SameTextIgnoringCase(std::string_view a, std::string_view b);

// The five speed entries of the connect and speed dialogs, "9600" to "115200".
std::vector<std::string> SpeedEntries();

// A form's side of a pick-only list: the entries it put there, read back by position.
class TChoice {
public:
    explicit TChoice(IChoiceList& list) : list_(list) {}

    void Fill(std::vector<std::string> entries);
    int Count() const { return static_cast<int>(entries_.size()); }
    // The chosen position; -1 when none is.
    int Index() const;
    // The chosen entry; "" when none is.
    std::string Text() const;
    // Chooses the entry equal to text, letter case ignored; none when no entry is. True when
    // one was chosen.
    bool ChooseText(const std::string& text);
    // Chooses the entry at index; -1 chooses none.
    void Choose(int index) { list_.Choose(index); }
    // Chooses the first entry, or none when there is none.
    void ChooseFirst();

private:
    IChoiceList& list_;
    std::vector<std::string> entries_;
};

} // namespace orv
