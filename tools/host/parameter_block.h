// The device parameter block as the host keeps it: 26508 opaque bytes that
// FullPDB fills with defaults, that the host's options change at the
// documented offsets, and that can be saved to and loaded from a file.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "tk571/driver.h"

namespace tk571::host {

inline constexpr int kPortCount = 16;
inline constexpr int kDeviceCount = 100;
inline constexpr std::array<int, 15> kBaudRates = {110,   300,   600,    1200,   2400,
                                                   4800,  9600,  14400,  19200,  38400,
                                                   56000, 57600, 115200, 128000, 256000};
inline constexpr int kMinDataBits = 4;
inline constexpr int kMaxDataBits = 8;
inline constexpr uint8_t kDeviceTypeCode = 0;  // the TK571 row of the driver's type table
inline constexpr uint8_t kEmptyTypeCode = 1;

enum class ParityCode : uint8_t { kNone = 0, kOdd = 1, kEven = 2, kMark = 3, kSpace = 4 };
enum class StopBitsCode : uint8_t { kOne = 0, kOneAndHalf = 1, kTwo = 2 };

// What the command line asks to change; unset fields keep the block's value.
struct BlockOptions {
  std::optional<int> port;  // 1..16 for Com1..Com16
  std::optional<int> baud;  // one of kBaudRates
  std::optional<int> data_bits;
  std::optional<ParityCode> parity;
  std::optional<StopBitsCode> stop_bits;
  std::optional<std::vector<int>> devices;  // device numbers in use, 0..99
  std::optional<bool> debug;
  std::optional<bool> log_errors;
  std::optional<bool> log_trace;
  std::optional<int> write_retries;

  bool Empty() const {
    return !port && !baud && !data_bits && !parity && !stop_bits && !devices && !debug &&
           !log_errors && !log_trace && !write_retries;
  }
};

using ParameterBlock = std::vector<uint8_t>;

// Writes the options into a block of TK571_PDB_SIZE bytes. Devices in use get
// the TK571 type code and type name (the driver drops entries whose name does
// not match their type); all other entries become empty.
void ApplyBlockOptions(const BlockOptions& options, std::span<uint8_t> block);

// Reads a saved block; the file must hold exactly TK571_PDB_SIZE bytes.
std::optional<ParameterBlock> LoadBlockFile(const std::string& path, std::string* error);
bool SaveBlockFile(const std::string& path, std::span<const uint8_t> block, std::string* error);

// "Com1 9600 7E1, devices 1 2" for the start banner.
std::string DescribeBlock(std::span<const uint8_t> block);
std::vector<int> DevicesInUse(std::span<const uint8_t> block);

}  // namespace tk571::host
