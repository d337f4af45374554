// The gateway's Modbus TCP server (libmodbus): a listening thread and one
// thread per client, at most the configured number. A client that stays
// silent or stops in the middle of a frame holds only its own thread, until
// its time-out closes it; every answer comes from AnswerRequest, which reads
// the lines' latest values and never waits for a serial line.
#pragma once

#include <list>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "gateway_config.h"
#include "live_values.h"
#include "register_map.h"
#include "write_road.h"

namespace tk571::gateway {

class ModbusServer {
 public:
  ModbusServer(ModbusConfig config, RegisterMap map, std::vector<const LineValues*> lines,
               WriteRoad& road);
  // Stops listening, closes every connection and waits for its thread.
  ~ModbusServer();
  ModbusServer(const ModbusServer&) = delete;
  ModbusServer& operator=(const ModbusServer&) = delete;

  // Binds the port and starts accepting; false with the reason when it cannot.
  bool Start(std::string* error);

 private:
  struct Client {
    int fd = -1;
    std::string peer;
    std::thread thread;
    bool done = false;
  };

  void Listen();
  void Accept();
  void Serve(Client* client);
  // Joins the threads of clients that have gone; with `all`, first closes
  // every connection.
  void Reap(bool all);

  const ModbusConfig config_;
  const RegisterMap map_;
  const std::vector<const LineValues*> lines_;
  WriteRoad& road_;
  int listen_fd_ = -1;
  int stop_fd_ = -1;
  std::thread listener_;
  std::mutex clients_mutex_;
  std::list<Client> clients_;
  uint64_t refused_ = 0;  // connections over the limit since the last log line
  std::chrono::steady_clock::time_point refusal_logged_;
};

}  // namespace tk571::gateway
