// The whole driver as a careless host and a noisy line meet it: tag
// definitions, a parameter block, records and addresses of any content reach
// the fourteen entry points in any order, while the line answers arbitrary
// bytes in arbitrary pieces. Nothing may crash, hang, leak or read where the
// host did not point.
//
// Input: two bytes give the length L of the host's part; the next L bytes
// are the host's part (tags, block, calls), the rest is what the line answers
// (the framing of fuzz_line.h, the same as the reply target's inputs).
#include <sys/eventfd.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "driver/thread_objects.h"
#include "fuzz_line.h"
#include "platform/clock.h"
#include "quiet_object.h"
#include "tk571/driver.h"

namespace {

using tk571::fuzz::FuzzBytes;
using tk571::fuzz::FuzzLine;

// The answers of the line of the present input.
FuzzBytes* g_line_bytes = nullptr;

class DriverObject final : public tk571::fuzz::QuietObject {
 protected:
  std::unique_ptr<tk571::SerialLine> CreateSerialLine() override {
    return std::make_unique<FuzzLine>(*g_line_bytes);
  }
};

std::unique_ptr<tk571::TDLLObject> MakeObject() {
  return std::make_unique<DriverObject>();
}

// Addresses a host's editor produces, picked by index; other addresses are
// taken from the input as they are.
constexpr std::array<const char*, 24> kAddresses = {"READ1:1",
                                                    "ENQ1:1",
                                                    "M_FINAL1:1",
                                                    "M_COARSE1:1",
                                                    "M_FINE1:1",
                                                    "M_MEDIUM1:1",
                                                    "LOAD_SETM1:1",
                                                    "READ_SETM1:1",
                                                    "START_UP1:1",
                                                    "COMMLINK",
                                                    "ENCOMMLINK",
                                                    "DEVICELINK1",
                                                    "ENDEVICELINK1",
                                                    "ENLOG",
                                                    "READ2:1",
                                                    "M_FINAL2:3",
                                                    "START_UP2:1",
                                                    "READ0:1",
                                                    "ENQ1:4",
                                                    "M_FINE2:4",
                                                    "LOAD_SETM2:1",
                                                    "READ_SETM2:1",
                                                    "DEVICELINK2",
                                                    "READ1\xA3\xBA"
                                                    "1"};
constexpr uint8_t kAddressFromInput = 0xF0;
constexpr int kMaxTags = 10;
constexpr int kMaxCalls = 400;
constexpr int32_t kPokeStride = 7;

// Strings the host owns for the length of a call.
struct HostTexts {
  std::vector<std::unique_ptr<std::string>> texts;
  char* Keep(std::string text) {
    texts.push_back(std::make_unique<std::string>(std::move(text)));
    return texts.back()->data();
  }
};

void Free(char* host_string) {
  std::free(host_string);
}

TTagInfo TagFromInput(FuzzBytes& in, uint32_t id, HostTexts& texts) {
  TTagInfo info;
  std::memset(&info, 0, sizeof(info));
  info.TagID = id;
  const std::string name = "T" + std::to_string(id);
  std::memcpy(info.Name, name.data(), name.size());
  const uint8_t pick = in.Byte();
  const std::string address =
      pick < kAddressFromInput ? kAddresses[pick % kAddresses.size()] : in.Take(in.Byte() % 72);
  std::memcpy(info.Address, address.data(), std::min(address.size(), sizeof(info.Address)));
  info.DataKind = in.Byte() % 5;
  info.ScanTime = in.Byte() * 4u;
  switch (in.Byte() % 5) {
    case 1:
      info.InitialValue.vt = 5;  // double
      info.InitialValue.Data.Double = in.Double();
      break;
    case 2:
      info.InitialValue.vt = 11;  // VARIANT_BOOL
      info.InitialValue.Data.Bool = static_cast<int16_t>(in.Byte() ? -1 : 0);
      break;
    case 3:
      info.InitialValue.vt = 3;  // 32-bit integer
      info.InitialValue.Data.Int32 =
          static_cast<int32_t>(static_cast<uint32_t>(in.Byte()) << 24 | in.Byte());
      break;
    case 4:
      info.InitialValue.vt = 0x100;  // GBK string
      info.InitialValue.Data.Pointer = texts.Keep(in.Take(in.Byte() % 24));
      break;
    default:
      break;
  }
  return info;
}

void PokeBlock(FuzzBytes& in, std::vector<uint8_t>& block) {
  for (int pokes = in.Byte() % 8; pokes > 0; --pokes) {
    const int32_t at = ((in.Byte() << 8 | in.Byte()) * kPokeStride) % TK571_PDB_SIZE;
    block[static_cast<size_t>(at)] = in.Byte();
  }
}

std::vector<uint8_t> DefaultBlock() {
  std::vector<uint8_t> block(TK571_PDB_SIZE, 0);
  FullPDB(block.data());
  for (int device = 0; device < 4; ++device) {
    uint8_t* entry = &block[TK571_PDB_ENTRIES + static_cast<size_t>(device) * TK571_PDB_ENTRY_SIZE];
    entry[TK571_PDB_ENTRY_TYPE_CODE] = 0;
    entry[TK571_PDB_ENTRY_TYPE_NAME] = 5;
    std::memcpy(entry + TK571_PDB_ENTRY_TYPE_NAME + 1, "TK571", 5);
  }
  block[TK571_PDB_LOG_ERRORS] = 1;
  block[TK571_PDB_LOG_TRACE] = 1;
  block[TK571_PDB_DEBUG_ENABLED] = 1;
  return block;
}

class Host {
 public:
  Host(FuzzBytes& in, int tag_count) : in_(in), tag_count_(tag_count) {
    for (int i = 0; i < tag_count; ++i) {
      defs_.push_back(TagFromInput(in, static_cast<uint32_t>(i + 1), texts_));
    }
    for (auto& d : defs_) pointers_.push_back(&d);
    block_ = DefaultBlock();
    PokeBlock(in, block_);
  }

  void Start() {
    char* message = nullptr;
    IniDriver(static_cast<int32_t>(pointers_.size()), pointers_.data(), block_.data(), &message);
    Free(message);
  }

  void Read() {
    TTagValueRec records[kMaxTags];
    int32_t count = 0;
    char* message = nullptr;
    OnDataRead(&count, records, &message);
    Free(message);
    for (int32_t i = 0; i < count; ++i) {
      if (records[i].ValueType == TK571_VALUE_STRING) Free(records[i].Value.String);
    }
  }

  void Write() {
    TTagValueRec records[3];
    const uint32_t count = in_.Byte() % 4;
    for (uint32_t i = 0; i < count; ++i) {
      TTagValueRec& r = records[i];
      std::memset(&r, 0, sizeof(r));
      r.TagID = in_.Byte() % static_cast<uint32_t>(tag_count_ + 2);
      r.ValueType = in_.Byte() % 4;
      if (r.ValueType == TK571_VALUE_STRING) {
        r.Value.String = in_.Byte() ? texts_.Keep(in_.Take(in_.Byte() % 16)) : nullptr;
      } else {
        r.Value.Float = in_.Double();
      }
    }
    char* message = nullptr;
    OnDataWrite(count, count ? records : nullptr, &message);
    Free(message);
  }

  void EditAddress() {
    char* const given = in_.Byte() ? texts_.Keep(in_.Take(in_.Byte() % 72)) : nullptr;
    char* address = given;
    char* message = nullptr;
    TagEdAddr(in_.Byte() % 8 ? block_.data() : nullptr, &address, in_.Byte() % 2, &message);
    // The host's own string stays the host's; a fresh one is the driver's gift.
    if (address != given) Free(address);
    Free(message);
  }

  void RefusedStart() {
    char* message = nullptr;
    IniDriver(static_cast<int32_t>(pointers_.size()), in_.Byte() % 2 ? pointers_.data() : nullptr,
              nullptr, &message);
    Free(message);
  }

  void ListKinds() {
    TTagAddrDesc list[8];
    int32_t count = static_cast<int32_t>(in_.Byte() % 12) - 2;
    GetTagAddrList(0, &count, count % 2 ? list : nullptr);
  }

  void GiveEvent(int event) {
    switch (in_.Byte() % 3) {
      case 0:
        IniDriverEx(0);
        break;
      case 1:
        IniDriverEx(static_cast<uint32_t>(event));
        break;
      default:
        IniDriverEx(in_.Byte());
        break;
    }
  }

  void Call(int event) {
    char* message = nullptr;
    switch (in_.Byte() % 16) {
      case 0:
      case 1:
        Read();
        break;
      case 2:
        Write();
        break;
      case 3:
        tk571::platform::SleepMs(in_.Byte() * 5u);
        break;
      case 4:
        DetectScanTime();
        break;
      case 5:
        GetDeviceStatus(&message);
        break;
      case 6:
        WriteLog(in_.Byte() % 2, &message);
        break;
      case 7:
        GiveEvent(event);
        break;
      case 8:
        EditAddress();
        break;
      case 9:
        ListKinds();
        break;
      case 10:
        PokeBlock(in_, block_);
        FullPDB(in_.Byte() % 2 ? block_.data() : nullptr);
        GetPDBLen();
        break;
      case 11:
        FreeDriver();
        break;
      case 12:
        Start();
        break;
      case 13:
        // The silent probe starts and stops an object of its own.
        if (in_.Byte() % 4 == 0) DLLTestDev(block_.data(), 0);
        break;
      case 14:
        // The configuration wizard is left out: with the user interface
        // built, it would wait for a user.
        RefusedStart();
        break;
      default:
        for (int polls = in_.Byte() % 32; polls > 0; --polls) {
          Read();
          tk571::platform::SleepMs(10);
        }
        break;
    }
    Free(message);
  }

 private:
  FuzzBytes& in_;
  int tag_count_;
  HostTexts texts_;
  std::vector<TTagInfo> defs_;
  std::vector<TTagInfo*> pointers_;
  std::vector<uint8_t> block_;
};

// The host's event for every input; its counter is read empty after each.
int HostEvent() {
  static const int event = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  return event;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const size_t host_part = std::min<size_t>(size - 2, static_cast<size_t>(data[0] << 8 | data[1]));
  FuzzBytes host_bytes(data + 2, host_part);
  FuzzBytes line_bytes(data + 2 + host_part, size - 2 - host_part);
  g_line_bytes = &line_bytes;
  tk571::SetObjectMaker(&MakeObject);

  {
    Host host(host_bytes, 1 + host_bytes.Byte() % kMaxTags);
    host.Start();
    for (int call = 0; call < kMaxCalls && !host_bytes.Exhausted(); ++call) host.Call(HostEvent());
    FreeDriver();
    tk571::DestroyThreadObject();
  }
  uint64_t signals = 0;
  [[maybe_unused]] const ssize_t drained = read(HostEvent(), &signals, sizeof(signals));
  g_line_bytes = nullptr;
  return 0;
}
