#include "driver/ui_module.h"

#include <string>

#include "engine/run_log.h"
#include "platform/gbk.h"
#include "platform/sibling_module.h"

namespace tk571 {

namespace {

const ui::UiModuleTable* LoadUiModule() {
  platform::SiblingSymbol entry =
      platform::LoadSiblingSymbol(ui::kUiModuleFile, ui::kUiModuleEntry);
  const ui::UiModuleTable* table = nullptr;
  if (entry.address) {
    table = reinterpret_cast<ui::UiModuleEntry>(entry.address)();
    if (!table || table->interface_number != ui::kUiModuleInterface ||
        table->table_size != sizeof(ui::UiModuleTable)) {
      table = nullptr;
      entry.reason = "the module belongs to another build of the driver";
    }
  }
  if (!table) {
    WriteLogText(LogLine(TK571_GBK("：用户界面模块") + ui::kUiModuleFile +
                         TK571_GBK("不可用，配置向导和设备测试窗口无法打开：") + entry.reason));
  }
  return table;
}

}  // namespace

const ui::UiModuleTable* UiModule() {
  static const ui::UiModuleTable* const table = LoadUiModule();
  return table;
}

}  // namespace tk571
