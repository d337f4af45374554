#include "mqtt_link.h"

#include <mosquitto.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include "log.h"
#include "secrets.h"
#include "tls_files.h"

namespace tk571::gateway {
namespace {

constexpr const char* kOnline = "online";
constexpr const char* kOffline = "offline";
// mosquitto_loop's wait; also how soon the thread sees a stop.
constexpr int kLoopWaitMs = 200;
// Rounds of the loop a clean stop gives the last messages to leave.
constexpr int kFlushRounds = 20;
// Messages handed to the library and not yet through; more wait as topics.
constexpr int kMaxInFlight = 64;

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
  mosquitto_log_callback_set(client_, &MqttLink::OnLibraryLog);
  if (!Configure(client_, config_, error)) return false;
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

bool MqttLink::Configure(mosquitto* client, const BrokerConfig& config, std::string* error) {
  if (!config.credentials_file.empty()) {
    Credentials credentials;
    if (!ReadCredentials(config.credentials_file, &credentials, error)) return false;
    mosquitto_username_pw_set(client, credentials.user.c_str(), credentials.password.c_str());
  }
  if (!config.tls) return true;
  const TlsFiles& tls = *config.tls;
  std::string key_path;
  if (!tls.key_file.empty()) {
    key_path = SecretPath(tls.key_file, error);
    if (key_path.empty()) return false;
  }
  *error = CheckTlsFiles(tls, key_path);
  if (!error->empty()) return false;
  int rc = mosquitto_tls_set(client, tls.ca_file.c_str(), nullptr,
                             tls.cert_file.empty() ? nullptr : tls.cert_file.c_str(),
                             key_path.empty() ? nullptr : key_path.c_str(), nullptr);
  if (rc == MOSQ_ERR_SUCCESS) {
    // Verify the broker's certificate (1); the version is the lowest one taken.
    rc = mosquitto_tls_opts_set(client, 1, ("tlsv" + tls.min_version).c_str(), nullptr);
  }
  if (rc != MOSQ_ERR_SUCCESS) {
    *error = "TLS settings (" + tls.ca_file + "): " + Reason(rc);
    return false;
  }
  return true;
}

bool MqttLink::CheckSettings(const BrokerConfig& config, std::string* error) {
  const std::unique_ptr<mosquitto, decltype(&mosquitto_destroy)> client(
      mosquitto_new(config.client_id.c_str(), true, nullptr), &mosquitto_destroy);
  if (!client) {
    *error = std::string("cannot create an MQTT client: ") + std::strerror(errno);
    return false;
  }
  return Configure(client.get(), config, error);
}

void MqttLink::Run() {
  const std::string broker = config_.host + ":" + std::to_string(config_.port);
  bool first = true;
  while (!stop_) {
    int rc = first ? mosquitto_connect_async(client_, config_.host.c_str(), config_.port,
                                             config_.keepalive_s)
                   : mosquitto_reconnect_async(client_);
    first = false;
    while (rc == MOSQ_ERR_SUCCESS && !stop_) {
      rc = mosquitto_loop(client_, kLoopWaitMs, 1);
      const std::lock_guard<std::mutex> lock(retained_mutex_);
      SendWaiting();
    }
    const bool was_connected = connected_.exchange(false);
    if (stop_) break;
    std::string reason = Reason(rc);
    if (rc == MOSQ_ERR_TLS && config_.tls) {
      reason += " (" + library_error_ + "): the broker's certificate is not signed by " +
                config_.tls->ca_file + " or not made out to " + config_.host +
                ", or the broker refused the client certificate";
    }
    library_error_.clear();
    const std::chrono::seconds wait = backoff_.Next();
    Log("MQTT broker " + broker + ": " + (was_connected ? "connection lost: " : "") + reason +
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
    ++connections_;
    // What the library still held from the last connection is gone with it.
    in_flight_ = 0;
    Send(status_topic_, kOnline);
    waiting_.clear();
    waiting_order_.clear();
    for (const auto& [topic, payload] : retained_) {
      waiting_.insert(topic);
      waiting_order_.push_back(topic);
    }
    Log("MQTT broker " + config_.host + ":" + std::to_string(config_.port) + ": connected, " +
        std::to_string(retained_.size()) + " retained topics to publish");
    SendWaiting();
  }
  if (on_connected_) on_connected_();
}

void MqttLink::OnLibraryLog(mosquitto*, void* self, int level, const char* text) {
  if (level == MOSQ_LOG_ERR && text != nullptr) static_cast<MqttLink*>(self)->library_error_ = text;
}

void MqttLink::OnPublish(mosquitto*, void* self, int mid) {
  MqttLink& link = *static_cast<MqttLink*>(self);
  std::atomic<int>& in_flight = link.in_flight_;
  int now = in_flight.load();
  while (now > 0 && !in_flight.compare_exchange_weak(now, now - 1)) {
  }
  if (link.on_acknowledged_) link.on_acknowledged_(mid);
}

void MqttLink::OnDelivery(std::function<void()> connected,
                          std::function<void(int mid)> acknowledged) {
  on_connected_ = std::move(connected);
  on_acknowledged_ = std::move(acknowledged);
}

bool MqttLink::PublishEvent(const std::string& topic, const std::string& payload, int* mid) {
  if (!connected_) return false;
  ++in_flight_;
  if (mosquitto_publish(client_, mid, topic.c_str(), static_cast<int>(payload.size()),
                        payload.data(), 1, false) == MOSQ_ERR_SUCCESS) {
    return true;
  }
  --in_flight_;
  return false;
}

void MqttLink::SendWaiting() {
  while (connected_ && !waiting_order_.empty() && in_flight_ < kMaxInFlight) {
    const std::string topic = std::move(waiting_order_.front());
    waiting_order_.pop_front();
    waiting_.erase(topic);
    Send(topic, retained_[topic]);
  }
}

void MqttLink::OnMessage(mosquitto*, void* self, const mosquitto_message* message) {
  const MqttLink& link = *static_cast<MqttLink*>(self);
  const std::string payload(static_cast<const char*>(message->payload),
                            static_cast<std::size_t>(message->payloadlen));
  link.handler_(message->topic, payload, message->retain);
}

void MqttLink::Send(const std::string& topic, const std::string& payload) {
  ++in_flight_;
  if (mosquitto_publish(client_, nullptr, topic.c_str(), static_cast<int>(payload.size()),
                        payload.data(), config_.qos, true) != MOSQ_ERR_SUCCESS) {
    --in_flight_;
  }
}

bool MqttLink::Publish(const std::string& topic, const std::string& payload) {
  const std::lock_guard<std::mutex> lock(retained_mutex_);
  retained_[topic] = payload;
  if (waiting_.count(topic) != 0) {
    ++superseded_;
    return true;
  }
  if (!connected_) return false;  // the next connection publishes it
  waiting_.insert(topic);
  waiting_order_.push_back(topic);
  SendWaiting();
  return false;
}

MqttLink::Figures MqttLink::Snapshot() const {
  const std::lock_guard<std::mutex> lock(retained_mutex_);
  return Figures{connected_, connections_, waiting_.size(),
                 static_cast<std::size_t>(std::max(in_flight_.load(), 0)), superseded_};
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
