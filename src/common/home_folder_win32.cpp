#include "common/home_folder.h"
#include "common/wide_text.h"

#include <cstdlib>

namespace orv {

std::string HomeFolder() {
    if (const wchar_t* profile = _wgetenv(L"USERPROFILE"); profile != nullptr && *profile != L'\0')
        return ToUtf8(profile);
    return {};
}

} // namespace orv
