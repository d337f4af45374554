// The device test window through DLLTestDev against the controller simulator
// on a pseudo-terminal: the real driver object, its serial port and the
// line's timing, clicked through as a user would.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QTableWidget>
#include <string>

#include "e2e/plant_host.h"
#include "modal_script.h"
#include "tk571/driver.h"

namespace tk571::ui {
namespace {

using testing::Child;
using testing::Click;
using testing::ModalScript;
using testing::Type;
using tk571::testing::PlantHost;
using tk571::testing::SimSettings;

QString Cell(QWidget* window, int row, int column) {
  auto* grid = window->findChild<QTableWidget*>(QStringLiteral("StringGrid1"));
  QTableWidgetItem* item = grid ? grid->item(row, column) : nullptr;
  return item ? item->text() : QString();
}

QString Text(QWidget* window, const char* name) {
  auto* edit = window->findChild<QLineEdit*>(QLatin1String(name));
  return edit ? edit->text() : QString();
}

bool OnWire(const sim::Line& line, const std::string& entry) {
  return line.TraceText().find(entry) != std::string::npos;
}

TEST(DialogSimTest, ReadsAWeightSendsATypedRequestAndWritesAStart) {
  sim::Line line(SimSettings());
  line.AddController(1);
  line.WithController(1, [](sim::Controller& c, auto) { c.SetGrossWeight(12.5); });
  PlantHost host(line, {1});

  // The last step that ran, for a script that gave up waiting.
  std::string reached = "opening";
  ModalScript script;
  script
      // The window starts on the first device's weight and polls it.
      .On(
          "TSampleTest",
          [&](QWidget* w) {
            reached = "the weight";
            EXPECT_EQ(w->windowTitle(), QStringLiteral("设备测试窗口"));
            EXPECT_EQ(Text(w, "AddrEd"), QStringLiteral("READ1:1"));
            EXPECT_EQ(Cell(w, 0, 0), QStringLiteral("READ1:1"));
            EXPECT_FALSE(Text(w, "SysMsg").isEmpty()) << "the start message";
            EXPECT_TRUE(OnWire(line, ">> 05 49 44 30 31 0D 0A")) << line.TraceText();
            EXPECT_TRUE(OnWire(line, ">> 52 45 41 44 0D 0A")) << line.TraceText();
          },
          [](QWidget* w) { return Cell(w, 0, 1) == QStringLiteral("12.5"); })
      // Between exchanges the window shows the last one whole.
      .On(
          "TSampleTest",
          [&](QWidget* w) {
            reached = "the whole answer";
            EXPECT_EQ(Cell(w, 0, 2), QStringLiteral("读标签"));
            EXPECT_EQ(Cell(w, 0, 3), QStringLiteral("READ<CR><LF>"));
            line.ClearTrace();
            Type(w, "AskMsg", QStringLiteral("R"));
            Click(w, "AskBtn");
          },
          [](QWidget* w) {
            return Text(w, "AnswerMsg") == QStringLiteral("ST,GS,+0012.50kg<CR><LF>");
          })
      // The typed request takes the read command's place on the line and the
      // controller's answer to it shows.
      .On(
          "TSampleTest",
          [&](QWidget* w) {
            reached = "the answer to the typed request";
            EXPECT_TRUE(OnWire(line, ">> 52 0D 0A")) << line.TraceText();
            EXPECT_EQ(Cell(w, 0, 3), QStringLiteral("R<CR><LF>"));
            line.ClearTrace();
            Click(w, "DebugBtn");
            Type(w, "AddrEd", QStringLiteral("start_up1:1"));
            EXPECT_FALSE(Child<QCheckBox>(w, "WriteCk")->isEnabled());
            Click(w, "ReadCk");
            EXPECT_EQ(Text(w, "AddrEd"), QStringLiteral("START_UP1:1.-1"));
            EXPECT_TRUE(Child<QCheckBox>(w, "WriteCk")->isEnabled());
            Type(w, "wValueMsg", QStringLiteral("1"));
            Click(w, "WriteCk");
          },
          [](QWidget* w) { return Text(w, "AnswerMsg") == QStringLiteral("YES<CR><LF>"); })
      // A write-only tag: the start goes out once the write is checked, and
      // the controller answers it (without a recipe it refuses the start).
      .On(
          "TSampleTest",
          [&](QWidget* w) {
            reached = "the start on the line";
            EXPECT_EQ(Cell(w, 0, 0), QStringLiteral("START_UP1:1.-1"));
            EXPECT_EQ(Text(w, "wStrMsg"), QStringLiteral("ST<CR><LF>"));
            Click(w, "ExitBtn");
          },
          [&](QWidget* w) {
            return OnWire(line, ">> 53 54 0D 0A\n<< 4E 4F 20 3F 0D 0A") &&
                   Text(w, "wStrMsg") == QStringLiteral("ST<CR><LF>");
          });

  EXPECT_EQ(DLLTestDev(host.Block().data(), 1), 1) << "the controller answered";
  EXPECT_EQ(reached, "the start on the line") << line.TraceText();
  EXPECT_EQ(DetectScanTime(), 1000) << "the test leaves no driver object behind";
}

}  // namespace
}  // namespace tk571::ui
