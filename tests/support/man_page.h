#pragma once
// What the documents promise, read from orv-flash(1)'s source, packaging/man/orv-flash.1.in.

#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace orv::test {

// The exit statuses with their words, blanks and roff escapes evened out: of the help page
// (the lines after "exit status:") and of the manual page (its EXIT STATUS section).
std::map<int, std::string> HelpExitStatuses(const std::string& help);
std::map<int, std::string> ManExitStatuses();
// What the manual page's JSON EVENTS section does not say of these events: each event, field
// or field type it lacks, one a line; empty when it documents them all.
std::string UndocumentedInEvents(const std::vector<nlohmann::json>& events);

} // namespace orv::test
