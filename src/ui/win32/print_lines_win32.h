// Printing for the wizard's summary and the log viewer: text lines, one per
// printed line, on the printer chosen in the system's print dialog.
#pragma once

#include <string>
#include <vector>

#include "platform/win32/windows_api.h"

namespace tk571::ui::win32 {

// False when the user cancelled or the printer refused the job.
bool PrintLines(HWND owner, const std::string& title_gbk,
                const std::vector<std::string>& lines_gbk);

}  // namespace tk571::ui::win32
