#include "mqtt_link.h"

#include <mosquitto.h>

#include <cerrno>
#include <cstring>
#include <fstream>

#include "log.h"

namespace tk571::gateway {
namespace {

constexpr const char* kOnline = "online";
constexpr const char* kOffline = "offline";
// mosquitto_loop's wait; also how soon the thread sees a stop.
constexpr int kLoopWaitMs = 200;
// Rounds of the loop a clean stop gives the last messages to leave.
constexpr int kFlushRounds = 20;

std::string Reason(int rc) {
  return rc == MOSQ_ERR_ERRNO ? std::strerror(errno) : mosquitto_strerror(rc);
}

}  // namespace

MqttLibrary::MqttLibrary() {
  mosquitto_lib_init();
}
MqttLibrary::~MqttLibrary() {
  mosquitto_lib_cleanup();
}

MqttLink::MqttLink(BrokerConfig config, std::string status_topic,
                   std::vector<std::string> subscriptions, MessageHandler handler)
    : config_(std::move(config)),
      status_topic_(std::move(status_topic)),
      subscriptions_(std::move(subscriptions)),
      handler_(std::move(handler)),
      backoff_(std::chrono::seconds(config_.reconnect_max_s)) {}

MqttLink::~MqttLink() {
  Stop();
  if (client_ != nullptr) mosquitto_destroy(client_);
}

bool MqttLink::Start(std::string* error) {
  client_ = mosquitto_new(config_.client_id.c_str(), true, this);
  if (client_ == nullptr) {
    *error = std::string("cannot create an MQTT client: ") + std::strerror(errno);
    return false;
  }
  mosquitto_threaded_set(client_, true);
  mosquitto_connect_callback_set(client_, &MqttLink::OnConnect);
  mosquitto_message_callback_set(client_, &MqttLink::OnMessage);
  mosquitto_publish_callback_set(client_, &MqttLink::OnPublish);
  if (!config_.credentials_file.empty()) {
    std::ifstream in(config_.credentials_file);
    std::string user;
    std::string password;
    if (!in || !std::getline(in, user) || user.empty()) {
      *error = "cannot read a user name from " + config_.credentials_file;
      return false;
    }
    std::getline(in, password);
    mosquitto_username_pw_set(client_, user.c_str(), password.c_str());
  }
  if (config_.tls) {
    const TlsFiles& tls = *config_.tls;
    const int rc =
        mosquitto_tls_set(client_, tls.ca_file.c_str(), nullptr,
                          tls.cert_file.empty() ? nullptr : tls.cert_file.c_str(),
                          tls.key_file.empty() ? nullptr : tls.key_file.c_str(), nullptr);
    if (rc != MOSQ_ERR_SUCCESS) {
      *error = "TLS files (" + tls.ca_file + "): " + Reason(rc);
      return false;
    }
  }
  const int rc =
      mosquitto_will_set(client_, status_topic_.c_str(), static_cast<int>(std::strlen(kOffline)),
                         kOffline, config_.qos, true);
  if (rc != MOSQ_ERR_SUCCESS) {
    *error = "last will on " + status_topic_ + ": " + Reason(rc);
    return false;
  }
  thread_ = std::thread(&MqttLink::Run, this);
  return true;
}

void MqttLink::Run() {
  const std::string broker = config_.host + ":" + std::to_string(config_.port);
  bool first = true;
  while (!stop_) {
    int rc = first ? mosquitto_connect_async(client_, config_.host.c_str(), config_.port,
                                             config_.keepalive_s)
                   : mosquitto_reconnect_async(client_);
    first = false;
    while (rc == MOSQ_ERR_SUCCESS && !stop_) rc = mosquitto_loop(client_, kLoopWaitMs, 1);
    const bool was_connected = connected_.exchange(false);
    if (stop_) break;
    const std::chrono::seconds wait = backoff_.Next();
    Log("MQTT broker " + broker + ": " + (was_connected ? "connection lost: " : "") + Reason(rc) +
        "; next attempt in " + std::to_string(wait.count()) + " s");
    std::unique_lock<std::mutex> lock(wait_mutex_);
    wake_.wait_for(lock, wait, [this] { return stop_.load(); });
  }
}

void MqttLink::OnConnect(mosquitto*, void* self, int rc) {
  static_cast<MqttLink*>(self)->Connected(rc);
}

void MqttLink::Connected(int rc) {
  if (rc != 0) {
    Log("MQTT broker " + config_.host + ":" + std::to_string(config_.port) +
        " refused the connection: " + mosquitto_connack_string(rc));
    return;
  }
  backoff_.Reset();
  for (const std::string& pattern : subscriptions_) {
    mosquitto_subscribe(client_, nullptr, pattern.c_str(), config_.qos);
  }
  {
    const std::lock_guard<std::mutex> lock(retained_mutex_);
    connected_ = true;
    Send(status_topic_, kOnline);
    for (const auto& [topic, payload] : retained_) Send(topic, payload);
    Log("MQTT broker " + config_.host + ":" + std::to_string(config_.port) + ": connected, " +
        std::to_string(retained_.size()) + " retained topics published");
  }
  if (on_connected_) on_connected_();
}

void MqttLink::OnPublish(mosquitto*, void* self, int mid) {
  const MqttLink& link = *static_cast<MqttLink*>(self);
  if (link.on_acknowledged_) link.on_acknowledged_(mid);
}

void MqttLink::OnDelivery(std::function<void()> connected,
                          std::function<void(int mid)> acknowledged) {
  on_connected_ = std::move(connected);
  on_acknowledged_ = std::move(acknowledged);
}

bool MqttLink::PublishEvent(const std::string& topic, const std::string& payload, int* mid) {
  if (!connected_) return false;
  return mosquitto_publish(client_, mid, topic.c_str(), static_cast<int>(payload.size()),
                           payload.data(), 1, false) == MOSQ_ERR_SUCCESS;
}

void MqttLink::OnMessage(mosquitto*, void* self, const mosquitto_message* message) {
  const MqttLink& link = *static_cast<MqttLink*>(self);
  const std::string payload(static_cast<const char*>(message->payload),
                            static_cast<std::size_t>(message->payloadlen));
  link.handler_(message->topic, payload, message->retain);
}

void MqttLink::Send(const std::string& topic, const std::string& payload) {
  mosquitto_publish(client_, nullptr, topic.c_str(), static_cast<int>(payload.size()),
                    payload.data(), config_.qos, true);
}

void MqttLink::Publish(const std::string& topic, const std::string& payload) {
  const std::lock_guard<std::mutex> lock(retained_mutex_);
  retained_[topic] = payload;
  if (connected_) Send(topic, payload);
}

std::vector<std::string> MqttLink::RetainedTopics() const {
  const std::lock_guard<std::mutex> lock(retained_mutex_);
  std::vector<std::string> topics;
  for (const auto& [topic, payload] : retained_) {
    if (!payload.empty()) topics.push_back(topic);
  }
  return topics;
}

void MqttLink::Stop() {
  if (!thread_.joinable()) return;
  {
    const std::lock_guard<std::mutex> lock(wait_mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  thread_.join();
  // A clean stop is no failure: "offline" goes out as an ordinary message and
  // the broker drops the will with the DISCONNECT.
  if (mosquitto_socket(client_) < 0) return;
  Send(status_topic_, kOffline);
  mosquitto_disconnect(client_);
  for (int round = 0; round < kFlushRounds; ++round) {
    if (mosquitto_loop(client_, kLoopWaitMs, 1) != MOSQ_ERR_SUCCESS) break;
  }
}

}  // namespace tk571::gateway
