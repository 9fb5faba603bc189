#pragma once
// Lists of small whole numbers as people type them on a command line: "0-31", "1,3,10-12".

#include <optional>
#include <string_view>
#include <vector>

namespace orv {

// Decimal numbers and ranges (a lower bound first) separated by commas, each from lo to hi.
// The numbers in ascending order, each once; nothing for anything else, an empty text included.
std::optional<std::vector<int>> ParseNumberList(std::string_view text, int lo, int hi);

} // namespace orv
