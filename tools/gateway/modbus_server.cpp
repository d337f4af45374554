#include "modbus_server.h"

#include <arpa/inet.h>
#include <modbus/modbus.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "log.h"
#include "modbus_request.h"

namespace tk571::gateway {
namespace {

constexpr int kBacklog = 16;
// A frame's bytes arrive together; a pause this long inside one ends the
// connection.
constexpr uint32_t kByteTimeoutUs = 500000;
constexpr std::chrono::seconds kRefusalLogEvery{10};

using Context = std::unique_ptr<modbus_t, decltype(&modbus_free)>;
using Mapping = std::unique_ptr<modbus_mapping_t, decltype(&modbus_mapping_free)>;

std::string PeerName(const sockaddr_in& peer) {
  char text[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &peer.sin_addr, text, sizeof text);
  return std::string(text) + ":" + std::to_string(ntohs(peer.sin_port));
}

// libmodbus encodes the reply from a mapping that holds exactly the range
// the request names.
int Reply(modbus_t* ctx, const uint8_t* query, int size, const ModbusAnswer& answer) {
  const int n = static_cast<int>(answer.values.size());
  const int start = answer.start;
  const auto in = [&](ModbusTable table) { return answer.table == table ? n : 0; };
  Mapping mapping(modbus_mapping_new_start_address(start, in(ModbusTable::kCoils), start,
                                                   in(ModbusTable::kDiscreteInputs), start,
                                                   in(ModbusTable::kHoldingRegisters), start,
                                                   in(ModbusTable::kInputRegisters)),
                  &modbus_mapping_free);
  if (!mapping) return -1;
  for (int i = 0; i < n; ++i) {
    const uint16_t v = answer.values[static_cast<std::size_t>(i)];
    switch (answer.table) {
      case ModbusTable::kCoils:
        mapping->tab_bits[i] = static_cast<uint8_t>(v);
        break;
      case ModbusTable::kDiscreteInputs:
        mapping->tab_input_bits[i] = static_cast<uint8_t>(v);
        break;
      case ModbusTable::kHoldingRegisters:
        mapping->tab_registers[i] = v;
        break;
      case ModbusTable::kInputRegisters:
        mapping->tab_input_registers[i] = v;
        break;
    }
  }
  return modbus_reply(ctx, query, size, mapping.get());
}

std::string EndReason(int error, int idle_s) {
  switch (error) {
    case ETIMEDOUT:
      return "no complete request in time (" + std::to_string(idle_s) +
             " s idle, or a frame left unfinished)";
    case EMBBADDATA:
      return "a frame longer than Modbus allows";
    case ECONNRESET:
    case 0:
      return "closed by the client";
    default:
      return std::strerror(error);
  }
}

}  // namespace

ModbusServer::ModbusServer(ModbusConfig config, RegisterMap map,
                           std::vector<const LineValues*> lines, WriteRoad& road)
    : config_(std::move(config)), map_(std::move(map)), lines_(std::move(lines)), road_(road) {}

ModbusServer::~ModbusServer() {
  if (stop_fd_ >= 0) {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = write(stop_fd_, &one, sizeof one);
  }
  if (listener_.joinable()) listener_.join();
  Reap(true);
  if (listen_fd_ >= 0) close(listen_fd_);
  if (stop_fd_ >= 0) close(stop_fd_);
}

bool ModbusServer::Start(std::string* error) {
  const std::string where = config_.listen + ":" + std::to_string(config_.port);
  Context ctx(modbus_new_tcp(config_.listen.c_str(), config_.port), &modbus_free);
  if (ctx) listen_fd_ = modbus_tcp_listen(ctx.get(), kBacklog);
  if (listen_fd_ < 0) {
    *error = "modbus: cannot listen on " + where + ": " + modbus_strerror(errno);
    return false;
  }
  stop_fd_ = eventfd(0, EFD_CLOEXEC);
  listener_ = std::thread(&ModbusServer::Listen, this);
  Log("modbus: listening on " + where + ", at most " + std::to_string(config_.max_clients) +
      " clients, " + std::to_string(map_.Entries().size()) + " map entries");
  return true;
}

void ModbusServer::Listen() {
  for (;;) {
    pollfd fds[2] = {{listen_fd_, POLLIN, 0}, {stop_fd_, POLLIN, 0}};
    const int ready = poll(fds, 2, 1000);
    if (ready > 0 && (fds[1].revents & POLLIN)) return;
    if (ready > 0 && (fds[0].revents & POLLIN)) Accept();
    Reap(false);
  }
}

void ModbusServer::Accept() {
  sockaddr_in peer{};
  socklen_t size = sizeof peer;
  const int fd = accept4(listen_fd_, reinterpret_cast<sockaddr*>(&peer), &size, SOCK_CLOEXEC);
  if (fd < 0) return;
  const std::string name = PeerName(peer);
  const std::lock_guard<std::mutex> lock(clients_mutex_);
  std::size_t open = 0;
  for (const Client& c : clients_) open += c.done ? 0 : 1;
  if (open >= static_cast<std::size_t>(config_.max_clients)) {
    close(fd);
    ++refused_;
    const auto now = std::chrono::steady_clock::now();
    if (now - refusal_logged_ >= kRefusalLogEvery) {
      Log("modbus: " + std::to_string(refused_) + " connection(s) refused, the last from " + name +
          ": " + std::to_string(open) + " clients are connected, the most allowed");
      refused_ = 0;
      refusal_logged_ = now;
    }
    return;
  }
  const int on = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  // A client that reads no replies blocks its own thread only this long.
  const timeval send_limit{config_.idle_timeout_s, 0};
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &send_limit, sizeof send_limit);
  Client& client = clients_.emplace_back();
  client.fd = fd;
  client.peer = name;
  client.thread = std::thread(&ModbusServer::Serve, this, &client);
  Log("modbus: client " + name + " connected (" + std::to_string(open + 1) + " of " +
      std::to_string(config_.max_clients) + ")");
}

void ModbusServer::Serve(Client* client) {
  Context ctx(modbus_new_tcp("127.0.0.1", MODBUS_TCP_DEFAULT_PORT), &modbus_free);
  std::string reason = "out of memory";
  if (ctx) {
    modbus_set_socket(ctx.get(), client->fd);
    modbus_set_indication_timeout(ctx.get(), static_cast<uint32_t>(config_.idle_timeout_s), 0);
    modbus_set_byte_timeout(ctx.get(), 0, kByteTimeoutUs);
    uint8_t query[MODBUS_TCP_MAX_ADU_LENGTH];
    for (;;) {
      errno = 0;
      const int size = modbus_receive(ctx.get(), query);
      if (size == 0) continue;
      if (size < 0) {
        const int error = errno;
        // The header is in: the client learns why before the connection ends.
        if (error == EMBBADDATA) {
          modbus_reply_exception(ctx.get(), query, MODBUS_EXCEPTION_ILLEGAL_DATA_VALUE);
        }
        reason = EndReason(error, config_.idle_timeout_s);
        break;
      }
      const ModbusAnswer answer = AnswerRequest(query, static_cast<std::size_t>(size), map_, lines_,
                                                road_, SteadyClock::now());
      if (answer.drop) {
        reason = "not a Modbus TCP frame";
        break;
      }
      // The rest of a frame that libmodbus did not take is in already; the
      // client sends its next request only after this reply.
      if (answer.resync) modbus_flush(ctx.get());
      const int sent = answer.exception != 0
                           ? modbus_reply_exception(ctx.get(), query, answer.exception)
                           : Reply(ctx.get(), query, size, answer);
      if (sent < 0) {
        reason = "the reply could not be sent";
        break;
      }
    }
  }
  const std::string peer = client->peer;
  {
    // From here on the client's place counts as free.
    const std::lock_guard<std::mutex> lock(clients_mutex_);
    close(client->fd);
    client->fd = -1;
    client->done = true;
  }
  Log("modbus: client " + peer + " disconnected: " + reason);
}

void ModbusServer::Reap(bool all) {
  std::list<Client> gone;
  {
    const std::lock_guard<std::mutex> lock(clients_mutex_);
    for (auto it = clients_.begin(); it != clients_.end();) {
      if (all && it->fd >= 0) shutdown(it->fd, SHUT_RDWR);
      const auto next = std::next(it);
      if (all || it->done) gone.splice(gone.end(), clients_, it);
      it = next;
    }
  }
  for (Client& c : gone) c.thread.join();
}

}  // namespace tk571::gateway
