// One Modbus TCP request, from the bytes of its frame (MBAP header and PDU,
// as libmodbus receives them) to what the server answers: decoded, checked
// against the register map, read from the lines' latest values or written
// through the write road. No I/O and no waiting, so that a fuzzer can drive
// it and a read never waits for a serial line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "live_values.h"
#include "register_map.h"
#include "write_road.h"

namespace tk571::gateway {

struct ModbusRequest {
  uint8_t unit = 0;
  uint8_t function = 0;
  uint16_t address = 0;
  uint16_t count = 0;
  std::vector<uint16_t> values;  // written registers, or bits as 0/1
};

struct DecodedRequest {
  bool drop = false;      // not a Modbus TCP frame: no answer, close the connection
  bool resync = false;    // its length field disagrees: discard what follows it
  uint8_t exception = 0;  // set: answer with this exception
  ModbusRequest request;  // valid when neither is set
};

DecodedRequest DecodeRequest(const uint8_t* frame, std::size_t size);

struct ModbusAnswer {
  bool drop = false;
  bool resync = false;
  uint8_t exception = 0;
  // A reply: the table and range the request names, with the words or bits
  // (0/1) read; for a write, zeros of the written range.
  ModbusTable table = ModbusTable::kInputRegisters;
  uint16_t start = 0;
  std::vector<uint16_t> values;
};

// `lines` holds the latest values of each line, in the map's line order.
ModbusAnswer AnswerRequest(const uint8_t* frame, std::size_t size, const RegisterMap& map,
                           const std::vector<const LineValues*>& lines, WriteRoad& road,
                           SteadyClock::time_point now);

}  // namespace tk571::gateway
