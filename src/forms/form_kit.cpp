#include "forms/form_kit.h"

#include "protocol/station.h"
#include "serial/comm.h"

#include <cstdint>
#include <iterator>
#include <stdexcept>
#include <utility>

namespace orv {

std::string ErrorText(std::exception_ptr error) {
    std::string text;
    try {
        std::rethrow_exception(std::move(error));
    } catch (const ECommsError& e) {
        text = e.what();
        if (!e.Detail().empty())
            text += "\n" + e.Detail();
    } catch (const std::exception& e) {
        text = e.what();
    } catch (...) {
    }
    if (text.empty())
        text = "An unexpected error stopped this action.";
    return text;
}

namespace {

// A byte that does not start a well-formed UTF-8 sequence stands for itself, apart from every
// code point.
constexpr uint32_t kRawByte = 0x110000;

// The next character of text at i, advancing i.
uint32_t NextCharacter(std::string_view text, size_t& i) {
    const auto byte = [&](size_t k) { return static_cast<uint8_t>(text[k]); };
    const uint8_t lead = byte(i);
    size_t length = 0;
    uint32_t value = 0;
    if (lead < 0x80) {
        ++i;
        return lead;
    }
    if ((lead & 0xE0) == 0xC0) {
        length = 2;
        value = lead & 0x1Fu;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3;
        value = lead & 0x0Fu;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4;
        value = lead & 0x07u;
    }
    if (length == 0 || i + length > text.size()) {
        ++i;
        return kRawByte + lead;
    }
    for (size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) {
            ++i;
            return kRawByte + lead;
        }
        value = value << 6 | (byte(i + k) & 0x3Fu);
    }
    i += length;
    return value;
}

uint32_t SmallLetter(uint32_t c) {
    if ((c >= 'A' && c <= 'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7) ||
        (c >= 0x391 && c <= 0x3AB && c != 0x3A2) || (c >= 0x410 && c <= 0x42F))
        return c + 0x20;
    if (c >= 0x400 && c <= 0x40F)
        return c + 0x50;
    if (c == 0x178)
        return 0xFF;
    const bool evenCapitals =
        (c >= 0x100 && c <= 0x12F) || (c >= 0x132 && c <= 0x137) || (c >= 0x14A && c <= 0x177);
    const bool oddCapitals = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
    if ((evenCapitals && c % 2 == 0) || (oddCapitals && c % 2 == 1))
        return c + 1;
    return c;
}

} // namespace

bool SameTextIgnoringCase(std::string_view a, std::string_view b) {
    size_t i = 0;
    size_t j = 0;
    while (i < a.size() && j < b.size()) {
        if (SmallLetter(NextCharacter(a, i)) != SmallLetter(NextCharacter(b, j)))
            return false;
    }
    return i == a.size() && j == b.size();
}

std::vector<std::string> SpeedEntries() {
    std::vector<std::string> entries;
    entries.reserve(std::size(kSpeedList));
    for (const int speed : kSpeedList)
        entries.push_back(std::to_string(speed));
    return entries;
}

void TChoice::Fill(std::vector<std::string> entries) {
    entries_ = std::move(entries);
    list_.SetEntries(entries_);
}

int TChoice::Index() const {
    const int index = list_.ChosenIndex();
    return index >= 0 && index < Count() ? index : -1;
}

std::string TChoice::Text() const {
    const int index = Index();
    return index < 0 ? std::string() : entries_[static_cast<size_t>(index)];
}

bool TChoice::ChooseText(const std::string& text) {
    for (size_t i = 0; i < entries_.size(); ++i) {
        if (SameTextIgnoringCase(entries_[i], text)) {
            list_.Choose(static_cast<int>(i));
            return true;
        }
    }
    list_.Choose(-1);
    return false;
}

void TChoice::ChooseFirst() {
    list_.Choose(entries_.empty() ? -1 : 0);
}

} // namespace orv
