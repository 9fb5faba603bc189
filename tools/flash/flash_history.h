#pragma once
// orv-flash --history: the update history of this machine's user, filtered by --since and
// --station.

#include "flash_args.h"
#include "flash_report.h"

namespace orv {

// The exit code: 0 once the file was read (or there is none yet), 1 when it cannot be read.
int ShowHistory(const FlashArgs& args, FlashReport& report);

} // namespace orv
