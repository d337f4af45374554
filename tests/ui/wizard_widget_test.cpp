// The configuration wizard through DLLEdDev, clicked through as a user would.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QCheckBox>
#include <QComboBox>
#include <QPlainTextEdit>
#include <QTreeWidget>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

#include "config/device_pdb.h"
#include "modal_script.h"
#include "platform/gbk.h"
#include "tk571/driver.h"

namespace tk571::ui {
namespace {

using testing::Child;
using testing::Click;
using testing::ModalScript;
using testing::Shot;
using testing::Type;
using Block = std::vector<uint8_t>;

Block DefaultBlock() {
  Block host(kPdbSize, 0xA5);
  FullPDB(host.data());
  return host;
}

std::vector<int> Used(const Block& host) {
  const TDevicePDB block = TDevicePDB::Load(host.data());
  std::vector<int> used;
  for (int i = 0; i < kDeviceCount; ++i)
    if (block.TypeCode(i) != kEmptyTypeCode) used.push_back(i);
  return used;
}

// The block the copy routine writes into `original` from `edited`.
Block CopiedInto(const Block& original, const TDevicePDB& edited) {
  TDevicePDB target = TDevicePDB::Load(original.data());
  target.CopyFrom(edited);
  Block out(kPdbSize);
  target.Store(out.data());
  return out;
}

QStringList TreeTexts(QWidget* page) {
  QStringList texts;
  auto* tree = Child<QTreeWidget>(page, "DeviceTree");
  for (int i = 0; tree && i < tree->topLevelItemCount(); ++i)
    texts << tree->topLevelItem(i)->text(0);
  return texts;
}

void SelectDevice(QWidget* page, const QString& text) {
  auto* tree = Child<QTreeWidget>(page, "DeviceTree");
  const auto items = tree->findItems(text, Qt::MatchExactly);
  ASSERT_EQ(items.size(), 1) << text.toStdString();
  tree->setCurrentItem(items[0]);
}

TEST(WizardWidgetTest, NewSingleDeviceLeavesOneEntryWrittenByTheCopyRoutine) {
  Block host = DefaultBlock();
  const Block original = host;
  ModalScript script;
  script
      .On("TStartFrm",
          [](QWidget* w) {
            Shot(w, "wizard_1_start.png");
            Click(w, "NewOp");
            Click(w, "NextBtn");
          })
      .On("TStep1Frm",
          [](QWidget* w) {
            Shot(w, "wizard_2_create_mode.png");
            Click(w, "SingleCreate");
            Click(w, "NextBtn");
          })
      .On("TStep11Frm",
          [](QWidget* w) {
            Type(w, "IDEd", QStringLiteral("170"));
            EXPECT_EQ(Child<QLineEdit>(w, "IDEd")->text(), QStringLiteral("99"));
            Type(w, "IDEd", QStringLiteral("17"));
            Shot(w, "wizard_3_single_device.png");
            Click(w, "NextBtn");
          })
      .On("TStep4Frm", [](QWidget* w) { Click(w, "NextBtn"); })
      .On("TEndFrm", [](QWidget* w) {
        EXPECT_EQ(TreeTexts(w), QStringList{QStringLiteral("TK571：17")});
        Click(w, "FinishBtn");
      });
  EXPECT_EQ(DLLEdDev(0, host.data()), 1);
  EXPECT_TRUE(script.done());

  TDevicePDB edited = TDevicePDB::Load(original.data());
  for (int i = 0; i < kDeviceCount; ++i) {
    edited.SetDeviceNumber(i, static_cast<uint32_t>(i));
    edited.SetTypeCode(i, kEmptyTypeCode);
  }
  edited.SetTypeCode(17, 0);
  edited.SetConnectMode(0);
  edited.SetCurrentEntry(17);
  EXPECT_EQ(Used(host), std::vector<int>{17});
  EXPECT_EQ(host, CopiedInto(original, edited));
}

TEST(WizardWidgetTest, MultiDropListAddsDeletesMovesAndRefusesDuplicates) {
  Block host = DefaultBlock();
  std::string duplicate;
  ModalScript script;
  script
      .On("TStartFrm", [](QWidget* w) { Click(w, "NextBtn"); })  // 新建设备 is preselected
      .On("TStep1Frm",
          [](QWidget* w) {
            Click(w, "MulCreate");
            Click(w, "NextBtn");
          })
      .On("TStep12Frm",
          [](QWidget* w) {
            EXPECT_EQ(Child<QLineEdit>(w, "IDEd")->text(), QStringLiteral("1"));
            Click(w, "AddBtn");
            EXPECT_EQ(Child<QLineEdit>(w, "IDEd")->text(), QStringLiteral("2"));
            Type(w, "IDEd", QStringLiteral("5"));
            Click(w, "AddBtn");
            EXPECT_EQ(TreeTexts(w),
                      (QStringList{QStringLiteral("TK571：0"), QStringLiteral("TK571：1"),
                                   QStringLiteral("TK571：5")}));
            SelectDevice(w, QStringLiteral("TK571：1"));
            EXPECT_EQ(Child<QLineEdit>(w, "IDEd")->text(), QStringLiteral("1"));
            Type(w, "IDEd", QStringLiteral("9"), true);
            EXPECT_EQ(TreeTexts(w),
                      (QStringList{QStringLiteral("TK571：0"), QStringLiteral("TK571：9"),
                                   QStringLiteral("TK571：5")}));
            SelectDevice(w, QStringLiteral("TK571：5"));
            Shot(w, "wizard_4_device_list.png");
            Type(w, "IDEd", QStringLiteral("0"), true);  // opens the refusal
          })
      .Box(&duplicate)
      .On("TStep12Frm",
          [](QWidget* w) {
            EXPECT_EQ(Child<QLineEdit>(w, "IDEd")->text(), QStringLiteral("5"));
            SelectDevice(w, QStringLiteral("TK571：0"));
            Click(w, "DelBtn");
            Click(w, "NextBtn");
          })
      .On("TStep4Frm",
          [](QWidget* w) {
            auto* baud = Child<QComboBox>(w, "BautEd");
            EXPECT_EQ(baud->currentText(), QStringLiteral("9600"));
            baud->setCurrentIndex(9);
            emit baud->activated(9);
            Shot(w, "wizard_6_serial.png");
            Click(w, "NextBtn");
          })
      .On("TEndFrm", [](QWidget* w) {
        EXPECT_TRUE(Child<QPlainTextEdit>(w, "ComArgMemo")
                        ->toPlainText()
                        .contains(QStringLiteral("波特率 = 38400  偶校验")));
        Shot(w, "wizard_7_summary.png");
        Click(w, "FinishBtn");
      });
  EXPECT_EQ(DLLEdDev(0, host.data()), 1);
  EXPECT_EQ(duplicate, "设备号重复,请重新修改!");
  EXPECT_EQ(Used(host), (std::vector<int>{5, 9}));
  const TDevicePDB saved = TDevicePDB::Load(host.data());
  EXPECT_EQ(saved.ConnectMode(), 1);
  EXPECT_EQ(saved.BaudIndex(), 9);
  EXPECT_EQ(saved.TypeName(9), "TK571");
}

TEST(WizardWidgetTest, BackFromTheSerialPageReturnsToTheModifyPage) {
  Block host = DefaultBlock();
  const Block original = host;
  ModalScript script;
  script
      .On("TStartFrm",
          [](QWidget* w) {
            Click(w, "ModifyOp");
            Click(w, "NextBtn");
          })
      .On("TStep2Frm",
          [](QWidget* w) {
            Shot(w, "wizard_5_modify.png");
            Click(w, "NextBtn");
          })
      .On("TStep4Frm", [](QWidget* w) { Click(w, "LastBtn"); })
      .On("TStep2Frm", [](QWidget* w) { Click(w, "CancelBtn"); });
  EXPECT_EQ(DLLEdDev(0, host.data()), 2);
  EXPECT_EQ(host, original);
}

TEST(WizardWidgetTest, CancelOnAnyPageAnswers2AndLeavesTheHostBlock) {
  using Path = std::vector<std::pair<const char*, const char*>>;  // page, button
  const struct {
    const char* name;
    Path path;
  } cases[] = {
      {"start", {{"TStartFrm", "CancelBtn"}}},
      {"create mode", {{"TStartFrm", "NextBtn"}, {"TStep1Frm", "CancelBtn"}}},
      {"single",
       {{"TStartFrm", "NextBtn"},
        {"TStep1Frm", "SingleCreate"},
        {"TStep1Frm", "NextBtn"},
        {"TStep11Frm", "CancelBtn"}}},
      {"multiple",
       {{"TStartFrm", "NextBtn"},
        {"TStep1Frm", "NextBtn"},
        {"TStep12Frm", "AddBtn"},
        {"TStep12Frm", "CancelBtn"}}},
      {"modify", {{"TStartFrm", "ModifyOp"}, {"TStartFrm", "NextBtn"}, {"TStep2Frm", "CancelBtn"}}},
      {"serial",
       {{"TStartFrm", "ModifyOp"},
        {"TStartFrm", "NextBtn"},
        {"TStep2Frm", "NextBtn"},
        {"TStep4Frm", "CancelBtn"}}},
      {"summary", {{"TStartFrm", "BrowseOp"}, {"TStartFrm", "NextBtn"}, {"TEndFrm", "CancelBtn"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Block host = DefaultBlock();
    const Block original = host;
    {
      ModalScript script;
      for (const auto& [page, button] : c.path)
        script.On(page, [button = button](QWidget* w) { Click(w, button); });
      EXPECT_EQ(DLLEdDev(0, host.data()), 2);
    }
    EXPECT_EQ(host, original);
  }
}

TEST(WizardWidgetTest, ABlockWithAnUnknownTypeNameAnswers1EvenWhenCancelled) {
  Block host = DefaultBlock();
  TDevicePDB block = TDevicePDB::Load(host.data());
  block.SetTypeCode(3, 0);
  block.SetTypeName(3, "TK570");
  block.Store(host.data());
  const Block original = host;
  {
    ModalScript script;
    script.On("TStartFrm", [](QWidget* w) { Click(w, "CancelBtn"); });
    EXPECT_EQ(DLLEdDev(0, host.data()), 1);
  }
  EXPECT_EQ(Used(host), std::vector<int>{0});
  TDevicePDB expected = TDevicePDB::Load(original.data());
  expected.Normalize();
  Block expected_bytes(kPdbSize);
  expected.Store(expected_bytes.data());
  EXPECT_EQ(host, expected_bytes);
}

// The viewer reads the log of the host's default project.
class LogViewerWidgetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = std::filesystem::temp_directory_path() / ("tk571_ui_" + std::to_string(::getpid()));
    std::filesystem::create_directories(root_ / "host");
    std::filesystem::create_directories(root_ / "plant" / "Debug");
    std::ofstream(root_ / "host" / "Tesmark.ini")
        << "[WORKING]\nDefaultPROJECT=" << (root_ / "plant" / "line1.prj").string() << "\n";
    ::setenv("KELDA_PATH", (root_ / "host" / "Vanta.exe").c_str(), 1);
    log_ = root_ / "plant" / "Debug" / "TK571_485.Log";
  }
  void TearDown() override {
    ::unsetenv("KELDA_PATH");
    std::filesystem::remove_all(root_);
  }

  Block BlockWithSwitches(uint8_t debug, uint8_t errors, uint8_t trace) {
    Block host = DefaultBlock();
    host[TK571_PDB_DEBUG_ENABLED] = debug;
    host[TK571_PDB_LOG_ERRORS] = errors;
    host[TK571_PDB_LOG_TRACE] = trace;
    return host;
  }

  std::filesystem::path root_;
  std::filesystem::path log_;
};

TEST_F(LogViewerWidgetTest, OpensWithTheSwitchOnLoadsTheLogAndUncheckingClearsAllSwitches) {
  std::ofstream(log_, std::ios::binary)
      << platform::ToGbk("2024-05-01 08:00:00：驱动程序启动\r\n2024-05-01 08:00:01：通讯正常!\r\n");
  Block host = BlockWithSwitches(1, 1, 1);
  ModalScript script;
  script.On("TStartFrm", [](QWidget* w) { Click(w, "DebugBtn"); })
      .On(
          "TDebugFrm",
          [](QWidget* w) {
            auto* memo = Child<QPlainTextEdit>(w, "LogMemo");
            EXPECT_EQ(memo->toPlainText(), QStringLiteral("2024-05-01 08:00:00：驱动程序启动\n"
                                                          "2024-05-01 08:00:01：通讯正常!"));
            EXPECT_TRUE(Child<QCheckBox>(w, "ErrorChk")->isChecked());
            Shot(w, "log_viewer.png");
            Click(w, "EnDebugChk");
            EXPECT_FALSE(Child<QCheckBox>(w, "ErrorChk")->isChecked());
            EXPECT_FALSE(Child<QCheckBox>(w, "TraceChk")->isEnabled());
            EXPECT_TRUE(memo->toPlainText().isEmpty());
            Click(w, "FinishBtn");
          },
          // Ready once the log is loaded; a warning box on top would keep
          // this step from ever running.
          [](QWidget* w) {
            return !w->findChild<QPlainTextEdit*>(QStringLiteral("LogMemo"))
                        ->toPlainText()
                        .isEmpty();
          })
      .On("TStartFrm", [](QWidget* w) { Click(w, "CancelBtn"); });
  EXPECT_EQ(DLLEdDev(0, host.data()), 1);
  EXPECT_EQ(host[TK571_PDB_DEBUG_ENABLED], 0);
  EXPECT_EQ(host[TK571_PDB_LOG_ERRORS], 0);
  EXPECT_EQ(host[TK571_PDB_LOG_TRACE], 0);
}

TEST_F(LogViewerWidgetTest, SwitchingOnWarnsOnceAndSavingChangesWritesGbk) {
  Block host = BlockWithSwitches(0, 0, 0);
  std::string warning;
  ModalScript script;
  script.On("TStartFrm", [](QWidget* w) { Click(w, "DebugBtn"); })
      .On("TDebugFrm",
          [](QWidget* w) {
            EXPECT_FALSE(Child<QWidget>(w, "SaveBtn")->isEnabled());
            Click(w, "EnDebugChk");
          })
      .Box(&warning)
      .On("TDebugFrm",
          [](QWidget* w) {
            Click(w, "EnDebugChk");
            Click(w, "EnDebugChk");  // no second warning
            Click(w, "TraceChk");
          })
      .On(
          "TDebugFrm",
          [](QWidget* w) {
            Child<QPlainTextEdit>(w, "LogMemo")->setPlainText(QStringLiteral("行一\nline 2"));
            Click(w, "SpeedButton1");
            Click(w, "FinishBtn");
          },
          [](QWidget* w) { return w->findChild<QWidget*>(QStringLiteral("LoadBar"))->isHidden(); })
      .On("TStartFrm", [](QWidget* w) { Click(w, "CancelBtn"); });
  EXPECT_EQ(DLLEdDev(0, host.data()), 1);
  EXPECT_EQ(warning.rfind("！注意：调试对性能将产生不良影响", 0), 0u) << warning;
  EXPECT_EQ(host[TK571_PDB_DEBUG_ENABLED], 1);
  EXPECT_EQ(host[TK571_PDB_LOG_ERRORS], 0);
  EXPECT_EQ(host[TK571_PDB_LOG_TRACE], 1);
  std::ifstream in(log_, std::ios::binary);
  const std::string saved{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  EXPECT_EQ(saved, platform::ToGbk("行一\r\nline 2\r\n"));
}

}  // namespace
}  // namespace tk571::ui
