#include "ui/dialog_texts.h"

#include "platform/gbk.h"

namespace tk571::ui::texts {

// The wizard's buttons.
const std::string& Previous() {
  return TK571_GBK("上一步");
}

const std::string& Next() {
  return TK571_GBK("下一步");
}

const std::string& Cancel() {
  return TK571_GBK("取消");
}

const std::string& Finish() {
  return TK571_GBK("完成");
}

// The start page.
const std::string& ChooseOperation() {
  return TK571_GBK("请选择要进行的操作");
}

const std::string& NewDevice() {
  return TK571_GBK("新建设备");
}

const std::string& ModifyDevice() {
  return TK571_GBK("修改设备");
}

const std::string& BrowseDevices() {
  return TK571_GBK("察看设备");
}

const std::string& HelpInfo() {
  return TK571_GBK("帮助信息");
}

const std::string& DebugSettings() {
  return TK571_GBK("调试设置");
}

const std::string& DownloadDriver() {
  return TK571_GBK("下载最新驱动");
}

// The page that chooses how devices are created.
const std::string& ChooseCreateMode() {
  return TK571_GBK("请选择创建设备的方式");
}

// The single device page; the device test window's type group shows it too.
const std::string& TagType() {
  return TK571_GBK("标签类型");
}

// The device list pages.
const std::string& AddDevice() {
  return TK571_GBK("添加");
}

const std::string& DeleteDevice() {
  return TK571_GBK("删除");
}

// The serial page; the summary shows the group's title too.
const std::string& SerialSettings() {
  return TK571_GBK("串口参数");
}

const std::string& Port() {
  return TK571_GBK("串口");
}

const std::string& BaudRate() {
  return TK571_GBK("波特率");
}

const std::string& DataBits() {
  return TK571_GBK("数据位");
}

const std::string& StopBits() {
  return TK571_GBK("停止位");
}

const std::string& Parity() {
  return TK571_GBK("校验");
}

// The summary page.
const std::string& Usage() {
  return TK571_GBK("使用说明");
}

const std::string& PrintConfiguration() {
  return TK571_GBK("打印配置");
}

// The device test window.
const std::string& DeviceTestCaption() {
  return TK571_GBK("设备测试窗口");
}

const std::string& TagAddress() {
  return TK571_GBK("标签地址");
}

const std::string& TagValueColumn() {
  return TK571_GBK("标签值");
}

const std::string& TagOperation() {
  return TK571_GBK("标签操作");
}

const std::string& HostCommand() {
  return TK571_GBK("主机命令");
}

const std::string& StartInfo() {
  return TK571_GBK("启动信息");
}

const std::string& CommInfo() {
  return TK571_GBK("通讯信息");
}

const std::string& DeviceAnswer() {
  return TK571_GBK("设备应答");
}

const std::string& SendCommand() {
  return TK571_GBK("发送命令");
}

const std::string& Exit() {
  return TK571_GBK("退出");
}

const std::string& AdvancedDebug() {
  return TK571_GBK("高级调试");
}

const std::vector<std::string>& TagTypeNames() {
  static const std::vector<std::string> names{platform::ToGbk("模拟量"), platform::ToGbk("开关量"),
                                              platform::ToGbk("字符串")};
  return names;
}

const std::string& ReadOperation() {
  return TK571_GBK("读操作");
}

const std::string& WriteOperation() {
  return TK571_GBK("写操作");
}

const std::string& WriteCommand() {
  return TK571_GBK("写命令");
}

// The log viewer.
const std::string& DebugViewerCaption() {
  return TK571_GBK("向导：设置调试选项");
}

const std::string& DebugSwitch() {
  return TK571_GBK("调试开关");
}

const std::string& ErrorOutput() {
  return TK571_GBK("输出错误信息");
}

const std::string& TraceOutput() {
  return TK571_GBK("输出跟踪信息");
}

const std::string& SaveAs() {
  return TK571_GBK("另存为");
}

const std::string& SaveChanges() {
  return TK571_GBK("保存修改");
}

const std::string& Print() {
  return TK571_GBK("打印");
}

const std::string& CloseWindow() {
  return TK571_GBK("关闭窗口");
}

}  // namespace tk571::ui::texts
