// A Windows host against the controller simulator on COM1 (a pseudo-terminal
// behind wine): the device test run, two controllers polled, a recipe loaded
// into one and a batch started there, set-points read back from the other.
// Before that, a thread that started the driver ends without FreeDriver: its
// object must go with it, stop report and all. At the end the library is
// unloaded under a running driver object and loaded again: the object's line
// thread must end without hanging the unload, and the port must be free.
//   plant_host <recipe of controller 2: FINAL of material 1>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "sim_line_block.h"
#include "tk571/driver.h"
// The Windows API after the driver's header, as a host includes them.
#include <windows.h>

namespace {

constexpr DWORD kStepLimitMs = 30000;

struct Driver {
  TK571_IniDriver ini_driver;
  TK571_FreeDriver free_driver;
  TK571_OnDataRead on_data_read;
  TK571_OnDataWrite on_data_write;
  TK571_DetectScanTime detect_scan_time;
  TK571_GetDeviceStatus get_device_status;
  TK571_FullPDB full_pdb;
  TK571_DLLTestDev dll_test_dev;
};

Driver g_driver;

template <typename F>
bool Bind(HMODULE library, const char* name, F& function) {
  function = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(library, name)));
  if (!function) std::fprintf(stderr, "missing entry point %s\n", name);
  return function != nullptr;
}

void FreeText(char* text) {
  if (text) HeapFree(GetProcessHeap(), 0, text);
}

TTagInfo Tag(uint32_t id, const std::string& address, uint8_t kind = TK571_VALUE_FLOAT) {
  TTagInfo info;
  std::memset(&info, 0, sizeof(info));
  info.TagID = id;
  const std::string name = "T" + std::to_string(id);
  std::memcpy(info.Name, name.data(), name.size());
  std::memcpy(info.Address, address.data(), address.size());
  info.DataKind = kind;
  info.ScanTime = 100;
  return info;
}

constexpr uint32_t kRead1 = 1;
constexpr uint32_t kRead2 = 2;
constexpr uint32_t kLoad1 = 40;
constexpr uint32_t kStart1 = 50;
constexpr uint32_t kReadBack2 = 70;
constexpr uint32_t kFinal2 = 71;
uint32_t FinalId(int m) {
  return 10 + static_cast<uint32_t>(m);
}
uint32_t CoarseId(int m) {
  return 20 + static_cast<uint32_t>(m);
}
uint32_t FineId(int m) {
  return 30 + static_cast<uint32_t>(m);
}
uint32_t AmountId(int m) {
  return 60 + static_cast<uint32_t>(m);
}

std::vector<TTagInfo> PlantTags() {
  std::vector<TTagInfo> tags{Tag(kRead1, "READ1:1"), Tag(kRead2, "READ2:1")};
  for (int m = 1; m <= 4; ++m) {
    const std::string ch = "1:" + std::to_string(m);
    tags.push_back(Tag(FinalId(m), "M_FINAL" + ch));
    tags.push_back(Tag(CoarseId(m), "M_COARSE" + ch));
    tags.push_back(Tag(FineId(m), "M_FINE" + ch));
    tags.push_back(Tag(AmountId(m), "ENQ" + ch));
  }
  tags.push_back(Tag(kLoad1, "LOAD_SETM1:1", TK571_VALUE_BOOL));
  tags.push_back(Tag(kStart1, "START_UP1:1", TK571_VALUE_BOOL));
  tags.push_back(Tag(kReadBack2, "READ_SETM2:1", TK571_VALUE_BOOL));
  tags.push_back(Tag(kFinal2, "M_FINAL2:1"));
  return tags;
}

// The simulated line, controllers polled on RS-485.
std::vector<uint8_t> PlantBlock() {
  std::vector<uint8_t> block = tk571_test::SimLineBlock(g_driver.full_pdb);
  block[TK571_PDB_CONNECT_MODE] = 1;
  return block;
}

class Host {
 public:
  bool Start(std::vector<uint8_t>& block) {
    tags_ = PlantTags();
    std::vector<TTagInfo*> pointers;
    for (TTagInfo& t : tags_) pointers.push_back(&t);
    records_.resize(tags_.size());
    char* message = nullptr;
    const bool ok = g_driver.ini_driver(static_cast<int32_t>(pointers.size()), pointers.data(),
                                        block.data(), &message) != 0;
    FreeText(message);
    return ok;
  }

  void PollOnce() {
    int32_t count = 0;
    char* message = nullptr;
    g_driver.on_data_read(&count, records_.data(), &message);
    FreeText(message);
    for (int32_t i = 0; i < count; ++i) {
      TTagValueRec& r = records_[static_cast<std::size_t>(i)];
      if (r.ValueType == TK571_VALUE_STRING) {
        FreeText(r.Value.String);
        continue;
      }
      values_[r.TagID] = r.ValueType == TK571_VALUE_BOOL ? r.Value.Bool : r.Value.Float;
    }
  }

  bool PollUntil(const char* what, const std::function<bool()>& done) {
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < kStepLimitMs) {
      PollOnce();
      if (done()) {
        std::printf("%s: after %lu ms\n", what, GetTickCount() - start);
        return true;
      }
      Sleep(g_driver.detect_scan_time());
    }
    std::fprintf(stderr, "%s: not within %lu ms\n", what, kStepLimitMs);
    return false;
  }

  bool Write(uint32_t id, double value, uint8_t type = TK571_VALUE_FLOAT) {
    TTagValueRec r;
    std::memset(&r, 0, sizeof(r));
    r.TagID = id;
    r.ValueType = type;
    if (type == TK571_VALUE_BOOL) {
      r.Value.Bool = value != 0;
    } else {
      r.Value.Float = value;
    }
    char* message = nullptr;
    const bool ok = g_driver.on_data_write(1, &r, &message) != 0;
    FreeText(message);
    return ok;
  }

  double Value(uint32_t id) const {
    const auto it = values_.find(id);
    return it == values_.end() ? -1.0 : it->second;
  }

 private:
  std::vector<TTagInfo> tags_;
  std::vector<TTagValueRec> records_;
  std::map<uint32_t, double> values_;
};

// Stop reports in the run log ("本次运行总时间" in code page 936). Without
// a host installation the log is below the working directory.
int StopReportsInLog() {
  static const std::string kStopReport = "\xB1\xBE\xB4\xCE\xD4\xCB\xD0\xD0\xD7\xDC\xCA\xB1\xBC\xE4";
  std::FILE* log = std::fopen("Debug\\TK571_485.Log", "rb");
  if (!log) return 0;
  std::string text;
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof(buffer), log)) > 0;) text.append(buffer, n);
  std::fclose(log);
  int count = 0;
  for (std::size_t at = text.find(kStopReport); at != std::string::npos;
       at = text.find(kStopReport, at + 1))
    ++count;
  return count;
}

HMODULE LoadDriver() {
  HMODULE library = LoadLibraryA("TK571_485.dll");
  if (!library) {
    std::fprintf(stderr, "LoadLibrary: error %lu\n", GetLastError());
    return nullptr;
  }
  if (!Bind(library, "IniDriver", g_driver.ini_driver) ||
      !Bind(library, "FreeDriver", g_driver.free_driver) ||
      !Bind(library, "OnDataRead", g_driver.on_data_read) ||
      !Bind(library, "OnDataWrite", g_driver.on_data_write) ||
      !Bind(library, "DetectScanTime", g_driver.detect_scan_time) ||
      !Bind(library, "GetDeviceStatus", g_driver.get_device_status) ||
      !Bind(library, "FullPDB", g_driver.full_pdb) ||
      !Bind(library, "DLLTestDev", g_driver.dll_test_dev)) {
    FreeLibrary(library);
    return nullptr;
  }
  return library;
}

// Polls the run log until it holds `count` stop reports.
bool AwaitStopReports(int count) {
  for (DWORD waited = 0; waited < kStepLimitMs; waited += 50) {
    if (StopReportsInLog() >= count) return true;
    Sleep(50);
  }
  return false;
}

// A polling thread that ends without stopping its driver object.
DWORD WINAPI ShortLivedPoller(void*) {
  std::vector<uint8_t> block = PlantBlock();
  Host host;
  if (!host.Start(block)) return 1;
  for (int i = 0; i < 10; ++i) {
    host.PollOnce();
    Sleep(g_driver.detect_scan_time());
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  const double final2 = std::atof(argv[1]);
  HMODULE library = LoadDriver();
  if (!library) return 1;

  // The silent probe: the simulated controllers answer it.
  std::vector<uint8_t> probe_block = PlantBlock();
  if (!g_driver.dll_test_dev(probe_block.data(), 0)) {
    std::fprintf(stderr, "the device test found no controller\n");
    return 1;
  }
  std::printf("device test: the controllers answer\n");

  const int reports_before = StopReportsInLog();
  HANDLE thread = CreateThread(nullptr, 0, ShortLivedPoller, nullptr, 0, nullptr);
  WaitForSingleObject(thread, INFINITE);
  DWORD thread_result = 1;
  GetExitCodeThread(thread, &thread_result);
  CloseHandle(thread);
  if (thread_result != 0) {
    std::fprintf(stderr, "the short-lived poller could not start the driver\n");
    return 1;
  }
  // Its object went with the thread and wrote its stop report.
  if (!AwaitStopReports(reports_before + 1)) {
    std::fprintf(stderr, "the ended thread's driver object was not stopped\n");
    return 1;
  }

  std::vector<uint8_t> block = PlantBlock();
  Host host;
  if (!host.Start(block)) {
    std::fprintf(stderr, "IniDriver failed\n");
    return 1;
  }
  bool ok = host.Write(kReadBack2, 1, TK571_VALUE_BOOL) &&
            host.PollUntil("controller 2's recipe read back",
                           [&] { return host.Value(kFinal2) == final2; });

  const double recipe[4][3] = {{50, 20, 2}, {40, 15, 3}, {30, 10, 1}, {20, 8, 2}};
  // Set-points are collected in the driver (the write answers false: nothing
  // goes out) until LOAD_SETM loads them as one recipe.
  for (int m = 1; m <= 4; ++m) {
    host.Write(FinalId(m), recipe[m - 1][0]);
    host.Write(CoarseId(m), recipe[m - 1][1]);
    host.Write(FineId(m), recipe[m - 1][2]);
  }
  ok = ok && host.Write(kLoad1, 1, TK571_VALUE_BOOL) &&
       host.PollUntil("recipe loaded into controller 1", [&] { return host.Value(kLoad1) == 1.0; });
  ok = ok && host.Write(kStart1, 1, TK571_VALUE_BOOL) &&
       host.PollUntil("batch started on controller 1",
                      [&] { return host.Value(kStart1) == 1.0 && host.Value(kRead1) > 0; });
  ok = ok && host.PollUntil("final amounts of the batch", [&] {
    for (int m = 1; m <= 4; ++m)
      if (host.Value(AmountId(m)) <= 0) return false;
    return true;
  });
  if (ok) {
    std::printf("weights: controller 1 %.2f kg; final amounts %.2f %.2f %.2f %.2f kg\n",
                host.Value(kRead1), host.Value(AmountId(1)), host.Value(AmountId(2)),
                host.Value(AmountId(3)), host.Value(AmountId(4)));
  }
  g_driver.free_driver();
  if (!ok) return 1;

  // Unloaded under a running object, loaded again: the port is free.
  std::vector<uint8_t> again = PlantBlock();
  Host unloaded;
  ok = unloaded.Start(again);
  for (int i = 0; ok && i < 10; ++i) {
    unloaded.PollOnce();
    Sleep(g_driver.detect_scan_time());
  }
  FreeLibrary(library);
  library = ok ? LoadDriver() : nullptr;
  if (!library) {
    std::fprintf(stderr, "the driver did not start before the unload or did not load again\n");
    return 1;
  }
  again = PlantBlock();
  Host reloaded;
  ok = reloaded.Start(again) && reloaded.PollUntil("controller 1 answers after the unload",
                                                   [&] { return reloaded.Value(kRead1) > 0; });
  g_driver.free_driver();
  FreeLibrary(library);
  if (ok) std::printf("unloaded under a running object and loaded again\n");
  return ok ? 0 : 1;
}
