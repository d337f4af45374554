// The Win32 side of the platform layer: line settings as a DCB, port names,
// code page 936, file sharing for the run log, host strings, thread slots,
// the host's event and the installation's registry value.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <thread>
#include <vector>

#include "config/module_info.h"
#include "platform/auto_reset_event.h"
#include "platform/files.h"
#include "platform/gbk.h"
#include "platform/host_event.h"
#include "platform/host_install.h"
#include "platform/host_string.h"
#include "platform/host_version.h"
#include "platform/ini_file.h"
#include "platform/serial_port.h"
#include "platform/system_info.h"
#include "platform/thread_slot.h"
#include "platform/win32/serial_dcb.h"
#include "platform/win32/thread_slot_win32.h"
#include "platform/win32/windows_api.h"

namespace tk571::platform {
namespace {

SerialSettings Line(uint32_t baud, uint8_t bits, SerialParity parity, SerialStopBits stop,
                    SerialFlow flow, bool check = true) {
  SerialSettings s;
  s.baud = baud;
  s.data_bits = bits;
  s.parity = parity;
  s.stop_bits = stop;
  s.flow = flow;
  s.parity_check = check;
  s.xon_char = 'Q';
  s.xoff_char = 'S';
  return s;
}

// A DCB as a port might report it, with every optional flag switched on.
DCB FoundDcb() {
  DCB d{};
  d.DCBlength = sizeof(d);
  d.BaudRate = 1200;
  d.ByteSize = 5;
  d.fOutxCtsFlow = TRUE;
  d.fRtsControl = RTS_CONTROL_HANDSHAKE;
  d.fDtrControl = DTR_CONTROL_ENABLE;
  d.fDsrSensitivity = TRUE;
  d.fTXContinueOnXoff = TRUE;
  d.fErrorChar = TRUE;
  d.fNull = TRUE;
  d.fAbortOnError = TRUE;
  return d;
}

TEST(SerialDcbTest, SettingsMapOntoTheDcb) {
  struct Case {
    const char* what;
    SerialSettings settings;
    DWORD baud;
    BYTE bits, parity, stop;
    bool parity_check, cts, out_x, dtr_handshake;
    DWORD rts;
  };
  const Case cases[] = {
      {"9600 7E1, the port's own flow",
       Line(9600, 7, SerialParity::kEven, SerialStopBits::kOne, SerialFlow::kKeep), 9600, 7,
       EVENPARITY, ONESTOPBIT, true, true, false, false, RTS_CONTROL_HANDSHAKE},
      {"19200 8N1 without flow control",
       Line(19200, 8, SerialParity::kNone, SerialStopBits::kOne, SerialFlow::kNone), 19200, 8,
       NOPARITY, ONESTOPBIT, false, false, false, false, RTS_CONTROL_DISABLE},
      {"one and a half stop bits stay",
       Line(110, 5, SerialParity::kOdd, SerialStopBits::kOneAndHalf, SerialFlow::kNone), 110, 5,
       ODDPARITY, ONE5STOPBITS, true, false, false, false, RTS_CONTROL_DISABLE},
      {"mark parity, XON/XOFF",
       Line(256000, 8, SerialParity::kMark, SerialStopBits::kTwo, SerialFlow::kXonXoff), 256000, 8,
       MARKPARITY, TWOSTOPBITS, true, true, true, false, RTS_CONTROL_HANDSHAKE},
      {"space parity unchecked, DSR/DTR",
       Line(56000, 6, SerialParity::kSpace, SerialStopBits::kOne, SerialFlow::kDsrDtr, false),
       56000, 6, SPACEPARITY, ONESTOPBIT, false, true, false, true, RTS_CONTROL_HANDSHAKE},
      {"four data bits exist on Windows",
       Line(300, 4, SerialParity::kNone, SerialStopBits::kOne, SerialFlow::kRtsCts), 300, 4,
       NOPARITY, ONESTOPBIT, false, true, false, false, RTS_CONTROL_HANDSHAKE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    DCB d = FoundDcb();
    ASSERT_TRUE(win32::ApplyToDcb(c.settings, d));
    EXPECT_EQ(d.BaudRate, c.baud);
    EXPECT_EQ(d.ByteSize, c.bits);
    EXPECT_EQ(d.Parity, c.parity);
    EXPECT_EQ(d.StopBits, c.stop);
    EXPECT_EQ(d.fParity != 0, c.parity_check);
    EXPECT_EQ(d.fOutxCtsFlow != 0, c.cts);
    EXPECT_EQ(d.fOutX != 0, c.out_x);
    EXPECT_EQ(d.fInX != 0, c.out_x);
    EXPECT_EQ(d.fDtrControl == DTR_CONTROL_HANDSHAKE, c.dtr_handshake);
    EXPECT_EQ(d.fRtsControl, c.rts);
    EXPECT_TRUE(d.fBinary);
    EXPECT_FALSE(d.fDsrSensitivity);
    EXPECT_FALSE(d.fTXContinueOnXoff);
    EXPECT_FALSE(d.fErrorChar);
    EXPECT_FALSE(d.fNull);
    EXPECT_FALSE(d.fAbortOnError);
    EXPECT_EQ(d.XonChar, 'Q');
    EXPECT_EQ(d.XoffChar, 'S');
    EXPECT_EQ(d.XonLim, 80);
    EXPECT_EQ(d.XoffLim, 200);
  }
}

TEST(SerialDcbTest, DataBitsOutsideFourToEightLeaveTheDcbAlone) {
  for (uint8_t bits : {0, 3, 9}) {
    DCB d = FoundDcb();
    EXPECT_FALSE(win32::ApplyToDcb(
        Line(9600, bits, SerialParity::kNone, SerialStopBits::kOne, SerialFlow::kNone), d));
    EXPECT_EQ(d.BaudRate, 1200u);
    EXPECT_EQ(d.ByteSize, 5);
    EXPECT_TRUE(d.fNull);
  }
}

TEST(SerialDcbTest, PlainFrameKeepsEverythingButSizeAndParity) {
  DCB d = FoundDcb();
  ASSERT_TRUE(win32::ApplyToDcb(
      Line(9600, 7, SerialParity::kEven, SerialStopBits::kTwo, SerialFlow::kKeep), d));
  const DCB plain = win32::WithPlainFrame(d);
  EXPECT_EQ(plain.ByteSize, 8);
  EXPECT_EQ(plain.Parity, NOPARITY);
  EXPECT_FALSE(plain.fParity);
  EXPECT_EQ(plain.BaudRate, 9600u);
  EXPECT_EQ(plain.StopBits, TWOSTOPBITS);
  EXPECT_EQ(plain.fRtsControl, static_cast<DWORD>(RTS_CONTROL_HANDSHAKE));
}

TEST(SerialPortTest, PortNamesGetThePrefixFromCom10On) {
  EXPECT_EQ(SerialDevicePath(0), "Com1");
  EXPECT_EQ(SerialDevicePath(8), "Com9");
  EXPECT_EQ(SerialDevicePath(9), "\\\\?\\Com10");
  EXPECT_EQ(SerialDevicePath(15), "\\\\?\\Com16");
}

TEST(GbkTest, TextsConvertThroughCodePage936) {
  struct Case {
    const char* utf8;
    const char* gbk;
  };
  const Case cases[] = {
      {"通讯设备初始化失败",
       "\xCD\xA8\xD1\xB6\xC9\xE8\xB1\xB8\xB3\xF5\xCA\xBC\xBB\xAF\xCA\xA7\xB0\xDC"},
      {"READ1：1。",
       "READ1\xA3\xBA"
       "1\xA1\xA3"},
      {"", ""},
      {"plain", "plain"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.utf8);
    EXPECT_EQ(ToGbk(c.utf8), c.gbk);
    EXPECT_EQ(FromGbk(c.gbk), c.utf8);
  }
  // Not in the code page.
  EXPECT_EQ(ToGbk("a\xE2\x82\xA9z"), "a?z");  // WON SIGN
}

class TempDirectory {
 public:
  TempDirectory() {
    char base[MAX_PATH];
    GetTempPathA(MAX_PATH, base);
    path_ = std::string(base) + "tk571-" + std::to_string(GetCurrentProcessId()) + "-" +
            std::to_string(GetTickCount());
    CreateDirectoryA(path_.c_str(), nullptr);
  }
  ~TempDirectory() {
    for (const std::string& name : ListDirectory(path_)) {
      const std::string entry = path_ + "\\" + name;
      if (!DeleteFileA(entry.c_str())) RemoveDirectoryA(entry.c_str());
    }
    RemoveDirectoryA(path_.c_str());
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

TEST(SerialPortTest, FilesAndMissingPortsAreNoSerialPorts) {
  SerialPort port;
  const SerialOpenOutcome missing = port.Open("\\\\?\\Com99");
  EXPECT_EQ(missing.result, SerialOpenResult::kMissing);
  EXPECT_EQ(SerialOpenReason("\\\\?\\Com99", missing), "does not exist");
  EXPECT_FALSE(port.IsOpen());
  TempDirectory dir;
  const std::string file = dir.path() + "\\port.txt";
  ASSERT_TRUE(CreateFileIfMissing(file));
  const SerialOpenOutcome not_serial = port.Open(file);
  EXPECT_EQ(not_serial.result, SerialOpenResult::kNotSerial);
  EXPECT_EQ(SerialOpenReason(file, not_serial), "not a serial device");
  EXPECT_FALSE(port.IsOpen());
  std::size_t count = 1;
  EXPECT_EQ(port.Available(count), SerialIo::kFailed);
  EXPECT_EQ(count, 0u);
}

TEST(SerialPortTest, ReasonsNameWhatOpeningThePortAnswered) {
  struct Case {
    SerialOpenResult result;
    int error;
    const char* reason;
  };
  const Case cases[] = {
      {SerialOpenResult::kOpened, 0, "free"},
      {SerialOpenResult::kBusy, 0, "access denied, held by another program"},
      {SerialOpenResult::kFailed, ERROR_GEN_FAILURE, "cannot be opened: "},
  };
  for (const Case& c : cases) {
    SerialOpenOutcome outcome;
    outcome.result = c.result;
    outcome.error = c.error;
    const std::string reason = SerialOpenReason("COM1", outcome);
    if (c.result != SerialOpenResult::kFailed) {
      EXPECT_EQ(reason, c.reason);
      continue;
    }
    // The system's own words come between, in whatever wording it has.
    EXPECT_EQ(reason.rfind(c.reason, 0), 0u) << reason;
    EXPECT_TRUE(reason.ends_with("(Windows error 31)")) << reason;
  }
}

TEST(SerialPortTest, DirectionControlNeedsAnOpenPort) {
  SerialPort port;
  SerialRs485 applied;
  EXPECT_EQ(port.EnableRs485(SerialRs485{true, 0, 0}, applied), EBADF);
}

TEST(FilesTest, AppendIsRefusedWhileAnotherWriterHoldsTheLog) {
  TempDirectory dir;
  const std::string log = dir.path() + "\\run.log";
  ASSERT_EQ(AppendLocked(log, "one\r\n"), AppendResult::kWritten);
  {
    // Another program writing the log, denying other writers.
    HANDLE other = CreateFileA(log.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(other, INVALID_HANDLE_VALUE);
    EXPECT_EQ(AppendLocked(log, "lost\r\n"), AppendResult::kBusy);
    CloseHandle(other);
  }
  {
    // A reader does not stop the log.
    HANDLE reader = CreateFileA(log.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    EXPECT_EQ(AppendLocked(log, "two\r\n"), AppendResult::kWritten);
    EXPECT_EQ(ReadFileHead(log, 1000), "one\r\ntwo\r\n");
    CloseHandle(reader);
  }
  EXPECT_EQ(FileSize(log), 10u);
  EXPECT_EQ(AppendLocked(dir.path(), "x"), AppendResult::kFailed);
  EXPECT_EQ(AppendLocked("", "x"), AppendResult::kFailed);
}

TEST(FilesTest, DirectoriesRenamesAndListings) {
  TempDirectory dir;
  const std::string nested = dir.path() + "/Log/2026\\12";
  EXPECT_TRUE(MakeDirectories(nested));
  EXPECT_TRUE(IsDirectory(nested));
  EXPECT_FALSE(IsRegularFile(nested));
  EXPECT_FALSE(MakeDirectories(""));

  const std::string a = dir.path() + "\\a.log";
  const std::string b = dir.path() + "\\b.log";
  ASSERT_EQ(AppendLocked(a, "A"), AppendResult::kWritten);
  ASSERT_EQ(AppendLocked(b, "B"), AppendResult::kWritten);
  EXPECT_TRUE(CreateFileIfMissing(a));
  EXPECT_EQ(ReadFileHead(a, 10), "A");
  // An existing target is never replaced.
  EXPECT_FALSE(RenameNoReplace(a, b));
  EXPECT_EQ(ReadFileHead(b, 10), "B");
  const std::string c = dir.path() + "\\c.log";
  EXPECT_TRUE(RenameNoReplace(a, c));
  EXPECT_FALSE(PathExists(a));
  EXPECT_EQ(ReadFileHead(c, 10), "A");
  EXPECT_TRUE(ModificationTime(c).has_value());

  std::vector<std::string> names = ListDirectory(dir.path());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"Log", "b.log", "c.log"}));
  EXPECT_TRUE(DeleteFile(c));
  EXPECT_FALSE(DeleteFile(c));
  EXPECT_EQ(ReadFileHead(c, 10), std::nullopt);
  EXPECT_EQ(ReadFileHead(dir.path(), 10), std::nullopt);
}

TEST(IniFileTest, ProfileValuesOfAFileNamedRelativeToTheWorkingDirectory) {
  TempDirectory dir;
  ASSERT_EQ(AppendLocked(dir.path() + "\\Tesmark.ini",
                         "; installation\r\n[Other]\r\nDefaultPROJECT=wrong\r\n"
                         "[working]\r\n defaultproject = \"D:\\Plant\\Line 1.prj\" \r\n"),
            AppendResult::kWritten);
  char previous[MAX_PATH];
  GetCurrentDirectoryA(MAX_PATH, previous);
  ASSERT_TRUE(SetCurrentDirectoryA(dir.path().c_str()));
  struct Case {
    const char* path;
    const char* section;
    const char* key;
    const char* expected;
  };
  const Case cases[] = {
      {".\\Tesmark.ini", "WORKING", "DefaultPROJECT", "D:\\Plant\\Line 1.prj"},
      {"./Tesmark.ini", "Other", "DefaultPROJECT", "wrong"},
      {".\\Tesmark.ini", "WORKING", "Missing", "fallback"},
      {".\\Missing.ini", "WORKING", "DefaultPROJECT", "fallback"},
      {"Tesmark.ini", "Nowhere", "DefaultPROJECT", "fallback"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.path) + " " + c.section + " " + c.key);
    EXPECT_EQ(ReadIniString(c.path, c.section, c.key, "fallback"), c.expected);
  }
  SetCurrentDirectoryA(previous);
}

TEST(AutoResetEventTest, OneWaiterPassesPerSet) {
  AutoResetEvent gate(true);
  EXPECT_TRUE(gate.Wait(0));
  EXPECT_FALSE(gate.Wait(0));
  gate.Set();
  gate.Set();
  EXPECT_TRUE(gate.Wait(0));
  EXPECT_FALSE(gate.Wait(0));
  AutoResetEvent closed(false);
  EXPECT_FALSE(closed.Wait(1));
}

TEST(VersionResourceTest, TheHostsTextsComeFromItsProgramsResource) {
  const HostVersionResource resource;
  ASSERT_TRUE(resource.Found());
  EXPECT_EQ(resource.Value("FileDescription"), "\xB2\xE2\xCA\xD4\xD6\xF7\xBB\xFA");
  EXPECT_EQ(resource.Value("CompanyName"), "Host Works");
  EXPECT_EQ(resource.Value("DeviceName"), std::nullopt);

  const TfileInfo host = BuildHostModuleInfo("C:/Vanta/");
  EXPECT_EQ(host.FileDescription(), ToGbk("测试主机"));
  EXPECT_EQ(host.DevTypeName(), ToGbk("称重仪表"));
  EXPECT_EQ(host[TfileInfo::kFixedFileVersion], "2.3.4.5");
  EXPECT_EQ(host.DeviceName(), ToGbk("无名设备")) << "a key the resource lacks keeps its default";
  EXPECT_EQ(host.HostDirectory(), "C:/Vanta/");
}

TEST(VersionResourceTest, TheDriversRecordNamesTheDll) {
  const TfileInfo driver = BuildDriverModuleInfo("C:/Vanta/");
  EXPECT_EQ(driver[TfileInfo::kOriginalFileName], "TK571_485.dll");
  EXPECT_EQ(driver[TfileInfo::kInternalName], "TK571_485");
  EXPECT_EQ(driver.DeviceName(), ToGbk("TK571配料控制器(RS485)"));
}

TEST(HostStringTest, WithoutAMemoryManagerStringsComeFromTheProcessHeap) {
  EXPECT_EQ(NewHostString(""), nullptr);
  char* text = NewHostString("\xCD\xA8\xD1\xB6");
  ASSERT_NE(text, nullptr);
  EXPECT_STREQ(text, "\xCD\xA8\xD1\xB6");
  EXPECT_EQ(HeapSize(GetProcessHeap(), 0, text), 5u);
  FreeHostString(text);
  FreeHostString(nullptr);
}

TEST(ThreadSlotTest, AThreadsValueIsDestroyedOffTheLoaderLockWhenThatThreadDetaches) {
  // The loader lock is held while a thread detaches: the value goes on a
  // thread of its own, where its destructor may wait for other threads.
  static HANDLE done;
  static int destroyed;
  static DWORD destroyed_on;
  done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  destroyed = 0;
  ThreadSlot slot([](void* value) {
    destroyed = *static_cast<int*>(value);
    destroyed_on = GetCurrentThreadId();
    SetEvent(done);
  });
  int mine = 1;
  int theirs = 2;
  slot.Set(&mine);
  DWORD ending = 0;
  std::thread other([&] {
    ending = GetCurrentThreadId();
    EXPECT_EQ(slot.Get(), nullptr);
    slot.Set(&theirs);
    // What the loader runs for a thread that ends.
    win32::DestroyThreadValues();
    EXPECT_EQ(slot.Get(), nullptr);
  });
  other.join();
  ASSERT_EQ(WaitForSingleObject(done, 10000), WAIT_OBJECT_0);
  EXPECT_EQ(destroyed, 2);
  EXPECT_NE(destroyed_on, ending);
  EXPECT_NE(destroyed_on, GetCurrentThreadId());
  EXPECT_EQ(slot.Get(), &mine);
  slot.Set(nullptr);
  CloseHandle(done);
}

TEST(HostEventTest, TheHostsEventIsSet) {
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  ASSERT_NE(event, nullptr);
  SignalHostEvent(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(event)));
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
  CloseHandle(event);
  SignalHostEvent(0);
  SignalHostEvent(0xFFFFFFF0u);
}

TEST(HostInstallTest, HostPathComesFromTheRegistry) {
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\KELDA");
  EXPECT_EQ(HostProgramPath(), "");
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\KELDA", 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &key, nullptr),
            ERROR_SUCCESS);
  const char path[] = "C:\\Vanta\\Vanta.exe";
  RegSetValueExA(key, "PATH", 0, REG_SZ, reinterpret_cast<const BYTE*>(path), sizeof(path));
  RegCloseKey(key);
  EXPECT_EQ(HostProgramPath(), path);
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\KELDA");
}

TEST(SystemInfoTest, FiguresOfTheMachine) {
  EXPECT_EQ(ArchitectureName(), "Intel");
  const MemoryStatus memory = ReadMemoryStatus();
  EXPECT_GT(memory.total_physical, 0u);
  EXPECT_LE(memory.available_physical, memory.total_physical);
  EXPECT_GT(memory.total_virtual, 0u);
  EXPECT_LE(memory.load_percent, 100u);
  const std::optional<std::string> cpu = ProcessorDescription();
  ASSERT_TRUE(cpu.has_value());
  EXPECT_FALSE(cpu->empty());
}

}  // namespace
}  // namespace tk571::platform
