// What the benchmarks share: a host's tag definitions spread over the
// controllers of one line, the parameter block that names those controllers,
// and a simulated line whose pseudo-terminal the driver opens as Com1.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "support/tag_defs.h"
#include "tk571/driver.h"
#include "tk571sim/line.h"

namespace tk571::bench {

// Index of a baud rate in the parameter block's table.
inline uint8_t BaudIndex(int baud) {
  static constexpr int kRates[] = {110,   300,   600,   1200,  2400,   4800,   9600,  14400,
                                   19200, 38400, 56000, 57600, 115200, 128000, 256000};
  for (uint8_t i = 0; i < std::size(kRates); ++i)
    if (kRates[i] == baud) return i;
  std::abort();
}

// The driver's default block with controllers 0..devices-1 on Com1.
inline std::vector<uint8_t> ParameterBlock(int devices, int baud = 9600) {
  std::vector<uint8_t> block(TK571_PDB_SIZE, 0);
  FullPDB(block.data());
  for (int d = 0; d < devices; ++d) {
    uint8_t* entry = &block[TK571_PDB_ENTRIES + static_cast<std::size_t>(d) * TK571_PDB_ENTRY_SIZE];
    entry[TK571_PDB_ENTRY_TYPE_CODE] = 0;
    entry[TK571_PDB_ENTRY_TYPE_NAME] = 5;
    std::memcpy(entry + TK571_PDB_ENTRY_TYPE_NAME + 1, "TK571", 5);
  }
  block[TK571_PDB_BAUD_INDEX] = BaudIndex(baud);
  return block;
}

// Every address a controller offers that reads a number, then the three
// command tags (switches). A plant has several tags on one address (a value
// shown on several screens), so the list repeats once it is exhausted.
struct AddressKind {
  std::string_view type;
  int channel;
  uint8_t data_kind;
};
inline constexpr AddressKind kAddressKinds[] = {
    {"READ", 1, 0},     {"ENQ", 1, 0},       {"ENQ", 2, 0},      {"ENQ", 3, 0},
    {"ENQ", 4, 0},      {"M_FINAL", 1, 0},   {"M_FINAL", 2, 0},  {"M_FINAL", 3, 0},
    {"M_FINAL", 4, 0},  {"M_COARSE", 1, 0},  {"M_COARSE", 2, 0}, {"M_COARSE", 3, 0},
    {"M_COARSE", 4, 0}, {"M_FINE", 1, 0},    {"M_FINE", 2, 0},   {"M_FINE", 3, 0},
    {"M_FINE", 4, 0},   {"LOAD_SETM", 1, 1}, {"START_UP", 1, 1}, {"READ_SETM", 1, 1}};
inline constexpr std::size_t kNumberKinds = 17;

// `count` tags over controllers 0..devices-1, tag i on controller i % devices;
// with `numbers_only` every tag reads a number (data kind 0).
inline std::vector<TTagInfo> PlantTags(int count, int devices, bool numbers_only = false) {
  std::vector<TTagInfo> defs;
  defs.reserve(static_cast<std::size_t>(count));
  const std::size_t kinds = numbers_only ? kNumberKinds : std::size(kAddressKinds);
  for (int i = 0; i < count; ++i) {
    const int device = i % devices;
    const AddressKind& kind = kAddressKinds[static_cast<std::size_t>(i / devices) % kinds];
    const std::string address =
        std::string(kind.type) + std::to_string(device) + ":" + std::to_string(kind.channel);
    defs.push_back(testing::TagDef(static_cast<uint32_t>(i + 1), address, kind.data_kind, 100));
  }
  return defs;
}

inline std::vector<TTagInfo*> Pointers(std::vector<TTagInfo>& defs) {
  std::vector<TTagInfo*> out;
  out.reserve(defs.size());
  for (auto& d : defs) out.push_back(&d);
  return out;
}

// One simulated line for the whole process, so that IniDriver finds its
// serial port (it does not start without one). No controller needs to answer.
// The driver object must be gone before the line is: destroy it at the end of
// main.
inline sim::Line& SharedLine() {
  static sim::Line line;
  static const bool pointed = setenv("TK571_COM1", line.LinkPath().c_str(), 1) == 0;
  (void)pointed;
  return line;
}

}  // namespace tk571::bench
