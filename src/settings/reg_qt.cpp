// The members of TReg that keep a font, a window's placement or its columns' widths.
#include "settings/reg.h"
#include "settings/reg_values.h"

#include <QColor>
#include <QFont>
#include <QTableWidget>
#include <QTreeWidget>
#include <QWidget>
#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace orv {

namespace {

// The font members speak of pixels at the classic 96 per inch, as the stored values did.
constexpr double kPixelsPerInch = 96.0;
// Anything outside this is no real font size and is ignored rather than passed on.
constexpr int64_t kMaxFontExtent = 4096;
constexpr int32_t kDefaultCharset = 1;

std::string NameOf(const QObject* object) {
    return object->objectName().toStdString();
}

} // namespace

bool TReg::LoadFont(const std::string& section, const std::string& name, QFont& font,
                    QColor* color) {
    auto key = Open(section + "\\" + name, false);
    if (!key)
        return false;
    int32_t v = 0;
    // Qt chooses scripts by itself; the character set is only checked for its type.
    ReadInt(*key, "Charset", v);
    if (ReadInt(*key, "Color", v) && color && (static_cast<uint32_t>(v) >> 24) == 0)
        *color = QColor(v & 0xFF, (v >> 8) & 0xFF, (v >> 16) & 0xFF);
    if (ReadInt(*key, "Height", v)) {
        // Negative: the character height; positive: the cell height. Qt has only the one.
        int64_t px = std::llabs(static_cast<int64_t>(v));
        if (px >= 1 && px <= kMaxFontExtent)
            font.setPixelSize(static_cast<int>(px));
    }
    if (key->ValueExists("Name")) {
        std::string family = key->ReadString("Name");
        if (!family.empty())
            font.setFamily(QString::fromStdString(family));
    }
    if (ReadInt(*key, "Pitch", v) && (v == 1 || v == 2))
        font.setFixedPitch(v == 2);
    if (ReadInt(*key, "Size", v)) {
        if (v >= 1 && v <= kMaxFontExtent)
            font.setPointSize(v);
        else if (v < 0 && -static_cast<int64_t>(v) <= kMaxFontExtent)
            font.setPixelSize(-v);
    }
    key->Close();
    return true;
}

bool TReg::SaveFont(const std::string& section, const std::string& name, const QFont& font) {
    return SaveFont(section, name, font, QColor(0, 0, 0));
}

bool TReg::SaveFont(const std::string& section, const std::string& name, const QFont& font,
                    const QColor& color) {
    auto key = Open(section + "\\" + name, true);
    if (!key)
        return false;
    int32_t size = 0;
    int32_t height = 0;
    if (font.pointSizeF() > 0) {
        size = static_cast<int32_t>(std::lround(font.pointSizeF()));
        height = -static_cast<int32_t>(std::lround(font.pointSizeF() * kPixelsPerInch / 72.0));
    } else if (font.pixelSize() > 0) {
        height = -font.pixelSize();
        size = static_cast<int32_t>(std::lround(font.pixelSize() * 72.0 / kPixelsPerInch));
    }
    int32_t pitch = 0;
    if (font.resolveMask() & QFont::FixedPitchResolved)
        pitch = font.fixedPitch() ? 2 : 1;
    QColor rgb = color.toRgb();
    WriteInt(*key, "Charset", kDefaultCharset);
    WriteInt(*key, "Color", rgb.red() | (rgb.green() << 8) | (rgb.blue() << 16));
    WriteInt(*key, "Height", height);
    key->WriteString("Name", font.family().toStdString());
    WriteInt(*key, "Pitch", pitch);
    WriteInt(*key, "Size", size);
    return Closed(*key);
}

bool TReg::LoadForm(QWidget* form, int options) {
    if (!form)
        return false;
    auto key = Open("\\Form\\" + NameOf(form), false);
    if (!key)
        return false;
    if (options & roPosition) {
        int32_t left = form->x();
        int32_t top = form->y();
        bool any = ReadInt(*key, "Left", left);
        any = ReadInt(*key, "Top", top) || any;
        if (any)
            form->move(left, top);
    }
    if (options & roSize) {
        int32_t width = form->width();
        int32_t height = form->height();
        bool any = ReadInt(*key, "Width", width);
        any = ReadInt(*key, "Height", height) || any;
        if (any)
            form->resize(std::max(width, 0), std::max(height, 0));
    }
    key->Close();
    return true;
}

bool TReg::SaveForm(QWidget* form, int options) {
    if (!form)
        return false;
    auto key = Open("\\Form\\" + NameOf(form), true);
    if (!key)
        return false;
    if (options & roPosition) {
        WriteInt(*key, "Left", form->x());
        WriteInt(*key, "Top", form->y());
    }
    if (options & roSize) {
        WriteInt(*key, "Width", form->width());
        WriteInt(*key, "Height", form->height());
    }
    return Closed(*key);
}

namespace {

// The column members of both kinds of control differ only in how they reach the widths.
template <class View>
bool LoadColumns(std::unique_ptr<RegKey> key, View* view, int options) {
    if (!key)
        return false;
    if (options & roColumnWidths) {
        for (int i = 0; i < view->columnCount(); ++i) {
            int32_t w = 0;
            if (!ReadInt(*key, Numbered("ColWidth%d", i), w))
                break;
            view->setColumnWidth(i, std::max(w, 0));
        }
    }
    key->Close();
    return true;
}

template <class View>
bool SaveColumns(std::unique_ptr<RegKey> key, View* view, int options) {
    if (!key)
        return false;
    if (options & roColumnWidths)
        for (int i = 0; i < view->columnCount(); ++i)
            WriteInt(*key, Numbered("ColWidth%d", i), view->columnWidth(i));
    return key->Close();
}

} // namespace

bool TReg::LoadListView(QWidget* form, QTreeWidget* view, int options) {
    if (!form || !view)
        return false;
    return LoadColumns(Open("\\Form\\" + NameOf(form) + "\\" + NameOf(view), false), view, options);
}

bool TReg::SaveListView(QWidget* form, QTreeWidget* view, int options) {
    if (!form || !view)
        return false;
    return Saved(
        SaveColumns(Open("\\Form\\" + NameOf(form) + "\\" + NameOf(view), true), view, options));
}

bool TReg::LoadStringGrid(QWidget* form, QTableWidget* grid, int options) {
    if (!form || !grid)
        return false;
    return LoadColumns(Open("\\Form\\" + NameOf(form) + "\\" + NameOf(grid), false), grid, options);
}

bool TReg::SaveStringGrid(QWidget* form, QTableWidget* grid, int options) {
    if (!form || !grid)
        return false;
    return Saved(
        SaveColumns(Open("\\Form\\" + NameOf(form) + "\\" + NameOf(grid), true), grid, options));
}

bool TReg::LoadControl(QWidget* form, QWidget* control, int options) {
    if (auto* view = qobject_cast<QTreeWidget*>(control))
        return LoadListView(form, view, options);
    if (auto* grid = qobject_cast<QTableWidget*>(control))
        return LoadStringGrid(form, grid, options);
    return false;
}

bool TReg::SaveControl(QWidget* form, QWidget* control, int options) {
    if (auto* view = qobject_cast<QTreeWidget*>(control))
        return SaveListView(form, view, options);
    if (auto* grid = qobject_cast<QTableWidget*>(control))
        return SaveStringGrid(form, grid, options);
    return false;
}

} // namespace orv
