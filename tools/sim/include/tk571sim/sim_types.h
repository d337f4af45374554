// Settings and plain records of the TK571 controller simulator.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace tk571::sim {

using Clock = std::chrono::steady_clock;

// RS-485: several controllers share the line, none is selected at power-up and
// only the selected one answers. RS-232: one controller that always answers.
enum class LineMode { kRs485, kRs232 };

enum class Parity { kNone, kOdd, kEven, kMark, kSpace };

inline constexpr int kMinDeviceNumber = 0;
inline constexpr int kMaxDeviceNumber = 99;
inline constexpr int kMaterialCount = 4;

struct LineSettings {
  LineMode mode = LineMode::kRs485;
  int baud = 9600;
  int data_bits = 8;
  Parity parity = Parity::kNone;
  // 1, 1.5 or 2.
  double stop_bits = 1.0;
  // Pause between the last character of a request and the first of its answer.
  std::chrono::microseconds turnaround{5000};
  // Path of the symlink that always points at the current slave side. Empty: a
  // symlink "tty" in a fresh directory under /tmp, removed with the line.
  std::string link_path;
  // Every byte the driver sends comes back to it first, as from an RS-485
  // adapter whose receiver stays on while it transmits.
  bool local_echo = false;
  // Fixed seed for every random draw (overshoot, garbage, noise); empty: a
  // seed from the system.
  std::optional<std::uint32_t> seed;
};

// Seconds one character occupies the line: start bit, data bits, parity bit
// and stop bits, at the baud rate.
double CharacterSeconds(const LineSettings& settings);
Clock::duration CharacterTime(const LineSettings& settings);

// How fast a batch doses. Tests raise the rates to finish a batch in
// milliseconds.
struct DosingRates {
  double fast_kg_per_s = 20.0;
  double slow_kg_per_s = 2.0;
  // Time the material still in flight needs to land after the feed stops.
  std::chrono::milliseconds settle{800};
};

// Misbehaviour of one controller, applied to every answer it gives.
struct Faults {
  // Neither acts on requests nor answers them, like a controller whose
  // receiver has failed.
  bool silent = false;
  // Extra delay before each answer, on top of the turnaround.
  std::chrono::milliseconds late{0};
  // The answer is replaced by as many characters of junk (digits and
  // punctuation, never a letter), still ended by CR LF.
  bool garbage = false;
  // Above 1: the answer leaves in this many pieces with a pause between them.
  int split_parts = 1;
  std::chrono::milliseconds split_gap{20};
  // The answer loses its trailing CR LF.
  bool drop_crlf = false;
  // Random bytes (never CR, LF or ACK) put on the line before the answer.
  int noise_bytes = 0;
  // The answer to "R" (back to the main display) comes this much later still,
  // on top of `late`; the controller's other answers keep their time.
  std::chrono::milliseconds late_r{0};
  // The status line stops for this long after its first `status_pause_after`
  // characters, then the rest follows.
  std::chrono::milliseconds status_pause{0};
  int status_pause_after = 18;
  // This byte goes out before every answer, as an RS-485 adapter that glitches
  // when it turns its driver on.
  std::optional<std::uint8_t> noise_byte{};
  // A typed set-point value is taken, but echoed as typed, without its label.
  bool bare_echo = false;
  // Acknowledges its select request and nothing else: other requests are
  // neither acted on nor answered.
  bool select_only = false;
  // Continuous output: the weight line goes out every this many ms unasked,
  // selected or not, besides the answers to requests; 0: off.
  std::chrono::milliseconds continuous{0};
  // A power cut: the controller restarts at once, forgets that it was
  // selected and leaves its menu, and neither hears nor answers anything for
  // this long. An event rather than a lasting fault: Line::SetFaults carries
  // it out and keeps 0.
  std::chrono::milliseconds power_cycle{0};

  bool operator==(const Faults&) const = default;
};

enum class Stability { kStable, kUnstable, kOverload };
enum class WeighMode { kGross, kNet };

// One material's set-points as the controller shows them: whole kilograms, 4
// digits.
struct MaterialSetpoints {
  int final_kg = 0;
  int coarse_kg = 0;
  int fine_kg = 0;
  bool operator==(const MaterialSetpoints&) const = default;
};
using Recipe = std::array<MaterialSetpoints, kMaterialCount>;

// A recipe can be batched when every material has FINAL > COARSE > FINE >= 0
// and at least one FINAL is above 0.
bool RecipeLoaded(const Recipe& recipe);

struct Reading {
  Stability stability = Stability::kStable;
  WeighMode mode = WeighMode::kGross;
  double kg = 0.0;
};

struct BatchState {
  bool running = false;
  // 1..4 while running, 0 otherwise.
  int material = 0;
  // Final batched amount of each material of the last batch; 0 until the
  // material has finished.
  std::array<double, kMaterialCount> amounts_kg{};
  std::array<bool, kMaterialCount> finished{};
  bool aborted = false;
};

}  // namespace tk571::sim
