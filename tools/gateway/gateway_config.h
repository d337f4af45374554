// The gateway's configuration: one JSON file, checked against the schema that
// ships with the program (config_schema.json), then against the driver.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "batch_quality.h"
#include "parameter_block.h"

namespace tk571::gateway {

struct TlsFiles {
  std::string ca_file;
  std::string cert_file;
  std::string key_file;  // a secret: see SecretPath
  std::string min_version = "1.2";
};

struct BrokerConfig {
  std::string host;
  int port = 1883;
  std::string client_id = "tk571-gateway";
  std::string credentials_file;  // a secret: see SecretPath
  std::optional<TlsFiles> tls;
  std::string topic_prefix;
  int qos = 1;
  int keepalive_s = 30;
  int reconnect_max_s = 30;
};

struct HomeAssistantConfig {
  bool discovery = false;
  std::string prefix = "homeassistant";
};

// The order of the two registers of a 32-bit value: high word first (big) or
// low word first (little); the bytes of each register are big-endian always.
enum class WordOrder { kBig, kLittle };
enum class SetPointFormat { kFloat32, kScaledInt32 };

// One unit id: a whole line (its devices side by side) or one device.
struct ModbusUnit {
  int unit = 1;
  std::string line;    // set for a line's unit
  std::string device;  // set for a device's unit
  std::string json_path;
};

struct ModbusConfig {
  std::string listen = "127.0.0.1";
  int port = 502;
  int max_clients = 8;
  int idle_timeout_s = 60;
  int stale_s = 5;
  WordOrder word_order = WordOrder::kBig;
  SetPointFormat setpoints = SetPointFormat::kFloat32;
  int setpoint_scale = 10;
  std::vector<ModbusUnit> units;  // after reading, never empty
};

struct TagTitle {
  std::string en;
  std::string zh;
};

// The write switches. Each level can only take away what the one above
// gives: the global switches are off unless turned on, a device's follow
// the global ones unless turned off.
struct WriteSettings {
  bool enabled = false;
  bool commands = false;           // START_UP, LOAD_SETM, READ_SETM
  uint32_t min_interval_ms = 500;  // per control, between two writes that go to the line
};

struct DeviceWrites {
  bool enabled = true;
  bool commands = true;
};

struct TagConfig {
  std::string name;
  std::string address;  // as written; UTF-8
  uint32_t scan_ms = 1000;
  std::optional<bool> writable;  // unset: writable exactly when the kind is write-only
  std::optional<double> min;     // a set-point's limits; unset: what the controller takes
  std::optional<double> max;
  std::string unit;
  TagTitle title;
  std::string json_path;  // "/lines/0/devices/1/tags/2", for messages
};

struct DeviceConfig {
  int number = 0;
  std::string name;
  Tolerances tolerances;
  DeviceWrites writes;
  std::vector<TagConfig> tags;
  std::string json_path;
};

struct LineConfig {
  std::string name;
  std::string port;  // "Com1".."Com16" or a device path
  host::BlockOptions block;
  std::vector<DeviceConfig> devices;
  std::string json_path;
};

struct JournalConfig {
  std::string directory;  // empty: $STATE_DIRECTORY, else the working directory
  int retention_days = 730;
  int advice_batches = 5;
  std::vector<int> shift_starts{6 * 60, 14 * 60, 22 * 60};  // minutes after local midnight
};

struct GatewayConfig {
  std::string library;  // empty: the default search
  BrokerConfig broker;
  HomeAssistantConfig homeassistant;
  std::optional<ModbusConfig> modbus;
  JournalConfig journal;
  WriteSettings writes;
  std::vector<LineConfig> lines;
};

struct ConfigResult {
  GatewayConfig config;
  // "/lines/0/baud: ..." in file order; the configuration is unusable when any
  // is set.
  std::vector<std::string> errors;
};

// Reads and checks the file's form: JSON syntax, the schema, names that must
// be unique. Addresses are checked against the driver afterwards
// (CheckAgainstDriver).
ConfigResult LoadConfig(const std::string& path);
// The journal's database file.
std::string JournalPath(const JournalConfig& journal);
ConfigResult ParseConfig(const std::string& text);

}  // namespace tk571::gateway
