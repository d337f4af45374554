// The parameter block of the simulated line the Windows tests use: COM1 at
// 19200 baud, 7 data bits, even parity (the block's defaults), controllers 1
// and 2, error lines on.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "tk571/driver.h"

namespace tk571_test {

inline std::vector<uint8_t> SimLineBlock(TK571_FullPDB full_pdb) {
  std::vector<uint8_t> block(TK571_PDB_SIZE, 0);
  full_pdb(block.data());
  block[TK571_PDB_ENTRIES + TK571_PDB_ENTRY_TYPE_CODE] = 1;  // entry 0 unused
  for (int d : {1, 2}) {
    uint8_t* entry = &block[TK571_PDB_ENTRIES + static_cast<std::size_t>(d) * TK571_PDB_ENTRY_SIZE];
    entry[TK571_PDB_ENTRY_TYPE_CODE] = 0;
    entry[TK571_PDB_ENTRY_TYPE_NAME] = 5;
    std::memcpy(entry + TK571_PDB_ENTRY_TYPE_NAME + 1, "TK571", 5);
  }
  block[TK571_PDB_PORT] = 0;        // Com1
  block[TK571_PDB_BAUD_INDEX] = 8;  // 19200
  block[TK571_PDB_LOG_ERRORS] = 1;
  return block;
}

}  // namespace tk571_test
