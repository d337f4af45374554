// The gateway's connection to the broker (libmosquitto): connects and
// reconnects with back-off on its own thread, keeps the last retained
// payload of every topic and publishes them all again on each new
// connection, so that a broker that restarted without its store gets the
// whole state back. While there is no connection nothing is queued: the
// remembered state is what goes out on the next connection.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
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

  // A retained message; an empty payload removes the topic's retained message.
  // Safe from any thread.
  void Publish(const std::string& topic, const std::string& payload);

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
  static void OnConnect(mosquitto*, void* self, int rc);
  static void OnMessage(mosquitto*, void* self, const mosquitto_message* message);
  static void OnPublish(mosquitto*, void* self, int mid);
  void Connected(int rc);
  void Run();
  void Stop();
  void Send(const std::string& topic, const std::string& payload);

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
  mutable std::mutex retained_mutex_;
  std::map<std::string, std::string> retained_;
  std::mutex wait_mutex_;
  std::condition_variable wake_;
};

}  // namespace tk571::gateway
