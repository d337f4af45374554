// The fixed texts of the dialogs, GBK, one source for the Qt and the Win32
// widgets alike: a text both show is named here, so that the two cannot drift
// apart.
#pragma once

#include <string>
#include <vector>

namespace tk571::ui::texts {

// The wizard's buttons.
const std::string& Previous();
const std::string& Next();
const std::string& Cancel();
const std::string& Finish();

// The start page.
const std::string& ChooseOperation();
const std::string& NewDevice();
const std::string& ModifyDevice();
const std::string& BrowseDevices();
const std::string& HelpInfo();
const std::string& DebugSettings();
const std::string& DownloadDriver();

// The page that chooses how devices are created.
const std::string& ChooseCreateMode();

// The single device page; the device test window's type group shows it too.
const std::string& TagType();

// The device list pages.
const std::string& AddDevice();
const std::string& DeleteDevice();

// The serial page; the summary shows the group's title too.
const std::string& SerialSettings();
const std::string& Port();
const std::string& BaudRate();
const std::string& DataBits();
const std::string& StopBits();
const std::string& Parity();

// The summary page.
const std::string& Usage();
const std::string& PrintConfiguration();

// The device test window.
const std::string& DeviceTestCaption();
const std::string& TagAddress();
const std::string& TagValueColumn();
const std::string& TagOperation();
const std::string& HostCommand();
const std::string& StartInfo();
const std::string& CommInfo();
const std::string& DeviceAnswer();
const std::string& SendCommand();
const std::string& Exit();
const std::string& AdvancedDebug();
// The type group's three choices, in the order of the session's type positions.
const std::vector<std::string>& TagTypeNames();
const std::string& ReadOperation();
const std::string& WriteOperation();
const std::string& WriteCommand();

// The log viewer.
const std::string& DebugViewerCaption();
const std::string& DebugSwitch();
const std::string& ErrorOutput();
const std::string& TraceOutput();
const std::string& SaveAs();
const std::string& SaveChanges();
const std::string& Print();
const std::string& CloseWindow();

}  // namespace tk571::ui::texts
