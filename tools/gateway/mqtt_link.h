// The gateway's connection to the broker (libmosquitto): connects and
// reconnects with back-off on its own thread, keeps the last retained
// payload of every topic and publishes them all again on each new
// connection, so that a broker that restarted without its store gets the
// whole state back. What waits to go out is a set of topics, not of
// messages, and only a few messages are in flight at a time: a slow or
// stalled broker costs one entry per topic, and when it catches up each
// topic gets its latest value.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "backoff.h"
#include "gateway_config.h"

struct mosquitto;
struct mosquitto_message;

namespace tk571::gateway {

// libmosquitto's process-wide set-up, for the life of main().
class MqttLibrary {
 public:
  MqttLibrary();
  ~MqttLibrary();
  MqttLibrary(const MqttLibrary&) = delete;
  MqttLibrary& operator=(const MqttLibrary&) = delete;
};

class MqttLink {
 public:
  // Called on the link's thread for every message of a subscription.
  using MessageHandler =
      std::function<void(const std::string& topic, const std::string& payload, bool retained)>;

  // `status_topic` carries "online" while connected and "offline" as the last
  // will and after a clean stop.
  MqttLink(BrokerConfig config, std::string status_topic, std::vector<std::string> subscriptions,
           MessageHandler handler);
  ~MqttLink();
  MqttLink(const MqttLink&) = delete;
  MqttLink& operator=(const MqttLink&) = delete;

  // Prepares the client (credentials, TLS, will) and starts connecting; false
  // with a reason when the settings cannot be used.
  bool Start(std::string* error);

  // Reads the credentials and configures TLS on a client of its own, as
  // Start does, without connecting: false with a reason when they cannot be
  // used.
  static bool CheckSettings(const BrokerConfig& config, std::string* error);

  // A retained message; an empty payload removes the topic's retained message.
  // True when it replaced a value of the topic that had not gone out yet (a
  // value the broker never sees). Safe from any thread.
  bool Publish(const std::string& topic, const std::string& payload);

  struct Figures {
    bool connected = false;
    uint64_t connections = 0;  // successful connections since the start
    std::size_t waiting = 0;   // topics whose latest value has not gone out
    std::size_t in_flight = 0;
    uint64_t superseded = 0;  // values replaced before they went out
  };
  Figures Snapshot() const;

  // The batch events: not retained, QoS 1, and handed to the client only
  // while connected (the journal keeps them meanwhile); `mid` identifies the
  // acknowledgement. False when there is no connection.
  bool PublishEvent(const std::string& topic, const std::string& payload, int* mid);
  // Called on the link's thread after each connection and after each
  // acknowledged message; set before Start.
  void OnDelivery(std::function<void()> connected, std::function<void(int mid)> acknowledged);

  // Topics with a retained payload, for clearing those a new configuration no
  // longer has.
  std::vector<std::string> RetainedTopics() const;

 private:
  static bool Configure(mosquitto* client, const BrokerConfig& config, std::string* error);
  static void OnConnect(mosquitto*, void* self, int rc);
  static void OnMessage(mosquitto*, void* self, const mosquitto_message* message);
  static void OnPublish(mosquitto*, void* self, int mid);
  static void OnLibraryLog(mosquitto*, void* self, int level, const char* text);
  void Connected(int rc);
  void Run();
  void Stop();
  void Send(const std::string& topic, const std::string& payload);
  // Sends waiting topics while fewer than the cap are in flight; with
  // retained_mutex_ held.
  void SendWaiting();

  BrokerConfig config_;
  std::string status_topic_;
  std::vector<std::string> subscriptions_;
  MessageHandler handler_;
  std::function<void()> on_connected_;
  std::function<void(int)> on_acknowledged_;
  mosquitto* client_ = nullptr;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> connected_{false};
  Backoff backoff_;
  // The library's last error line (OpenSSL's reason of a failed handshake);
  // the link's thread alone uses it.
  std::string library_error_;
  mutable std::mutex retained_mutex_;
  std::map<std::string, std::string> retained_;
  std::deque<std::string> waiting_order_;
  std::set<std::string> waiting_;
  uint64_t connections_ = 0;
  uint64_t superseded_ = 0;
  // Sent and not yet acknowledged (QoS 1, 2) or written (QoS 0); the
  // library's callback changes it, so it has no lock of its own.
  std::atomic<int> in_flight_{0};
  std::mutex wait_mutex_;
  std::condition_variable wake_;
};

}  // namespace tk571::gateway
