#pragma once
// TReg: named settings under one key of the current user's hive, kept between runs.
//
// Every member opens KeyPath followed directly by its section (so a subkey section begins
// with a backslash and "" is KeyPath itself), creating the key when absent, and closes it
// before returning. A load returns true only when the value existed and leaves the caller's
// variable alone otherwise; the multi-value members return true when the key opened. A value
// of another type, or a value the store refuses, raises ERegError.
//
// The members for strings, numbers and lists are plain C++ (reg.cpp) and build everywhere;
// those that take a font, a window or its columns speak Qt (reg_qt.cpp, in orv_settings_qt)
// and exist only where the Qt front end does.
#include "settings/reg_store.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class QColor;
class QFont;
class QTableWidget;
class QTreeWidget;
class QWidget;

namespace orv {

// Options of the form and column members.
enum TRegOption : int {
    roPosition = 1,     // LoadForm/SaveForm: "Left", "Top"
    roSize = 2,         // LoadForm/SaveForm: "Width", "Height"
    roColumnWidths = 1, // list view and string grid: "ColWidth%d"
};

// Groups of column widths: Groups[g].Widths[c] is column c of group g.
struct TColumnGroup {
    std::vector<int> Widths;
};
struct TColumnsGroup {
    std::vector<TColumnGroup> Groups;
};

class TReg {
public:
    TReg();
    explicit TReg(std::string keyPath);
    // With a store of the caller's (tests, or another backend).
    TReg(std::string keyPath, std::unique_ptr<RegStore> store);
    ~TReg();
    TReg(const TReg&) = delete;
    TReg& operator=(const TReg&) = delete;

    std::string KeyPath;

    bool LoadStringA(const std::string& section, const std::string& name, std::string& value);
    bool SaveString(const std::string& section, const std::string& name, const std::string& value);

    // For the windows, which load and save each value on its own: a value that cannot be used
    // or kept raises nothing here. A load of another type keeps the caller's default and is
    // noted for TakeLoadProblems; a save that fails is noted for TakeSaveFailure.
    bool LoadStringNoted(const std::string& section, const std::string& name, std::string& value);
    bool SaveStringNoted(const std::string& section, const std::string& name,
                         const std::string& value);
    // The noted loads' errors since the last call ("Invalid data type for 'ComPort'", ...).
    std::vector<std::string> TakeLoadProblems();
    // Why the first save since the last call failed, from any member; "" when none did.
    std::string TakeSaveFailure();
    // Where the values live, for messages: the settings file or the registry key.
    std::string Location() const;
    bool LoadInteger(const std::string& section, const std::string& name, int32_t& value);
    bool SaveInteger(const std::string& section, const std::string& name, int32_t value);
    bool LoadBoolean(const std::string& section, const std::string& name, bool& value);
    bool SaveBoolean(const std::string& section, const std::string& name, bool value);

    // "ItemCnt" and "Item0", "Item1", ...; the load appends to the list.
    bool LoadStrings(const std::string& section, std::vector<std::string>& list);
    bool SaveStrings(const std::string& section, const std::vector<std::string>& list);

    // Subkey `name` with "Charset", "Color", "Height", "Name", "Pitch", "Size". A font carries
    // no colour here, so it travels beside it: `color` may be null, and a save without one
    // stores black.
    bool LoadFont(const std::string& section, const std::string& name, QFont& font,
                  QColor* color = nullptr);
    bool SaveFont(const std::string& section, const std::string& name, const QFont& font);
    bool SaveFont(const std::string& section, const std::string& name, const QFont& font,
                  const QColor& color);

    // KeyPath\Form\<form's objectName>; options roPosition and roSize.
    bool LoadForm(QWidget* form, int options);
    bool SaveForm(QWidget* form, int options);
    // KeyPath\Form\<form>\<control's objectName>; option roColumnWidths.
    bool LoadListView(QWidget* form, QTreeWidget* view, int options);
    bool SaveListView(QWidget* form, QTreeWidget* view, int options);
    bool LoadStringGrid(QWidget* form, QTableWidget* grid, int options);
    bool SaveStringGrid(QWidget* form, QTableWidget* grid, int options);
    // A list view or a string grid; false for any other control.
    bool LoadControl(QWidget* form, QWidget* control, int options);
    bool SaveControl(QWidget* form, QWidget* control, int options);

    // Subkey `name` with "Column[g.c].Width".
    bool LoadColumnsGroup(const std::string& section, const std::string& name,
                          TColumnsGroup& groups);
    bool SaveColumnsGroup(const std::string& section, const std::string& name,
                          const TColumnsGroup& groups);

private:
    std::unique_ptr<RegKey> Open(const std::string& subPath, bool forWriting);
    // A save member's result, noting why it failed.
    bool Saved(bool ok);
    bool Closed(RegKey& key) { return Saved(key.Close()); }

    std::unique_ptr<RegStore> store_;
    std::vector<std::string> loadProblems_;
    std::string saveFailure_;
};

// The program's one settings object, built with the default key path on first use.
TReg& Reg();

} // namespace orv
