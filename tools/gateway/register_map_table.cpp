// The printed register map of `tk571-gateway --check --modbus-map`.
#include <algorithm>
#include <array>

#include "register_map.h"

namespace tk571::gateway {
namespace {

const char* TableName(ModbusTable table) {
  switch (table) {
    case ModbusTable::kCoils:
      return "coil";
    case ModbusTable::kDiscreteInputs:
      return "discrete input";
    case ModbusTable::kHoldingRegisters:
      return "holding register";
    case ModbusTable::kInputRegisters:
      return "input register";
  }
  return "";
}

std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  return quoted + "\"";
}

}  // namespace

std::string RegisterMapTable(const RegisterMap& map, bool csv) {
  const std::string setpoint_type = map.SetPoints() == SetPointFormat::kFloat32
                                        ? "float32"
                                        : "int32 x" + std::to_string(map.Scale());
  std::vector<std::array<std::string, 7>> rows;
  rows.push_back({"unit", "table", "address", "count", "type", "name", "meaning"});
  for (const MapEntry& e : map.Entries()) {
    rows.push_back({std::to_string(e.unit), TableName(e.table), std::to_string(e.address),
                    std::to_string(e.count),
                    e.role == RegisterRole::kSetPoint ? setpoint_type : e.type, e.name, e.meaning});
  }
  std::string out;
  if (csv) {
    for (const auto& row : rows) {
      for (std::size_t i = 0; i < row.size(); ++i) out += (i ? "," : "") + CsvField(row[i]);
      out += "\n";
    }
    return out;
  }
  std::array<std::size_t, 7> width{};
  for (const auto& row : rows) {
    for (std::size_t i = 0; i < row.size(); ++i) width[i] = std::max(width[i], row[i].size());
  }
  for (const auto& row : rows) {
    std::string line;
    for (std::size_t i = 0; i < row.size(); ++i) {
      line += row[i];
      if (i + 1 < row.size()) line += std::string(width[i] - row[i].size() + 2, ' ');
    }
    out += line + "\n";
  }
  out += std::string("32-bit values: ") +
         (map.Order() == WordOrder::kBig ? "high word first" : "low word first") +
         "; addresses from 0 as on the wire\n";
  return out;
}

}  // namespace tk571::gateway
