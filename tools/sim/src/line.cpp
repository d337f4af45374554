#include "tk571sim/line.h"

#include <poll.h>
#include <stdlib.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <random>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <variant>

#include "answer_shaping.h"
#include "pty.h"

namespace tk571::sim {
namespace {

constexpr char kEnq = '\x05';
constexpr char kAck = '\x06';
constexpr std::string_view kCrLf = "\r\n";
constexpr std::string_view kSelectWord = "ID";
// A request longer than this is line noise, not a request; it is dropped so
// that a stream without LF cannot grow without bound.
constexpr std::size_t kMaxRequestLength = 256;
// A request fragment that has seen no byte for this long is closed in the
// trace, so that it shows up even when its LF never comes.
constexpr auto kFragmentIdle = std::chrono::milliseconds(100);
constexpr std::size_t kReadChunk = 512;
constexpr auto kHangupBackoff = std::chrono::milliseconds(10);

std::string Printable(std::string_view bytes) {
  std::string text;
  for (char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7F) {
      text += c;
    } else {
      static constexpr std::string_view kHex = "0123456789ABCDEF";
      text += '<';
      text += kHex[byte >> 4];
      text += kHex[byte & 0x0F];
      text += '>';
    }
  }
  return text;
}

std::string TwoDigits(int number) {
  return std::string(1, char('0' + number / 10)) + char('0' + number % 10);
}

void ValidateSettings(const LineSettings& s) {
  if (s.baud <= 0) throw std::invalid_argument("baud rate must be positive");
  if (s.data_bits < 5 || s.data_bits > 8) throw std::invalid_argument("data bits must be 5..8");
  if (s.stop_bits != 1.0 && s.stop_bits != 1.5 && s.stop_bits != 2.0) {
    throw std::invalid_argument("stop bits must be 1, 1.5 or 2");
  }
  if (s.turnaround.count() < 0) throw std::invalid_argument("turnaround must not be negative");
}

void ValidateFaults(const Faults& f) {
  if (f.late.count() < 0 || f.late_r.count() < 0 || f.split_gap.count() < 0 ||
      f.status_pause.count() < 0 || f.split_parts < 1 || f.noise_bytes < 0 ||
      f.status_pause_after < 1 || f.continuous.count() < 0 || f.power_cycle.count() < 0) {
    throw std::invalid_argument("faults: negative delay or count");
  }
}

}  // namespace

double CharacterSeconds(const LineSettings& settings) {
  const double parity_bits = settings.parity == Parity::kNone ? 0.0 : 1.0;
  return (1.0 + settings.data_bits + parity_bits + settings.stop_bits) / settings.baud;
}

Clock::duration CharacterTime(const LineSettings& settings) {
  return std::chrono::duration_cast<Clock::duration>(
      std::chrono::duration<double>(CharacterSeconds(settings)));
}

struct Line::Impl {
  struct Slot {
    Controller controller;
    Faults faults;
    // Until then the power is off (after a power cycle).
    Clock::time_point dark_until{};
    // When the next line of continuous output is due.
    Clock::time_point next_stream{};

    bool Dark(Clock::time_point now) const { return now < dark_until; }
  };

  // One write of an answer, paced: byte i reaches the driver when its last
  // stop bit has passed, start + (i + 1) character times. An answer in pieces
  // is several chunks.
  struct Chunk {
    Clock::time_point start;
    std::string bytes;
    int controller = 0;
    std::size_t answer_offset = 0;  // bytes of the answer in earlier pieces
    std::size_t answer_size = 0;
    std::size_t sent = 0;
    std::optional<std::size_t> entry;
    // The adapter's echo of the driver's own bytes, not a controller's answer.
    bool echo = false;
  };

  // An overlap and the trace entry of its request.
  struct Mark {
    Overlap overlap;
    std::size_t entry = 0;
  };

  // What the worker hands to the listeners and the logger after unlocking,
  // in the order it happened.
  struct Notes {
    std::vector<std::variant<TraceEntry, Overlap>> events;
    std::vector<std::string> lines;
    std::function<void(const TraceEntry&)> listener;
    std::function<void(const Overlap&)> overlap_listener;
    std::function<void(std::string_view)> logger;
  };

  explicit Impl(LineSettings s)
      : settings(std::move(s)),
        char_time(CharacterTime(settings)),
        epoch(Clock::now()),
        rng(settings.seed ? *settings.seed : std::random_device()()),
        rx_busy_until(epoch),
        tx_free(epoch),
        local_echo(settings.local_echo) {}

  // --- state, guarded by `mutex` -------------------------------------------
  const LineSettings settings;
  const Clock::duration char_time;
  const Clock::time_point epoch;
  std::mt19937 rng;

  mutable std::mutex mutex;
  mutable std::condition_variable trace_changed;
  std::map<int, Slot> slots;
  std::optional<int> selected;

  detail::Pty pty;
  bool plugged = false;
  std::string link_path;
  std::string temp_dir;

  std::string request;
  Clock::time_point rx_busy_until;
  Clock::time_point last_rx{};
  std::optional<std::size_t> open_request_entry;

  std::deque<Chunk> tx;
  Clock::time_point tx_free;
  bool tx_blocked = false;
  bool local_echo;

  std::vector<TraceEntry> trace;
  std::size_t finished_entries = 0;
  std::vector<Mark> marks;
  std::function<void(const TraceEntry&)> listener;
  std::function<void(const Overlap&)> overlap_listener;
  std::vector<std::string> log;
  std::function<void(std::string_view)> logger;
  Notes pending;

  bool stop = false;

  // --- worker ----------------------------------------------------------------
  std::mutex plug_mutex;  // serialises Unplug, Replug and destruction
  detail::UniqueFd wake;
  std::thread worker;

  Slot& SlotOf(int number) {
    auto it = slots.find(number);
    if (it == slots.end()) {
      throw std::out_of_range("no controller " + std::to_string(number) + " on the line");
    }
    return it->second;
  }

  void Log(std::string line) {
    pending.lines.push_back(line);
    log.push_back(std::move(line));
  }

  std::size_t OpenEntry(Clock::time_point at, Direction direction) {
    trace.push_back({std::chrono::duration_cast<std::chrono::microseconds>(at - epoch), direction,
                     std::string()});
    return trace.size() - 1;
  }

  void FinishEntry(std::size_t index) {
    ++finished_entries;
    pending.events.emplace_back(trace[index]);
    trace_changed.notify_all();
  }

  // Hands the collected notes out; the caller calls them without the lock.
  Notes TakeNotes() {
    Notes notes = std::move(pending);
    pending = Notes();
    notes.listener = listener;
    notes.overlap_listener = overlap_listener;
    notes.logger = logger;
    return notes;
  }

  static void Deliver(const Notes& notes) {
    for (const auto& event : notes.events) {
      if (const auto* entry = std::get_if<TraceEntry>(&event); entry && notes.listener) {
        notes.listener(*entry);
      } else if (const auto* overlap = std::get_if<Overlap>(&event);
                 overlap && notes.overlap_listener) {
        notes.overlap_listener(*overlap);
      }
    }
    if (notes.logger) {
      for (const std::string& line : notes.lines) notes.logger(line);
    }
  }

  // --- receiving ---------------------------------------------------------------

  void OnBytes(std::string_view bytes, Clock::time_point now) {
    for (char c : bytes) {
      // The driver's write reaches the pseudo-terminal at once; on a real line
      // each character takes its time, so the request ends later than read.
      rx_busy_until = std::max(rx_busy_until, now) + char_time;
      if (local_echo) Echo(c);
      if (!open_request_entry) {
        open_request_entry = OpenEntry(now, Direction::kToController);
        MarkOverlap(now, *open_request_entry);
      }
      trace[*open_request_entry].bytes += c;
      request += c;
      if (c == '\n') {
        FinishEntry(*std::exchange(open_request_entry, std::nullopt));
        OnRequest(std::exchange(request, std::string()), rx_busy_until);
      } else if (request.size() > kMaxRequestLength) {
        Log("dropped " + std::to_string(request.size()) + " bytes without LF");
        request.clear();
        FinishEntry(*std::exchange(open_request_entry, std::nullopt));
      }
    }
    last_rx = now;
  }

  // The adapter's receiver hears the character as it goes out: it reaches
  // the driver when its last stop bit has passed, ahead of any answer.
  void Echo(char c) {
    const Clock::time_point start = std::max(tx_free, rx_busy_until - char_time);
    if (!tx.empty() && tx.back().echo &&
        tx.back().start + char_time * tx.back().bytes.size() == start) {
      tx.back().bytes += c;
      tx.back().answer_size += 1;
    } else {
      tx.push_back({start, std::string(1, c), 0, 0, 1, 0, std::nullopt, true});
    }
    tx_free = start + char_time;
  }

  // The answer in front of the queue is the one on the line (or due next).
  // Its piece is going out from its start until its last stop bit, whether
  // or not the worker has written the bytes yet.
  void MarkOverlap(Clock::time_point now, std::size_t request_entry) {
    const auto answer = std::find_if(tx.begin(), tx.end(), [](const Chunk& c) { return !c.echo; });
    if (answer == tx.end()) return;
    const Chunk& chunk = *answer;
    Overlap overlap;
    overlap.at = std::chrono::duration_cast<std::chrono::microseconds>(now - epoch);
    overlap.number = int(marks.size()) + 1;
    overlap.controller = chunk.controller;
    overlap.sent = chunk.answer_offset + chunk.sent;
    overlap.size = chunk.answer_size;
    // A worker that woke late has left the wire quiet since its last byte:
    // once that quiet lasts the 3.5 character times after which a master may
    // send, the answer paused, as far as anyone on the line can tell.
    const bool stalled = chunk.sent < chunk.bytes.size() &&
                         now - (chunk.start + char_time * chunk.sent) >= char_time * 7 / 2;
    if (now >= chunk.start && now < chunk.start + char_time * chunk.bytes.size() && !stalled) {
      overlap.kind = OverlapKind::kSending;
    } else if (overlap.sent > 0) {
      overlap.kind = OverlapKind::kPaused;
    } else {
      overlap.kind = OverlapKind::kPending;
    }
    marks.push_back({overlap, request_entry});
    pending.events.emplace_back(overlap);
  }

  void CloseIdleFragment(Clock::time_point now) {
    if (open_request_entry && now - last_rx >= kFragmentIdle) {
      FinishEntry(*std::exchange(open_request_entry, std::nullopt));
    }
  }

  // `line` ends with LF; `end` is when its last character left the wire.
  void OnRequest(std::string line, Clock::time_point end) {
    line.pop_back();
    const bool framed = !line.empty() && line.back() == '\r';
    if (framed) line.pop_back();

    if (framed && line.size() == 5 && line[0] == kEnq &&
        std::string_view(line).substr(1, 2) == kSelectWord && std::isdigit(uint8_t(line[3])) &&
        std::isdigit(uint8_t(line[4]))) {
      OnSelect((line[3] - '0') * 10 + (line[4] - '0'), end);
      return;
    }

    Slot* slot = Addressed();
    if (slot == nullptr) {
      Log("no controller selected, ignored: " + Printable(line));
      return;
    }
    const Clock::time_point now = Clock::now();
    if (slot->faults.silent || slot->faults.select_only || slot->Dark(now)) return;
    Reply reply = framed ? slot->controller.Handle(line, now)
                         : Reply{"?\r\n", AnswerKind::kRefusal, "request not ended by CR LF"};
    if (!reply.refusal.empty()) {
      Log("controller " + TwoDigits(slot->controller.Number()) + ": " + reply.refusal + ": " +
          Printable(line));
    }
    Answer(*slot, std::move(reply.text), reply.kind, line, end);
  }

  Slot* Addressed() {
    if (settings.mode == LineMode::kRs232) return slots.empty() ? nullptr : &slots.begin()->second;
    if (!selected) return nullptr;
    auto it = slots.find(*selected);
    return it == slots.end() ? nullptr : &it->second;
  }

  void OnSelect(int number, Clock::time_point end) {
    std::string digits = TwoDigits(number);
    if (settings.mode == LineMode::kRs485) {
      // Every controller compares the number with its own; the one that
      // matches is selected, all others are not, whatever they were before.
      selected = number;
      if (slots.count(number) == 0) {
        Log("select " + digits + ": no such controller on the line");
        return;
      }
      // Without power it does not hear its number; the others have let go.
      if (slots.at(number).Dark(Clock::now())) selected.reset();
    }
    // On RS-232 the one controller answers whatever number was asked.
    Slot* slot = Addressed();
    if (slot == nullptr || slot->faults.silent || slot->Dark(Clock::now())) return;
    Answer(*slot, std::string(1, kAck) + digits + std::string(kCrLf), AnswerKind::kSelect,
           std::string(1, kEnq) + std::string(kSelectWord) + digits, end);
  }

  // --- sending ----------------------------------------------------------------

  // `request` is the request line without its CR LF.
  void Answer(const Slot& slot, std::string text, AnswerKind kind, std::string_view request,
              Clock::time_point request_end) {
    const std::vector<detail::AnswerPiece> pieces =
        detail::ShapeAnswer(std::move(text), kind, request, slot.faults,
                            std::chrono::duration_cast<Clock::duration>(settings.turnaround), rng);
    std::size_t size = 0;
    for (const detail::AnswerPiece& piece : pieces) size += piece.bytes.size();
    Clock::time_point ready = request_end;
    std::size_t offset = 0;
    for (const detail::AnswerPiece& piece : pieces) {
      ready += piece.pause;
      if (!piece.bytes.empty()) {
        const Clock::time_point start = std::max(tx_free, ready);
        tx_free = start + char_time * piece.bytes.size();
        tx.push_back({start, piece.bytes, slot.controller.Number(), offset, size, 0, std::nullopt});
        offset += piece.bytes.size();
      }
      ready = tx_free;
    }
  }

  // Continuous output: each due weight line joins the queue. A line waits for
  // the one before it, so a period shorter than a line's time on the wire
  // cannot pile them up.
  void Stream(Clock::time_point now) {
    for (auto& [number, slot] : slots) {
      const std::chrono::milliseconds period = slot.faults.continuous;
      if (period.count() == 0 || slot.faults.silent || now < slot.next_stream) continue;
      if (slot.Dark(now)) {
        slot.next_stream = slot.dark_until;
        continue;
      }
      const std::string text = slot.controller.ReadingLine(now);
      const Clock::time_point start = std::max(tx_free, now);
      tx_free = start + char_time * text.size();
      tx.push_back({start, text, number, 0, text.size(), 0, std::nullopt});
      slot.next_stream = std::max(slot.next_stream + period, tx_free);
    }
  }

  void PowerCycle(Slot& slot, Clock::time_point now) {
    slot.dark_until = now + slot.faults.power_cycle;
    slot.faults.power_cycle = std::chrono::milliseconds(0);
    slot.controller.Restart(now);
    if (selected == slot.controller.Number()) selected.reset();
    // What it had not begun to send is gone with the power.
    const int number = slot.controller.Number();
    std::erase_if(tx,
                  [&](const Chunk& c) { return !c.echo && c.controller == number && c.sent == 0; });
    Log("controller " + TwoDigits(number) + ": power cycle, dark for " +
        std::to_string(
            std::chrono::duration_cast<std::chrono::milliseconds>(slot.dark_until - now).count()) +
        " ms");
  }

  void Wake() {
    const std::uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(wake.Get(), &one, sizeof one);
  }

  void WriteDue(int master, Clock::time_point now) {
    while (!tx.empty()) {
      Chunk& chunk = tx.front();
      if (now < chunk.start) return;
      // A worker that wakes late (a loaded machine) still puts the bytes on
      // the line one character time apart, as a wire would, and the rest of
      // the answer moves later: a burst of overdue bytes would look like a
      // line that went quiet in the middle of an answer.
      if (now >= chunk.start + char_time * (chunk.sent + 2))
        chunk.start = now - char_time * (chunk.sent + 1);
      const auto delivered =
          std::min<std::size_t>(chunk.bytes.size(), std::size_t((now - chunk.start) / char_time));
      if (delivered > chunk.sent) {
        const ssize_t n = ::write(master, chunk.bytes.data() + chunk.sent, delivered - chunk.sent);
        if (n < 0) {
          if (errno == EAGAIN || errno == EWOULDBLOCK) {
            tx_blocked = true;
            return;
          }
          Log(std::string("write failed, answer dropped: ") + std::strerror(errno));
          tx.clear();
          return;
        }
        tx_blocked = false;
        if (!chunk.entry) chunk.entry = OpenEntry(chunk.start, Direction::kFromController);
        trace[*chunk.entry].bytes.append(chunk.bytes, chunk.sent, std::size_t(n));
        chunk.sent += std::size_t(n);
      }
      if (chunk.sent < chunk.bytes.size()) return;
      FinishEntry(*chunk.entry);
      tx.pop_front();
    }
  }

  // When the worker must wake up next without any input.
  std::optional<Clock::time_point> NextDeadline() const {
    std::optional<Clock::time_point> deadline;
    if (!tx.empty() && !tx_blocked) {
      const Chunk& chunk = tx.front();
      deadline = chunk.start + char_time * (chunk.sent + 1);
    }
    if (open_request_entry) {
      const Clock::time_point idle = last_rx + kFragmentIdle;
      deadline = deadline ? std::min(*deadline, idle) : idle;
    }
    for (const auto& [number, slot] : slots) {
      if (slot.faults.continuous.count() == 0 || slot.faults.silent) continue;
      deadline = deadline ? std::min(*deadline, slot.next_stream) : slot.next_stream;
    }
    return deadline;
  }

  void Run(int master, int wake_fd) {
    std::array<char, kReadChunk> buffer{};
    for (;;) {
      std::optional<Clock::time_point> deadline;
      bool want_out = false;
      {
        std::lock_guard lock(mutex);
        if (stop) return;
        deadline = NextDeadline();
        want_out = tx_blocked;
      }
      std::array<pollfd, 2> fds{
          {{master, short(POLLIN | (want_out ? POLLOUT : 0)), 0}, {wake_fd, POLLIN, 0}}};
      timespec timeout{};
      if (deadline) {
        const auto wait = std::max(Clock::duration::zero(), *deadline - Clock::now());
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(wait).count();
        timeout.tv_sec = ns / 1'000'000'000;
        timeout.tv_nsec = ns % 1'000'000'000;
      }
      if (::ppoll(fds.data(), fds.size(), deadline ? &timeout : nullptr, nullptr) < 0 &&
          errno != EINTR) {
        std::lock_guard lock(mutex);
        Log(std::string("poll failed: ") + std::strerror(errno));
        return;
      }
      if (fds[1].revents & POLLIN) {
        std::uint64_t count = 0;
        [[maybe_unused]] ssize_t n = ::read(wake_fd, &count, sizeof count);
      }
      Notes notes;
      {
        std::lock_guard lock(mutex);
        if (stop) return;
        Clock::time_point now = Clock::now();
        if (fds[0].revents & POLLIN) {
          for (;;) {
            const ssize_t n = ::read(master, buffer.data(), buffer.size());
            if (n <= 0) break;
            OnBytes(std::string_view(buffer.data(), std::size_t(n)), now);
          }
        }
        if (fds[0].revents & POLLOUT) tx_blocked = false;
        CloseIdleFragment(now);
        Stream(Clock::now());
        WriteDue(master, Clock::now());
        notes = TakeNotes();
      }
      Deliver(notes);
      // The line holds the slave side open, so a hangup should not happen;
      // if it does, poll would report it at once, again and again.
      if ((fds[0].revents & (POLLHUP | POLLERR)) != 0 && (fds[0].revents & POLLIN) == 0) {
        std::this_thread::sleep_for(kHangupBackoff);
      }
    }
  }

  // --- plugging (callers hold plug_mutex) -------------------------------------

  void StartWorker() {
    const int master = pty.master.Get();
    worker = std::thread([this, master] { Run(master, wake.Get()); });
  }

  void StopWorker() {
    if (!worker.joinable()) return;
    {
      std::lock_guard lock(mutex);
      stop = true;
    }
    Wake();
    worker.join();
    std::lock_guard lock(mutex);
    stop = false;
  }

  void Plug() {
    detail::Pty fresh = detail::Pty::Open();
    detail::RepointSymlink(link_path, fresh.slave_path);
    std::lock_guard lock(mutex);
    pty = std::move(fresh);
    plugged = true;
    request.clear();
    Log("plugged in at " + pty.slave_path);
  }
};

Line::Line(LineSettings settings) {
  ValidateSettings(settings);
  impl_ = std::make_unique<Impl>(std::move(settings));
  Impl& d = *impl_;
  d.wake = detail::UniqueFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (!d.wake.Valid()) throw std::system_error(errno, std::generic_category(), "eventfd");
  d.link_path = d.settings.link_path;
  if (d.link_path.empty()) {
    std::string dir = "/tmp/tk571-sim-XXXXXX";
    if (::mkdtemp(dir.data()) == nullptr) {
      throw std::system_error(errno, std::generic_category(), "mkdtemp");
    }
    d.temp_dir = dir;
    d.link_path = dir + "/tty";
  }
  try {
    d.Plug();
  } catch (...) {
    if (!d.temp_dir.empty()) ::rmdir(d.temp_dir.c_str());
    throw;
  }
  d.StartWorker();
}

Line::~Line() {
  Impl& d = *impl_;
  std::lock_guard plug(d.plug_mutex);
  d.StopWorker();
  ::unlink(d.link_path.c_str());
  if (!d.temp_dir.empty()) ::rmdir(d.temp_dir.c_str());
}

const LineSettings& Line::Settings() const {
  return impl_->settings;
}

void Line::AddController(int number, const DosingRates& rates) {
  if (number < kMinDeviceNumber || number > kMaxDeviceNumber) {
    throw std::invalid_argument("device number must be 0..99");
  }
  Impl& d = *impl_;
  std::lock_guard lock(d.mutex);
  if (d.slots.count(number) != 0) throw std::invalid_argument("device number already on the line");
  if (d.settings.mode == LineMode::kRs232 && !d.slots.empty()) {
    throw std::invalid_argument("an RS-232 line has one controller");
  }
  // Each controller draws from its own sequence, so adding one does not
  // change the batches of the others.
  const std::uint32_t seed = d.rng() ^ (std::uint32_t(number) * 0x9E3779B9u);
  d.slots.emplace(number, Impl::Slot{Controller(number, seed, rates), Faults()});
}

std::vector<int> Line::ControllerNumbers() const {
  std::lock_guard lock(impl_->mutex);
  std::vector<int> numbers;
  for (const auto& [number, slot] : impl_->slots) numbers.push_back(number);
  return numbers;
}

std::string Line::SlavePath() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->plugged ? impl_->pty.slave_path : std::string();
}

std::string Line::LinkPath() const {
  return impl_->link_path;
}

void Line::Unplug() {
  Impl& d = *impl_;
  std::lock_guard plug(d.plug_mutex);
  if (!d.plugged) return;
  d.StopWorker();
  Impl::Notes notes;
  {
    std::lock_guard lock(d.mutex);
    ::unlink(d.link_path.c_str());
    d.pty = detail::Pty();
    d.plugged = false;
    d.request.clear();
    if (d.open_request_entry) d.FinishEntry(*std::exchange(d.open_request_entry, std::nullopt));
    for (Impl::Chunk& chunk : d.tx) {
      if (chunk.entry) d.FinishEntry(*chunk.entry);
    }
    if (!d.tx.empty()) d.Log("unplugged, " + std::to_string(d.tx.size()) + " answer pieces lost");
    d.tx.clear();
    d.tx_blocked = false;
    d.Log("unplugged");
    notes = d.TakeNotes();
  }
  Impl::Deliver(notes);
}

void Line::Replug() {
  Impl& d = *impl_;
  std::lock_guard plug(d.plug_mutex);
  if (d.plugged) return;
  d.Plug();
  d.StartWorker();
}

bool Line::Plugged() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->plugged;
}

void Line::SetFaults(int number, const Faults& faults) {
  ValidateFaults(faults);
  Impl& d = *impl_;
  Impl::Notes notes;
  {
    std::lock_guard lock(d.mutex);
    Impl::Slot& slot = d.SlotOf(number);
    const Clock::time_point now = Clock::now();
    if (faults.continuous != slot.faults.continuous) slot.next_stream = now;
    slot.faults = faults;
    if (faults.power_cycle.count() > 0) d.PowerCycle(slot, now);
    notes = d.TakeNotes();
  }
  Impl::Deliver(notes);
  // The worker may sleep without a deadline: continuous output needs one.
  d.Wake();
}

void Line::SetLocalEcho(bool on) {
  std::lock_guard lock(impl_->mutex);
  impl_->local_echo = on;
}

bool Line::LocalEcho() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->local_echo;
}

Faults Line::GetFaults(int number) const {
  std::lock_guard lock(impl_->mutex);
  return impl_->SlotOf(number).faults;
}

std::optional<int> Line::Selected() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->selected;
}

void Line::WithController(int number,
                          const std::function<void(Controller&, Clock::time_point)>& action) {
  std::lock_guard lock(impl_->mutex);
  action(impl_->SlotOf(number).controller, Clock::now());
}

Recipe Line::GetRecipe(int number) {
  Recipe recipe;
  WithController(number, [&](Controller& c, Clock::time_point) { recipe = c.GetRecipe(); });
  return recipe;
}

void Line::SetRecipe(int number, const Recipe& recipe) {
  WithController(number, [&](Controller& c, Clock::time_point) { c.SetRecipe(recipe); });
}

BatchState Line::Batch(int number) {
  BatchState state;
  WithController(number, [&](Controller& c, Clock::time_point now) { state = c.Batch(now); });
  return state;
}

Reading Line::Read(int number) {
  Reading reading;
  WithController(number, [&](Controller& c, Clock::time_point now) { reading = c.Read(now); });
  return reading;
}

void Line::SetRates(int number, const DosingRates& rates) {
  WithController(number, [&](Controller& c, Clock::time_point) { c.SetRates(rates); });
}

std::vector<TraceEntry> Line::Trace() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->trace;
}

std::string Line::TraceText(bool with_time) const {
  std::vector<TraceEntry> trace;
  std::vector<Impl::Mark> marks;
  {
    std::lock_guard lock(impl_->mutex);
    trace = impl_->trace;
    marks = impl_->marks;
  }
  std::string text;
  auto mark = marks.begin();
  for (std::size_t i = 0; i < trace.size(); ++i) {
    for (; mark != marks.end() && mark->entry == i; ++mark) {
      text += FormatOverlap(mark->overlap, with_time) + '\n';
    }
    text += FormatTraceEntry(trace[i], with_time) + '\n';
  }
  return text;
}

void Line::ClearTrace() {
  Impl& d = *impl_;
  std::lock_guard lock(d.mutex);
  // Entries still being written keep going into fresh slots, the request's
  // overlap mark with it.
  std::vector<TraceEntry> kept;
  std::vector<Impl::Mark> kept_marks;
  if (d.open_request_entry) {
    for (Impl::Mark& mark : d.marks) {
      if (mark.entry != *d.open_request_entry) continue;
      mark.entry = 0;
      mark.overlap.number = 1;
      kept_marks.push_back(mark);
    }
    kept.push_back(d.trace[*d.open_request_entry]);
    d.open_request_entry = kept.size() - 1;
  }
  for (Impl::Chunk& chunk : d.tx) {
    if (chunk.entry) {
      kept.push_back(d.trace[*chunk.entry]);
      chunk.entry = kept.size() - 1;
    }
  }
  d.trace = std::move(kept);
  d.marks = std::move(kept_marks);
  d.finished_entries = 0;
}

std::vector<Overlap> Line::Overlaps() const {
  std::lock_guard lock(impl_->mutex);
  std::vector<Overlap> overlaps;
  for (const Impl::Mark& mark : impl_->marks) overlaps.push_back(mark.overlap);
  return overlaps;
}

std::size_t Line::OverlapCount() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->marks.size();
}

bool Line::WaitForTrace(std::size_t entries, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(impl_->mutex);
  return impl_->trace_changed.wait_for(lock, timeout,
                                       [&] { return impl_->finished_entries >= entries; });
}

void Line::SetTraceListener(std::function<void(const TraceEntry&)> listener) {
  std::lock_guard lock(impl_->mutex);
  impl_->listener = std::move(listener);
}

void Line::SetOverlapListener(std::function<void(const Overlap&)> listener) {
  std::lock_guard lock(impl_->mutex);
  impl_->overlap_listener = std::move(listener);
}

std::vector<std::string> Line::LogLines() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->log;
}

void Line::SetLogger(std::function<void(std::string_view)> logger) {
  std::lock_guard lock(impl_->mutex);
  impl_->logger = std::move(logger);
}

}  // namespace tk571::sim
