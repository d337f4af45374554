#include "modbus_request.h"

#include <modbus/modbus.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>

#include "topics.h"

namespace tk571::gateway {
namespace {

constexpr std::size_t kHeader = 7;  // transaction, protocol, length, unit
constexpr double kLinkNormal = 1;
constexpr double kLinkInterference = 2;

uint16_t Word(const uint8_t* at) {
  return static_cast<uint16_t>(at[0] << 8 | at[1]);
}

DecodedRequest Exception(uint8_t code, bool resync) {
  DecodedRequest d;
  d.exception = code;
  d.resync = resync;
  return d;
}

bool IsRead(uint8_t function) {
  return function >= MODBUS_FC_READ_COILS && function <= MODBUS_FC_READ_INPUT_REGISTERS;
}

ModbusTable TableOf(uint8_t function) {
  switch (function) {
    case MODBUS_FC_READ_COILS:
    case MODBUS_FC_WRITE_SINGLE_COIL:
    case MODBUS_FC_WRITE_MULTIPLE_COILS:
      return ModbusTable::kCoils;
    case MODBUS_FC_READ_DISCRETE_INPUTS:
      return ModbusTable::kDiscreteInputs;
    case MODBUS_FC_READ_INPUT_REGISTERS:
      return ModbusTable::kInputRegisters;
    default:
      return ModbusTable::kHoldingRegisters;
  }
}

// Two registers of a 32-bit value in the configured word order.
void PutLong(uint32_t bits, WordOrder order, std::vector<uint16_t>* words) {
  const uint16_t high = static_cast<uint16_t>(bits >> 16);
  const uint16_t low = static_cast<uint16_t>(bits & 0xFFFF);
  words->push_back(order == WordOrder::kBig ? high : low);
  words->push_back(order == WordOrder::kBig ? low : high);
}

uint32_t GetLong(const uint16_t* words, WordOrder order) {
  const uint32_t first = words[0];
  const uint32_t second = words[1];
  return order == WordOrder::kBig ? first << 16 | second : second << 16 | first;
}

uint32_t FloatBits(double value) {
  return std::bit_cast<uint32_t>(static_cast<float>(value));
}

uint32_t ScaledBits(double value, int scale) {
  const double scaled = std::round(value * scale);
  const double clamped = std::fmax(std::numeric_limits<int32_t>::min(),
                                   std::fmin(std::numeric_limits<int32_t>::max(), scaled));
  return static_cast<uint32_t>(static_cast<int32_t>(std::isnan(clamped) ? 0 : clamped));
}

// Counters go out as their low 32 bits: they wrap as a PLC's counters do.
uint32_t FigureValue(const LineValues& line, LineFigure figure) {
  if (figure == LineFigure::kRunning) return line.Running() ? 1 : 0;
  const LineFigures f = line.Figures();
  switch (figure) {
    case LineFigure::kLink:
      return static_cast<uint32_t>(f.line_link);
    case LineFigure::kRunning:
      break;
    case LineFigure::kDevicesNormal:
      return static_cast<uint32_t>(
          std::count_if(f.devices.begin(), f.devices.end(),
                        [](const auto& d) { return d.second.link == kLinkNormal; }));
    case LineFigure::kWriteQueue:
      return static_cast<uint32_t>(f.write_queue);
    case LineFigure::kPolls:
      return static_cast<uint32_t>(f.polls);
    case LineFigure::kRecords:
      return static_cast<uint32_t>(f.records);
    case LineFigure::kTimeouts:
      return static_cast<uint32_t>(f.timeouts);
    case LineFigure::kWritesDone:
      return static_cast<uint32_t>(f.writes_done);
    case LineFigure::kWritesRefused:
      return static_cast<uint32_t>(f.writes_refused);
    case LineFigure::kWritesFailed:
      return static_cast<uint32_t>(f.writes_failed);
    case LineFigure::kDriverStarts:
      return static_cast<uint32_t>(f.driver_starts);
    case LineFigure::kStartFailures:
      return static_cast<uint32_t>(f.start_failures);
    case LineFigure::kLinkChanges:
      return static_cast<uint32_t>(f.line_link_changes);
  }
  return 0;
}

// The words (or one bit) of an entry.
std::vector<uint16_t> EntryWords(const MapEntry& e, const RegisterMap& map, const LineValues& line,
                                 SteadyClock::time_point now) {
  std::vector<uint16_t> words;
  switch (e.role) {
    case RegisterRole::kValue:
      PutLong(FloatBits(line.Read(e.control, now, map.StaleAfter()).value), map.Order(), &words);
      break;
    case RegisterRole::kStatus:
      words.push_back(static_cast<uint16_t>(line.Read(e.control, now, map.StaleAfter()).status));
      break;
    case RegisterRole::kAge:
      words.push_back(line.Read(e.control, now, map.StaleAfter()).age);
      break;
    case RegisterRole::kLinkStatus:
      words.push_back(static_cast<uint16_t>(line.Link(e.device)));
      break;
    case RegisterRole::kLinkNormal:
      words.push_back(line.Running() && line.Link(e.device) == kLinkNormal ? 1 : 0);
      break;
    case RegisterRole::kSetPoint: {
      const double value = line.Read(e.control, now, map.StaleAfter()).value;
      PutLong(map.SetPoints() == SetPointFormat::kFloat32 ? FloatBits(value)
                                                          : ScaledBits(value, map.Scale()),
              map.Order(), &words);
      break;
    }
    case RegisterRole::kCommand:
      words.push_back(line.Read(e.control, now, map.StaleAfter()).value != 0 ? 1 : 0);
      break;
    case RegisterRole::kLineFigure: {
      const uint32_t value = FigureValue(line, e.figure);
      if (e.count == 2) {
        PutLong(value, map.Order(), &words);
      } else {
        words.push_back(static_cast<uint16_t>(std::min<uint32_t>(value, 0xFFFF)));
      }
      break;
    }
  }
  return words;
}

uint8_t ExceptionOf(WriteVerdict verdict) {
  switch (verdict) {
    case WriteVerdict::kAllowed:
      return 0;
    case WriteVerdict::kNoSuchControl:
    case WriteVerdict::kWritesOff:
    case WriteVerdict::kNotWritable:
    case WriteVerdict::kCommandsOff:
      return MODBUS_EXCEPTION_ILLEGAL_DATA_ADDRESS;
    case WriteVerdict::kTooLarge:
    case WriteVerdict::kNotAValue:
    case WriteVerdict::kOutOfRange:
      return MODBUS_EXCEPTION_ILLEGAL_DATA_VALUE;
    case WriteVerdict::kRateLimited:
    case WriteVerdict::kLineBusy:
      return MODBUS_EXCEPTION_SLAVE_OR_SERVER_BUSY;
  }
  return MODBUS_EXCEPTION_SLAVE_OR_SERVER_FAILURE;
}

// The road's answer to a write it is expected to refuse.
uint8_t Refusal(WriteRoad& road, const MapEntry& e, const std::string& payload) {
  const uint8_t exception = ExceptionOf(road.Submit(e.device_name, e.control_name, payload));
  return exception != 0 ? exception : uint8_t{MODBUS_EXCEPTION_SLAVE_OR_SERVER_FAILURE};
}

struct PendingWrite {
  const MapEntry* entry;
  std::string payload;  // empty: nothing to pass on (a command's coil set to 0)
};

// Checks every value of a write before any goes out: the range must hold
// whole writable values, each a number, of devices that answer and are not
// in a set-point dialogue. A control that may not be written, or a value that
// is no number, goes to the road all the same, which refuses and logs it.
uint8_t PlanWrites(const ModbusRequest& r, const RegisterMap& map,
                   const std::vector<const LineValues*>& lines, WriteRoad& road,
                   SteadyClock::time_point now, std::vector<PendingWrite>* writes) {
  const ModbusTable table = TableOf(r.function);
  const RegisterRole role =
      table == ModbusTable::kCoils ? RegisterRole::kCommand : RegisterRole::kSetPoint;
  for (std::size_t i = 0; i < r.values.size();) {
    const uint16_t address = static_cast<uint16_t>(r.address + i);
    const MapEntry* e = map.Find(r.unit, table, address);
    if (e == nullptr || e->role != role || e->address != address ||
        i + e->count > r.values.size()) {
      return MODBUS_EXCEPTION_ILLEGAL_DATA_ADDRESS;
    }
    PendingWrite w{e, ""};
    if (role == RegisterRole::kCommand) {
      // LOAD_SETM and READ_SETM act on 1 only; START_UP 0 aborts a batch.
      if (r.values[i] != 0) {
        w.payload = "1";
      } else if (e->kind == "START_UP") {
        w.payload = "0";
      }
    } else {
      const uint32_t bits = GetLong(&r.values[i], map.Order());
      const double value = map.SetPoints() == SetPointFormat::kFloat32
                               ? std::bit_cast<float>(bits)
                               : static_cast<int32_t>(bits) / static_cast<double>(map.Scale());
      w.payload = NumberText(value);
      if (!std::isfinite(value)) return Refusal(road, *e, w.payload);
    }
    if (!e->writable) return Refusal(road, *e, w.payload.empty() ? "0" : w.payload);
    writes->push_back(std::move(w));
    i += e->count;
  }
  // Once the values are good, the devices must be able to take them now.
  for (const PendingWrite& w : *writes) {
    const LineValues& line = *lines.at(w.entry->line);
    const double link = line.Link(w.entry->device);
    if (!line.Running() || (link != kLinkNormal && link != kLinkInterference)) {
      return MODBUS_EXCEPTION_GATEWAY_TARGET;
    }
    if (line.DialogueRuns(w.entry->device, now)) return MODBUS_EXCEPTION_SLAVE_OR_SERVER_BUSY;
  }
  return 0;
}

}  // namespace

DecodedRequest DecodeRequest(const uint8_t* frame, std::size_t size) {
  DecodedRequest d;
  if (size < kHeader + 1 || Word(frame + 2) != 0) {
    d.drop = true;
    return d;
  }
  const std::size_t pdu = size - kHeader + 1;  // function code and data, with the unit
  const std::size_t declared = Word(frame + 4);
  const bool resync = declared != pdu;
  ModbusRequest& r = d.request;
  r.unit = frame[6];
  r.function = frame[7];
  const uint8_t* data = frame + kHeader + 1;
  const std::size_t length = size - kHeader - 1;
  const auto bad_value = [&] { return Exception(MODBUS_EXCEPTION_ILLEGAL_DATA_VALUE, resync); };
  switch (r.function) {
    case MODBUS_FC_READ_COILS:
    case MODBUS_FC_READ_DISCRETE_INPUTS:
    case MODBUS_FC_READ_HOLDING_REGISTERS:
    case MODBUS_FC_READ_INPUT_REGISTERS: {
      if (length != 4 || resync) return bad_value();
      r.address = Word(data);
      r.count = Word(data + 2);
      const bool bits = r.function <= MODBUS_FC_READ_DISCRETE_INPUTS;
      if (r.count == 0 || r.count > (bits ? MODBUS_MAX_READ_BITS : MODBUS_MAX_READ_REGISTERS)) {
        return bad_value();
      }
      break;
    }
    case MODBUS_FC_WRITE_SINGLE_COIL:
    case MODBUS_FC_WRITE_SINGLE_REGISTER: {
      if (length != 4 || resync) return bad_value();
      r.address = Word(data);
      r.count = 1;
      const uint16_t value = Word(data + 2);
      if (r.function == MODBUS_FC_WRITE_SINGLE_COIL) {
        if (value != 0xFF00 && value != 0) return bad_value();
        r.values.push_back(value != 0 ? 1 : 0);
      } else {
        r.values.push_back(value);
      }
      break;
    }
    case MODBUS_FC_WRITE_MULTIPLE_COILS:
    case MODBUS_FC_WRITE_MULTIPLE_REGISTERS: {
      if (length < 5 || resync) return bad_value();
      r.address = Word(data);
      r.count = Word(data + 2);
      const std::size_t bytes = data[4];
      const bool bits = r.function == MODBUS_FC_WRITE_MULTIPLE_COILS;
      const std::size_t limit = bits ? MODBUS_MAX_WRITE_BITS : MODBUS_MAX_WRITE_REGISTERS;
      const std::size_t needed = bits ? (r.count + 7u) / 8u : r.count * 2u;
      if (r.count == 0 || r.count > limit || bytes != needed || length != 5 + bytes) {
        return bad_value();
      }
      for (std::size_t i = 0; i < r.count; ++i) {
        r.values.push_back(bits ? (data[5 + i / 8] >> (i % 8)) & 1 : Word(data + 5 + 2 * i));
      }
      break;
    }
    default:
      return Exception(MODBUS_EXCEPTION_ILLEGAL_FUNCTION, resync);
  }
  if (r.address + static_cast<std::size_t>(r.count) > 0x10000) {
    return Exception(MODBUS_EXCEPTION_ILLEGAL_DATA_ADDRESS, false);
  }
  return d;
}

ModbusAnswer AnswerRequest(const uint8_t* frame, std::size_t size, const RegisterMap& map,
                           const std::vector<const LineValues*>& lines, WriteRoad& road,
                           SteadyClock::time_point now) {
  const DecodedRequest decoded = DecodeRequest(frame, size);
  ModbusAnswer answer;
  answer.drop = decoded.drop;
  answer.resync = decoded.resync;
  answer.exception = decoded.exception;
  if (decoded.drop || decoded.exception != 0) return answer;
  const ModbusRequest& r = decoded.request;
  if (!map.HasUnit(r.unit)) {
    answer.exception = MODBUS_EXCEPTION_GATEWAY_PATH;
    return answer;
  }
  answer.table = TableOf(r.function);
  answer.start = r.address;
  if (IsRead(r.function)) {
    for (uint32_t address = r.address; address < r.address + uint32_t{r.count};) {
      const MapEntry* e = map.Find(r.unit, answer.table, static_cast<uint16_t>(address));
      if (e == nullptr) {
        answer.exception = MODBUS_EXCEPTION_ILLEGAL_DATA_ADDRESS;
        answer.values.clear();
        return answer;
      }
      const std::vector<uint16_t> words = EntryWords(*e, map, *lines.at(e->line), now);
      for (std::size_t i = address - e->address;
           i < words.size() && address < r.address + uint32_t{r.count}; ++i, ++address) {
        answer.values.push_back(words[i]);
      }
    }
    return answer;
  }
  std::vector<PendingWrite> writes;
  answer.exception = PlanWrites(r, map, lines, road, now, &writes);
  if (answer.exception != 0) return answer;
  // In address order; the first refusal ends the request, and what went
  // before it stays written.
  for (const PendingWrite& w : writes) {
    if (w.payload.empty()) continue;
    answer.exception =
        ExceptionOf(road.Submit(w.entry->device_name, w.entry->control_name, w.payload));
    if (answer.exception != 0) return answer;
  }
  answer.values.assign(r.count, 0);
  return answer;
}

}  // namespace tk571::gateway
