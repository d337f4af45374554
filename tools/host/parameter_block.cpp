#include "parameter_block.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string_view>

namespace tk571::host {
namespace {

// Type names as the driver's type table holds them, code page 936,
// length-prefixed in the entry.
constexpr std::string_view kDeviceTypeName = "TK571";
constexpr std::string_view kEmptyTypeName = "\xCE\xDE\xD0\xA7";  // 无效

std::size_t EntryOffset(int device) {
  return TK571_PDB_ENTRIES + static_cast<std::size_t>(device) * TK571_PDB_ENTRY_SIZE;
}

void PutU32(std::span<uint8_t> block, std::size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) block[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

void PutTypeName(std::span<uint8_t> block, std::size_t at, std::string_view name) {
  block[at] = static_cast<uint8_t>(name.size());
  std::memcpy(&block[at + 1], name.data(), name.size());
}

int BaudIndex(int baud) {
  for (std::size_t i = 0; i < kBaudRates.size(); ++i) {
    if (kBaudRates[i] == baud) return static_cast<int>(i);
  }
  return -1;
}

}  // namespace

void ApplyBlockOptions(const BlockOptions& o, std::span<uint8_t> block) {
  const auto flag = [&](std::size_t at, const std::optional<bool>& on) {
    if (on) block[at] = *on ? 1 : 0;
  };
  flag(TK571_PDB_DEBUG_ENABLED, o.debug);
  flag(TK571_PDB_LOG_ERRORS, o.log_errors);
  flag(TK571_PDB_LOG_TRACE, o.log_trace);
  if (o.write_retries) block[TK571_PDB_WRITE_RETRIES] = static_cast<uint8_t>(*o.write_retries);
  if (o.port) block[TK571_PDB_PORT] = static_cast<uint8_t>(*o.port - 1);
  if (o.baud) {
    const int index = BaudIndex(*o.baud);
    if (index >= 0) block[TK571_PDB_BAUD_INDEX] = static_cast<uint8_t>(index);
  }
  if (o.data_bits)
    block[TK571_PDB_DATA_BITS_CODE] = static_cast<uint8_t>(*o.data_bits - kMinDataBits);
  if (o.parity) block[TK571_PDB_PARITY_CODE] = static_cast<uint8_t>(*o.parity);
  if (o.stop_bits) block[TK571_PDB_STOP_BITS_CODE] = static_cast<uint8_t>(*o.stop_bits);
  if (o.devices) {
    for (int device = 0; device < kDeviceCount; ++device) {
      const std::size_t entry = EntryOffset(device);
      bool used = false;
      for (int d : *o.devices) used = used || d == device;
      PutU32(block, entry + TK571_PDB_ENTRY_DEVICE_NUMBER, static_cast<uint32_t>(device));
      block[entry + TK571_PDB_ENTRY_TYPE_CODE] = used ? kDeviceTypeCode : kEmptyTypeCode;
      PutTypeName(block, entry + TK571_PDB_ENTRY_TYPE_NAME,
                  used ? kDeviceTypeName : kEmptyTypeName);
    }
  }
}

std::optional<ParameterBlock> LoadBlockFile(const std::string& path, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = "cannot open " + path + ": " + std::strerror(errno);
    return std::nullopt;
  }
  ParameterBlock block((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (block.size() != TK571_PDB_SIZE) {
    *error = path + " holds " + std::to_string(block.size()) + " bytes; a parameter block has " +
             std::to_string(TK571_PDB_SIZE);
    return std::nullopt;
  }
  return block;
}

bool SaveBlockFile(const std::string& path, std::span<const uint8_t> block, std::string* error) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (out)
    out.write(reinterpret_cast<const char*>(block.data()),
              static_cast<std::streamsize>(block.size()));
  if (!out.flush()) {
    *error = "cannot write " + path;
    return false;
  }
  return true;
}

std::vector<int> DevicesInUse(std::span<const uint8_t> block) {
  std::vector<int> devices;
  for (int device = 0; device < kDeviceCount; ++device) {
    const std::size_t entry = EntryOffset(device);
    if (block[entry + TK571_PDB_ENTRY_TYPE_CODE] == kEmptyTypeCode) continue;
    uint32_t number = 0;
    for (int i = 3; i >= 0; --i) number = (number << 8) | block[entry + i];
    devices.push_back(static_cast<int>(number));
  }
  return devices;
}

std::string DescribeBlock(std::span<const uint8_t> block) {
  static constexpr char kParityLetters[] = "NOEMS";
  static constexpr const char* kStopBits[] = {"1", "1.5", "2"};
  const int baud_index = block[TK571_PDB_BAUD_INDEX];
  const int data_bits = block[TK571_PDB_DATA_BITS_CODE] + kMinDataBits;
  const int parity = block[TK571_PDB_PARITY_CODE];
  const int stop = block[TK571_PDB_STOP_BITS_CODE];
  std::string text = "Com" + std::to_string(block[TK571_PDB_PORT] + 1) + " ";
  text += baud_index < static_cast<int>(kBaudRates.size()) ? std::to_string(kBaudRates[baud_index])
                                                           : "baud?";
  text += " " + std::to_string(data_bits);
  text += parity < 5 ? kParityLetters[parity] : '?';
  text += stop < 3 ? kStopBits[stop] : "?";
  text += ", devices";
  const std::vector<int> devices = DevicesInUse(block);
  if (devices.empty()) text += " none";
  for (int d : devices) text += " " + std::to_string(d);
  return text;
}

}  // namespace tk571::host
