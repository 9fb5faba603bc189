#include "number_list.h"

#include <algorithm>
#include <charconv>

namespace orv {

namespace {

std::optional<int> Number(std::string_view text, int lo, int hi) {
    int value = 0;
    const char* end = text.data() + text.size();
    // from_chars takes a leading minus; a range's dash must not pass for one.
    if (text.empty() || text.front() < '0' || text.front() > '9')
        return std::nullopt;
    const auto [p, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || p != end || value < lo || value > hi)
        return std::nullopt;
    return value;
}

} // namespace

std::optional<std::vector<int>> ParseNumberList(std::string_view text, int lo, int hi) {
    std::vector<int> out;
    size_t start = 0;
    for (;;) {
        const size_t comma = std::min(text.find(',', start), text.size());
        const std::string_view item = text.substr(start, comma - start);
        const size_t dash = item.find('-');
        const auto first = Number(item.substr(0, dash), lo, hi);
        const auto last =
            dash == std::string_view::npos ? first : Number(item.substr(dash + 1), lo, hi);
        if (!first || !last || *last < *first)
            return std::nullopt;
        for (int n = *first; n <= *last; ++n)
            out.push_back(n);
        if (comma == text.size())
            break;
        start = comma + 1;
    }
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
    return out;
}

} // namespace orv
