// The Modbus register map, generated from the configuration alone: every
// address follows from a device's number and a control's kind and material,
// so the map stays the same while the configuration does, and adding a tag
// moves no other register.
//
// Per device, in each table from the device's base (100 x its number in a
// line's unit, 0 in a unit of its own):
//   input registers  4 per control: value (float32, 2), status, age in 100 ms;
//                    slot 0 live weight, 1-4 final amounts, 5-8 targets,
//                    9-12 coarse, 13-16 fine, 17-20 medium set-points,
//                    21 LOAD_SETM, 22 READ_SETM, 23 START_UP; base+96: link
//   holding registers 2 per set-point, slots 5-20 from the base
//   coils            LOAD_SETM, READ_SETM, START_UP
//   discrete inputs  the device's link is normal
// and from input register 10000 the figures of the unit's line.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "gateway_config.h"
#include "line_plan.h"

namespace tk571::gateway {

enum class ModbusTable : uint8_t { kCoils, kDiscreteInputs, kHoldingRegisters, kInputRegisters };

enum class RegisterRole : uint8_t {
  kValue,       // a control's value, float32 in 2 input registers
  kStatus,      // ValueStatus of the value before it
  kAge,         // the value's age in 100 ms
  kLinkStatus,  // the device's link status 0..5 (1 normal)
  kLinkNormal,  // discrete input: the device's link is normal
  kSetPoint,    // holding registers: float32 or scaled int32
  kCommand,     // coil
  kLineFigure,  // one figure of the line
};

// The figures of a line, in the order of their registers.
enum class LineFigure : uint8_t {
  kLink,
  kRunning,
  kDevicesNormal,
  kWriteQueue,
  kPolls,
  kRecords,
  kTimeouts,
  kWritesDone,
  kWritesRefused,
  kWritesFailed,
  kDriverStarts,
  kStartFailures,
  kLinkChanges,
};

struct MapEntry {
  int unit = 0;
  ModbusTable table = ModbusTable::kInputRegisters;
  uint16_t address = 0;
  uint16_t count = 1;  // registers or bits
  RegisterRole role = RegisterRole::kValue;
  std::size_t line = 0;     // index of the line
  std::size_t control = 0;  // index into the line's controls
  int device = -1;          // device number
  LineFigure figure = LineFigure::kLink;
  std::string device_name;  // a control's device and name, for writes
  std::string control_name;
  bool writable = false;
  std::string kind;     // the control's type: READ, M_FINAL, START_UP, ...
  std::string name;     // "scale1/weight", "line1/polls"
  std::string type;     // "float32", "uint16", "uint32", "int32", "bit"
  std::string meaning;  // for the printed map
};

class RegisterMap {
 public:
  RegisterMap() = default;
  RegisterMap(std::vector<MapEntry> entries, const ModbusConfig& config);

  // The entry covering `address`, or null.
  const MapEntry* Find(int unit, ModbusTable table, uint16_t address) const;
  bool HasUnit(int unit) const;
  const std::vector<MapEntry>& Entries() const { return entries_; }
  WordOrder Order() const { return order_; }
  SetPointFormat SetPoints() const { return setpoints_; }
  int Scale() const { return scale_; }
  // A value not confirmed for this long is stale.
  std::chrono::seconds StaleAfter() const { return stale_after_; }

 private:
  std::vector<MapEntry> entries_;  // by unit, table, address
  WordOrder order_ = WordOrder::kBig;
  SetPointFormat setpoints_ = SetPointFormat::kFloat32;
  int scale_ = 1;
  std::chrono::seconds stale_after_{5};
};

// Errors name two tags that would share registers.
RegisterMap BuildRegisterMap(const ModbusConfig& config, const std::vector<LinePlan>& plans,
                             std::vector<std::string>* errors);

// The map as a table: one row per entry; CSV with a header line, or text in
// aligned columns.
std::string RegisterMapTable(const RegisterMap& map, bool csv);

}  // namespace tk571::gateway
