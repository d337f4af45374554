#include "answer_shaping.h"

#include <algorithm>
#include <map>

namespace tk571::sim::detail {
namespace {

constexpr char kAck = '\x06';
constexpr std::string_view kCrLf = "\r\n";
// Junk for garbled answers: no letters, so it can never pass for a reading,
// a prompt or an acknowledgement.
constexpr std::string_view kGarbageChars = "#%&*+-/0123456789:;<=>@";

std::string RandomNoise(int count, std::mt19937& rng) {
  std::string noise;
  while (noise.size() < std::size_t(count)) {
    const char c = char(rng() & 0xFF);
    if (c != '\r' && c != '\n' && c != kAck) noise += c;
  }
  return noise;
}

// A later pause at the same place wins only when it is longer.
void AddBreak(std::map<std::size_t, Clock::duration>& breaks, std::size_t at,
              Clock::duration pause) {
  auto [it, fresh] = breaks.emplace(at, pause);
  if (!fresh) it->second = std::max(it->second, pause);
}

}  // namespace

std::vector<AnswerPiece> ShapeAnswer(std::string text, AnswerKind kind, std::string_view request,
                                     const Faults& f, Clock::duration turnaround,
                                     std::mt19937& rng) {
  if (kind == AnswerKind::kEcho && f.bare_echo) text = std::string(request) + std::string(kCrLf);
  if (f.garbage) {
    const std::size_t body = text.ends_with(kCrLf) ? text.size() - kCrLf.size() : text.size();
    for (std::size_t i = 0; i < body; ++i) text[i] = kGarbageChars[rng() % kGarbageChars.size()];
  }
  if (f.drop_crlf && text.ends_with(kCrLf)) text.resize(text.size() - kCrLf.size());

  std::string prefix = RandomNoise(f.noise_bytes, rng);
  if (f.noise_byte) prefix += char(*f.noise_byte);
  std::map<std::size_t, Clock::duration> breaks;
  if (kind == AnswerKind::kStatusLine && f.status_pause.count() > 0 &&
      std::size_t(f.status_pause_after) < text.size()) {
    AddBreak(breaks, prefix.size() + std::size_t(f.status_pause_after), f.status_pause);
  }
  text = prefix + text;
  const std::size_t parts =
      std::clamp<std::size_t>(f.split_parts, 1, std::max<std::size_t>(1, text.size()));
  for (std::size_t i = 1; i < parts; ++i) AddBreak(breaks, text.size() * i / parts, f.split_gap);
  breaks.erase(0);

  Clock::duration first = turnaround + f.late;
  if (kind == AnswerKind::kMenuExit) first += f.late_r;
  std::vector<AnswerPiece> pieces;
  std::size_t offset = 0;
  Clock::duration pause = first;
  for (const auto& [at, next_pause] : breaks) {
    pieces.push_back({text.substr(offset, at - offset), pause});
    offset = at;
    pause = next_pause;
  }
  pieces.push_back({text.substr(offset), pause});
  return pieces;
}

}  // namespace tk571::sim::detail
