#include "gateway_config.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "config_schema.h"
#include "tokens.h"

namespace tk571::gateway {
namespace {

using nlohmann::json;

// The names of the controls the gateway adds to every device and line.
constexpr const char* kReservedControls[] = {"link", "link_text"};

template <typename T>
T Get(const json& object, const char* key, T fallback) {
  const auto it = object.find(key);
  return it == object.end() ? fallback : it->get<T>();
}

std::string Quoted(const std::string& text) {
  return "\"" + text + "\"";
}

host::ParityCode ParityOf(const std::string& word) {
  if (word == "odd") return host::ParityCode::kOdd;
  if (word == "even") return host::ParityCode::kEven;
  if (word == "mark") return host::ParityCode::kMark;
  if (word == "space") return host::ParityCode::kSpace;
  return host::ParityCode::kNone;
}

host::StopBitsCode StopBitsOf(const std::string& word) {
  if (word == "1.5") return host::StopBitsCode::kOneAndHalf;
  if (word == "2") return host::StopBitsCode::kTwo;
  return host::StopBitsCode::kOne;
}

// "Com3" in any letter case, as its number; 0 for a device path.
int ComNumber(const std::string& port) {
  if (port.size() < 4 || host::ToUpperAscii(port.substr(0, 3)) != "COM") return 0;
  return static_cast<int>(host::ParseInteger(port.substr(3)).value_or(0));
}

BrokerConfig ReadBroker(const json& b, std::vector<std::string>* errors) {
  BrokerConfig broker;
  const std::string url = b.at("url").get<std::string>();
  const bool secure = url.rfind("mqtts://", 0) == 0;
  std::string rest = url.substr(secure ? 8 : 7);
  if (!rest.empty() && rest.back() == '/') rest.pop_back();
  broker.port = secure ? 8883 : 1883;
  if (const std::size_t colon = rest.find(':'); colon != std::string::npos) {
    const int64_t port = host::ParseInteger(rest.substr(colon + 1)).value_or(0);
    if (port < 1 || port > 65535) {
      errors->push_back("/broker/url: port of " + Quoted(url) + " is not 1..65535");
    }
    broker.port = static_cast<int>(port);
    rest.resize(colon);
  }
  broker.host = rest;
  broker.client_id = Get<std::string>(b, "client_id", broker.client_id);
  broker.credentials_file = Get<std::string>(b, "credentials_file", "");
  if (const auto tls = b.find("tls"); tls != b.end()) {
    broker.tls = TlsFiles{
        tls->at("ca_file").get<std::string>(), Get<std::string>(*tls, "cert_file", ""),
        Get<std::string>(*tls, "key_file", ""), Get<std::string>(*tls, "min_version", "1.2")};
    if (broker.tls->cert_file.empty() != broker.tls->key_file.empty()) {
      errors->push_back("/broker/tls: cert_file and key_file go together");
    }
  } else if (secure) {
    errors->push_back("/broker/url: mqtts:// needs /broker/tls with a ca_file");
  }
  broker.topic_prefix = Get<std::string>(b, "topic_prefix", "");
  broker.qos = Get<int>(b, "qos", broker.qos);
  broker.keepalive_s = Get<int>(b, "keepalive_s", broker.keepalive_s);
  broker.reconnect_max_s = Get<int>(b, "reconnect_max_s", broker.reconnect_max_s);
  return broker;
}

TagConfig ReadTag(const json& t, const std::string& path) {
  TagConfig tag;
  tag.name = t.at("name").get<std::string>();
  tag.address = t.at("address").get<std::string>();
  tag.scan_ms = Get<uint32_t>(t, "scan_ms", tag.scan_ms);
  if (t.contains("writable")) tag.writable = t["writable"].get<bool>();
  if (t.contains("min")) tag.min = t["min"].get<double>();
  if (t.contains("max")) tag.max = t["max"].get<double>();
  tag.unit = Get<std::string>(t, "unit", "");
  if (const auto title = t.find("title"); title != t.end()) {
    tag.title = TagTitle{Get<std::string>(*title, "en", ""), Get<std::string>(*title, "zh", "")};
  }
  tag.json_path = path;
  return tag;
}

LineConfig ReadLine(const json& l, const std::string& path) {
  LineConfig line;
  line.name = l.at("name").get<std::string>();
  line.port = l.at("port").get<std::string>();
  line.json_path = path;
  host::BlockOptions& block = line.block;
  if (l.contains("baud")) block.baud = l["baud"].get<int>();
  if (l.contains("data_bits")) block.data_bits = l["data_bits"].get<int>();
  if (l.contains("parity")) block.parity = ParityOf(l["parity"].get<std::string>());
  if (l.contains("stop_bits")) block.stop_bits = StopBitsOf(l["stop_bits"].get<std::string>());
  if (l.contains("write_retries")) block.write_retries = l["write_retries"].get<int>();
  if (const auto log = l.find("run_log"); log != l.end()) {
    if (log->contains("errors")) block.log_errors = (*log)["errors"].get<bool>();
    if (log->contains("trace")) block.log_trace = (*log)["trace"].get<bool>();
    if (log->contains("debug")) block.debug = (*log)["debug"].get<bool>();
  }
  std::vector<int> numbers;
  const json& devices = l.at("devices");
  for (std::size_t d = 0; d < devices.size(); ++d) {
    const std::string device_path = path + "/devices/" + std::to_string(d);
    DeviceConfig device;
    device.number = devices[d].at("number").get<int>();
    device.name = devices[d].at("name").get<std::string>();
    for (const json& t : devices[d].value("tolerances", json::array())) {
      const bool percent = t.contains("percent");
      device.tolerances[t.at("material").get<int>()] =
          Tolerance{t.at(percent ? "percent" : "kg").get<double>(), percent};
    }
    device.json_path = device_path;
    if (const auto writes = devices[d].find("writes"); writes != devices[d].end()) {
      device.writes.enabled = Get<bool>(*writes, "enabled", true);
      device.writes.commands = Get<bool>(*writes, "commands", true);
    }
    const json& tags = devices[d].at("tags");
    for (std::size_t t = 0; t < tags.size(); ++t) {
      device.tags.push_back(ReadTag(tags[t], device_path + "/tags/" + std::to_string(t)));
    }
    numbers.push_back(device.number);
    line.devices.push_back(std::move(device));
  }
  block.devices = numbers;
  return line;
}

// Each unit names a line or a device of this file, once; without a list each
// line gets its own unit, numbered from 1 in file order.
ModbusConfig ReadModbus(const json& m, const std::vector<LineConfig>& lines,
                        std::vector<std::string>* errors) {
  ModbusConfig modbus;
  modbus.listen = Get<std::string>(m, "listen", modbus.listen);
  in_addr address{};
  if (inet_pton(AF_INET, modbus.listen.c_str(), &address) != 1) {
    errors->push_back("/modbus/listen: " + Quoted(modbus.listen) + " is not an IPv4 address");
  }
  modbus.port = Get<int>(m, "port", modbus.port);
  modbus.max_clients = Get<int>(m, "max_clients", modbus.max_clients);
  modbus.idle_timeout_s = Get<int>(m, "idle_timeout_s", modbus.idle_timeout_s);
  modbus.stale_s = Get<int>(m, "stale_s", modbus.stale_s);
  if (Get<std::string>(m, "word_order", "big") == "little") modbus.word_order = WordOrder::kLittle;
  if (Get<std::string>(m, "setpoints", "float32") == "int32") {
    modbus.setpoints = SetPointFormat::kScaledInt32;
  }
  modbus.setpoint_scale = Get<int>(m, "setpoint_scale", modbus.setpoint_scale);
  std::set<std::string> line_names;
  std::set<std::string> device_names;
  for (const LineConfig& line : lines) {
    line_names.insert(line.name);
    for (const DeviceConfig& device : line.devices) device_names.insert(device.name);
  }
  std::map<int, std::string> used;
  if (const auto units = m.find("units"); units != m.end()) {
    for (std::size_t i = 0; i < units->size(); ++i) {
      const json& u = (*units)[i];
      ModbusUnit unit;
      unit.json_path = "/modbus/units/" + std::to_string(i);
      unit.unit = u.at("unit").get<int>();
      unit.line = Get<std::string>(u, "line", "");
      unit.device = Get<std::string>(u, "device", "");
      if (unit.line.empty() == unit.device.empty()) {
        errors->push_back(unit.json_path + ": a unit names either a line or a device");
      } else if (!unit.line.empty() && line_names.count(unit.line) == 0) {
        errors->push_back(unit.json_path + "/line: no line is named " + Quoted(unit.line));
      } else if (!unit.device.empty() && device_names.count(unit.device) == 0) {
        errors->push_back(unit.json_path + "/device: no device is named " + Quoted(unit.device));
      }
      const auto [it, fresh] = used.emplace(unit.unit, unit.json_path + "/unit");
      if (!fresh) {
        errors->push_back(unit.json_path + "/unit: unit " + std::to_string(unit.unit) +
                          " is already used at " + it->second);
      }
      modbus.units.push_back(std::move(unit));
    }
  } else {
    for (std::size_t i = 0; i < lines.size(); ++i) {
      modbus.units.push_back(
          ModbusUnit{static_cast<int>(i) + 1, lines[i].name, "", lines[i].json_path});
    }
  }
  return modbus;
}

// Names become topic levels, ports are held exclusively, and device numbers
// select one controller on a line: each must be unique where it matters.
void CheckUnique(const GatewayConfig& config, std::vector<std::string>* errors) {
  std::map<std::string, std::string> topic_devices;  // name -> where it was first used
  std::map<std::string, std::string> ports;
  const auto once = [&](std::map<std::string, std::string>& seen, const std::string& key,
                        const std::string& where, const std::string& what) {
    const auto [it, fresh] = seen.emplace(key, where);
    if (!fresh) errors->push_back(where + ": " + what + " is already used at " + it->second);
  };
  for (const LineConfig& line : config.lines) {
    once(topic_devices, line.name, line.json_path + "/name", "name " + Quoted(line.name));
    const int com = ComNumber(line.port);
    once(ports, com > 0 ? "COM" + std::to_string(com) : line.port, line.json_path + "/port",
         "port " + Quoted(line.port));
    std::map<std::string, std::string> numbers;
    for (const DeviceConfig& device : line.devices) {
      once(topic_devices, device.name, device.json_path + "/name", "name " + Quoted(device.name));
      once(numbers, std::to_string(device.number), device.json_path + "/number",
           "device number " + std::to_string(device.number));
      std::map<std::string, std::string> tags;
      for (const char* reserved : kReservedControls) {
        tags.emplace(reserved, "(a control of the gateway's own)");
      }
      for (const TagConfig& tag : device.tags) {
        once(tags, tag.name, tag.json_path + "/name", "tag name " + Quoted(tag.name));
      }
    }
  }
}

}  // namespace

ConfigResult ParseConfig(const std::string& text) {
  ConfigResult result;
  json document;
  try {
    document = json::parse(text);
  } catch (const json::parse_error& e) {
    // "[json.exception.parse_error.101] parse error at line 3, column 5: ..."
    std::string what = e.what();
    if (const std::size_t start = what.find("] "); start != std::string::npos) {
      what.erase(0, start + 2);
    }
    result.errors.push_back("not JSON: " + what);
    return result;
  }
  result.errors = CheckSchema(document);
  if (!result.errors.empty()) return result;

  GatewayConfig& config = result.config;
  config.library = Get<std::string>(document, "library", "");
  config.broker = ReadBroker(document.at("broker"), &result.errors);
  if (const auto ha = document.find("homeassistant"); ha != document.end()) {
    config.homeassistant.discovery = Get<bool>(*ha, "discovery", true);
    config.homeassistant.prefix = Get<std::string>(*ha, "prefix", config.homeassistant.prefix);
  }
  if (const auto j = document.find("journal"); j != document.end()) {
    JournalConfig& journal = config.journal;
    journal.directory = Get<std::string>(*j, "directory", "");
    journal.retention_days = Get<int>(*j, "retention_days", journal.retention_days);
    journal.advice_batches = Get<int>(*j, "advice_batches", journal.advice_batches);
    if (const auto shifts = j->find("shifts"); shifts != j->end()) {
      journal.shift_starts.clear();
      for (const json& start : *shifts) {
        const std::string hhmm = start.get<std::string>();
        journal.shift_starts.push_back(std::stoi(hhmm.substr(0, 2)) * 60 +
                                       std::stoi(hhmm.substr(3, 2)));
      }
      std::sort(journal.shift_starts.begin(), journal.shift_starts.end());
    }
  }
  if (const auto writes = document.find("writes"); writes != document.end()) {
    config.writes.enabled = Get<bool>(*writes, "enabled", false);
    config.writes.commands = Get<bool>(*writes, "commands", false);
    config.writes.min_interval_ms =
        Get<uint32_t>(*writes, "min_interval_ms", config.writes.min_interval_ms);
  }
  const json& lines = document.at("lines");
  for (std::size_t i = 0; i < lines.size(); ++i) {
    config.lines.push_back(ReadLine(lines[i], "/lines/" + std::to_string(i)));
  }
  CheckUnique(config, &result.errors);
  if (const auto modbus = document.find("modbus"); modbus != document.end()) {
    config.modbus = ReadModbus(*modbus, config.lines, &result.errors);
  }
  return result;
}

std::string JournalPath(const JournalConfig& journal) {
  std::string directory = journal.directory;
  if (directory.empty()) {
    // systemd's StateDirectory= names it; several are separated by ':'.
    const char* state = std::getenv("STATE_DIRECTORY");
    directory = state != nullptr && *state != '\0'
                    ? std::string(state).substr(0, std::string(state).find(':'))
                    : ".";
  }
  return directory + "/journal.db";
}

ConfigResult LoadConfig(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    ConfigResult result;
    result.errors.push_back("cannot open " + path);
    return result;
  }
  std::ostringstream text;
  text << in.rdbuf();
  return ParseConfig(text.str());
}

}  // namespace tk571::gateway
