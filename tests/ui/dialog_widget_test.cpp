// The device test window against a fake driver, and printing to PDF.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QCheckBox>
#include <QPlainTextEdit>
#include <QPrinter>
#include <QTableWidget>
#include <filesystem>
#include <fstream>

#include "fake_test_driver.h"
#include "modal_script.h"
#include "platform/gbk.h"
#include "ui/qt/debug_viewer_widget.h"
#include "ui/qt/sample_test_widget.h"
#include "ui/qt/widget_common.h"
#include "ui/qt/wizard_widgets.h"

namespace tk571::ui {
namespace {

using testing::Child;
using testing::Click;
using testing::FakeDriver;
using testing::Shot;
using testing::Type;

TDevicePDB BlockWithDevices(std::initializer_list<int> used) {
  TDevicePDB block;
  block.FillDefaults();
  block.SetTypeCode(0, kEmptyTypeCode);
  for (int i : used) {
    block.SetTypeCode(i, 0);
    block.SetTypeName(i, "TK571");
  }
  return block;
}

// Runs the window's timer until `done` holds.
template <typename Done>
void SpinUntil(Done done) {
  for (int i = 0; i < 2000 && !done(); ++i) QTest::qWait(5);
}

TEST(SampleTestWidgetTest, OpensOnReadOfTheFirstDeviceAndShowsItsValues) {
  FakeDriver driver;
  driver.answer_from_step = 2;
  driver.start_message = platform::ToGbk("通讯正常!\r\n");
  DeviceTestSession session(driver);
  ASSERT_TRUE(session.Begin(BlockWithDevices({1, 2})));
  driver.object->scan_time = 20;
  driver.object->read_requests = {"\x05ID01\r\n", "READ\r\n"};
  driver.object->tags[0].value = TagValue::Double(1234.5);
  driver.object->current_response = "ST,GS,+1234.5kg\r\n";
  TSampleTest window(session);
  window.show();
  EXPECT_EQ(window.windowTitle(), QStringLiteral("设备测试窗口"));
  EXPECT_EQ(Child<QLineEdit>(&window, "AddrEd")->text(), QStringLiteral("READ1:1"));
  EXPECT_EQ(Child<QLineEdit>(&window, "SysMsg")->text(), QStringLiteral("通讯正常!"));
  auto* grid = Child<QTableWidget>(&window, "StringGrid1");
  SpinUntil([&] { return session.answered(); });
  ASSERT_TRUE(session.answered());
  EXPECT_EQ(grid->horizontalHeaderItem(0)->text(), QStringLiteral("标签地址"));
  EXPECT_EQ(grid->item(0, 0)->text(), QStringLiteral("READ1:1"));
  EXPECT_EQ(grid->item(0, 1)->text(), QStringLiteral("1234.5"));
  EXPECT_EQ(grid->item(0, 2)->text(), QStringLiteral("读标签"));
  EXPECT_EQ(grid->item(1, 3)->text(), QStringLiteral("<ENQ>ID01<CR><LF>"));
  EXPECT_EQ(Child<QLineEdit>(&window, "AnswerMsg")->text(),
            QStringLiteral("ST,GS,+1234.5kg<CR><LF>"));
  EXPECT_FALSE(Child<QWidget>(&window, "AdvancedPanel")->isVisible());
  Shot(&window, "device_test.png");

  Click(&window, "DebugBtn");
  EXPECT_TRUE(Child<QWidget>(&window, "AdvancedPanel")->isVisible());
  EXPECT_EQ(Child<QPushButton>(&window, "DebugBtn")->text(), QStringLiteral("自动检测↑"));
  EXPECT_FALSE(Child<QPushButton>(&window, "PauseBtn")->isEnabled());
  Type(&window, "AddrEd", QStringLiteral("m_final1:2"));
  Click(&window, "ReadCk");
  EXPECT_EQ(Child<QLineEdit>(&window, "AddrEd")->text(), QStringLiteral("M_FINAL1:2"));
  EXPECT_EQ(driver.calls.back(), "start M_FINAL1:2");
  EXPECT_TRUE(Child<QCheckBox>(&window, "WriteCk")->isEnabled());
  SpinUntil([&] { return driver.object->steps > 0; });
  Type(&window, "wValueMsg", QStringLiteral("12.5"));
  Click(&window, "WriteCk");
  ASSERT_EQ(driver.object->writes.size(), 1u);
  EXPECT_TRUE(driver.object->writes[0].second == TagValue::Double(12.5));
  Shot(&window, "device_test_advanced.png");

  Click(&window, "ExitBtn");
  EXPECT_EQ(window.result(), QDialog::Accepted);
  EXPECT_EQ(driver.calls.back(), "stop");
}

TEST(SampleTestWidgetTest, PauseStopsTheTimerAndAPortHeldElsewhereIsReported) {
  FakeDriver driver;
  DeviceTestSession session(driver);
  ASSERT_TRUE(session.Begin(BlockWithDevices({0})));
  TSampleTest window(session);
  window.show();
  auto* timer = window.findChild<QTimer*>(QStringLiteral("Timer1"));
  ASSERT_NE(timer, nullptr);
  EXPECT_TRUE(timer->isActive());
  Click(&window, "PauseBtn");
  EXPECT_FALSE(timer->isActive());
  EXPECT_EQ(Child<QPushButton>(&window, "PauseBtn")->text(), QStringLiteral("继续"));
  Click(&window, "PauseBtn");
  EXPECT_TRUE(timer->isActive());

  Click(&window, "DebugBtn");
  driver.start_ok = false;
  driver.port_busy = true;
  std::string text;
  {
    testing::ModalScript script;
    script.Box(&text);
    Click(&window, "ReadCk");
  }
  EXPECT_EQ(text, "串口被其他应用程序占用!");
  window.close();
  EXPECT_EQ(window.result(), QDialog::Rejected);
}

class PrintTest : public ::testing::Test {
 protected:
  void SetUp() override {
    pdf_ = std::filesystem::temp_directory_path() /
           ("tk571_print_" + std::to_string(::getpid()) + ".pdf");
  }
  void TearDown() override { std::filesystem::remove(pdf_); }
  void ToPdf(QPrinter& printer) {
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(QString::fromStdString(pdf_.string()));
  }
  bool IsPdf() {
    std::ifstream in(pdf_, std::ios::binary);
    std::string head(5, '\0');
    in.read(head.data(), 5);
    return head == "%PDF-" && std::filesystem::file_size(pdf_) > 1000;
  }
  std::filesystem::path pdf_;
};

TEST_F(PrintTest, TheSummaryPageAndTheLogPrintToPdf) {
  std::vector<uint8_t> host(kPdbSize);
  TDevicePDB defaults;
  defaults.FillDefaults();
  defaults.Store(host.data());
  WizardSession session(host.data());
  const DriverInfo info = CurrentDriverInfo();
  {
    TEndFrm page(session, info);
    QPrinter printer(QPrinter::HighResolution);
    ToPdf(printer);
    EXPECT_TRUE(PrintWidget(&page, printer));
    EXPECT_TRUE(IsPdf());
  }
  {
    session.Work().SetDebugEnabled(1);
    TDebugFrm viewer(session, info, "/nonexistent/TK571_485.Log");
    auto* memo = Child<QPlainTextEdit>(&viewer, "LogMemo");
    QStringList lines;
    for (int i = 0; i < 200; ++i) lines << QStringLiteral("第%1行：通讯正常!").arg(i);
    memo->setPlainText(lines.join(QLatin1Char('\n')));
    QPrinter printer(QPrinter::HighResolution);
    ToPdf(printer);
    EXPECT_TRUE(viewer.PrintLog(printer));
    EXPECT_TRUE(IsPdf());
    EXPECT_EQ(viewer.logic().view().lines.size(), 200u);
  }
}

}  // namespace
}  // namespace tk571::ui
