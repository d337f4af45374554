// 打印配置 of the wizard's summary: the printer chosen in the system's print
// dialog gets the page title, the serial settings and the device list.
#pragma once

#include <string>
#include <vector>

#include "platform/win32/windows_api.h"
#include "ui/wizard_pages.h"

namespace tk571::ui::win32 {

// False when the user cancelled or the printer refused the job.
bool PrintSummary(HWND owner, const std::string& title_gbk,
                  const std::vector<std::string>& serial_lines_gbk,
                  const std::vector<DeviceNode>& devices);

}  // namespace tk571::ui::win32
