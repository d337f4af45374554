#include "tk571sim/controller.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <optional>
#include <stdexcept>
#include <system_error>

namespace tk571::sim {
namespace {

constexpr std::string_view kCrLf = "\r\n";
constexpr std::string_view kYes = "YES\r\n";
constexpr std::string_view kNo = "NO ?\r\n";
constexpr std::string_view kUnknown = "?\r\n";
constexpr char kAck = '\x06';

constexpr std::array<std::string_view, Controller::kItemsPerMaterial> kParameterNames = {
    "FINAL", "COARSE", "FINE"};
// The prompt pads the parameter name to this width, so the value always sits
// in characters 11 to 14.
constexpr int kParameterNameWidth = 6;
constexpr int kMaxSetpointKg = 9999;

// The display shows eight characters: sign, four digits, point, two decimals.
constexpr double kDisplayLimitKg = 9999.99;

// The material in flight when the feed stops lands within this fraction of
// the FINE set-point around it.
constexpr double kInFlightSpread = 0.1;

std::string FormatKg(double kg) {
  double shown = std::clamp(std::round(kg * 100.0) / 100.0, -kDisplayLimitKg, kDisplayLimitKg);
  if (shown == 0.0) shown = 0.0;  // no "-0000.00"
  std::array<char, 16> text{};
  std::snprintf(text.data(), text.size(), "%+08.2f", shown);
  return text.data();
}

// Accepts what an operator or a program types as a number: optional sign,
// digits with an optional point, optional exponent. Nothing else, no blanks.
std::optional<double> ParseNumber(std::string_view text) {
  if (text.empty()) return std::nullopt;
  std::string_view body = text;
  if (body.front() == '+' || body.front() == '-') body.remove_prefix(1);
  if (body.empty() ||
      !(std::isdigit(static_cast<unsigned char>(body.front())) || body.front() == '.')) {
    return std::nullopt;  // also keeps out "inf" and "nan"
  }
  double value = 0.0;
  const char* first = text.data() + (text.front() == '+' ? 1 : 0);
  const char* last = text.data() + text.size();
  auto [end, error] = std::from_chars(first, last, value);
  if (error != std::errc() || end != last || !std::isfinite(value)) return std::nullopt;
  return value;
}

int& Field(MaterialSetpoints& material, int parameter) {
  switch (parameter) {
    case 0:
      return material.final_kg;
    case 1:
      return material.coarse_kg;
    default:
      return material.fine_kg;
  }
}

std::string Label(int item) {
  return "M" + std::to_string(item / Controller::kItemsPerMaterial + 1) + " " +
         std::string(kParameterNames[item % Controller::kItemsPerMaterial]);
}

Reply Refuse(std::string reason) {
  return {std::string(kUnknown), AnswerKind::kRefusal, std::move(reason)};
}

Clock::duration Seconds(double seconds) {
  return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

}  // namespace

bool RecipeLoaded(const Recipe& recipe) {
  bool any_target = false;
  for (const MaterialSetpoints& m : recipe) {
    if (!(m.final_kg > m.coarse_kg && m.coarse_kg > m.fine_kg && m.fine_kg >= 0)) return false;
    any_target = any_target || m.final_kg > 0;
  }
  return any_target;
}

Controller::Controller(int number, std::uint32_t seed, DosingRates rates)
    : number_(number), rng_(seed) {
  SetRates(rates);
}

void Controller::SetRates(const DosingRates& rates) {
  if (!(rates.fast_kg_per_s > 0.0) || !(rates.slow_kg_per_s > 0.0) || rates.settle.count() < 0) {
    throw std::invalid_argument("dosing rates must be positive");
  }
  rates_ = rates;
}

double Controller::Uniform() {
  // Not std::uniform_real_distribution: its output differs between standard
  // libraries, and a fixed seed must give the same batch everywhere.
  return static_cast<double>(rng_()) / 4294967296.0;
}

Reply Controller::Handle(std::string_view request, Clock::time_point now) {
  Advance(now);
  if (request == "READ") return {ReadingLine(now), AnswerKind::kReading, {}};
  if (request == std::string_view(&kAck, 1)) return {StatusLine(), AnswerKind::kStatusLine, {}};
  if (request == "R") {
    in_menu_ = false;
    return {std::string(kYes), AnswerKind::kMenuExit, {}};
  }
  if (request == "SET") {
    in_menu_ = true;
    menu_item_ = 0;
    return {Prompt(), AnswerKind::kPrompt, {}};
  }
  if (request == "N") {
    if (!in_menu_) return Refuse("N outside the set-point menu");
    // After M4 FINE the menu starts again at M1 FINAL.
    menu_item_ = (menu_item_ + 1) % kMenuItems;
    return {Prompt(), AnswerKind::kPrompt, {}};
  }
  if (request == "ST") return Start(now);
  if (request == "ABO") {
    Abort(now);
    return {std::string(kYes), AnswerKind::kProduction, {}};
  }
  if (!request.empty() && ParseNumber(request)) return HandleNumber(request);
  return Refuse("unknown request");
}

Reply Controller::HandleNumber(std::string_view request) {
  if (!in_menu_) return Refuse("number outside the set-point menu");
  double typed = *ParseNumber(request);
  double shown = std::round(typed);
  if (shown < 0.0 || shown > kMaxSetpointKg) {
    return Refuse("set-point outside 0..9999");
  }
  MaterialSetpoints& material = recipe_[menu_item_ / kItemsPerMaterial];
  Field(material, menu_item_ % kItemsPerMaterial) = static_cast<int>(shown);
  return {
      Label(menu_item_) + " " + std::string(request) + std::string(kCrLf), AnswerKind::kEcho, {}};
}

std::string Controller::Prompt() const {
  const int material = menu_item_ / kItemsPerMaterial;
  const int parameter = menu_item_ % kItemsPerMaterial;
  MaterialSetpoints copy = recipe_[material];
  std::array<char, 32> text{};
  std::snprintf(text.data(), text.size(), "M%d %-*s %04d\r\n", material + 1, kParameterNameWidth,
                std::string(kParameterNames[parameter]).c_str(), Field(copy, parameter));
  return text.data();
}

Reply Controller::Start(Clock::time_point now) {
  if (running_) return {std::string(kNo), AnswerKind::kProduction, "a batch is already running"};
  if (!RecipeLoaded(recipe_)) {
    return {std::string(kNo), AnswerKind::kProduction, "no valid recipe loaded"};
  }
  // The hopper was discharged since the last batch.
  running_ = true;
  aborted_ = false;
  material_ = 0;
  phase_ = Phase::kFast;
  phase_start_ = now;
  material_base_kg_ = 0.0;
  resting_net_kg_ = 0.0;
  amounts_kg_ = {};
  finished_ = {};
  return {std::string(kYes), AnswerKind::kProduction, {}};
}

void Controller::Restart(Clock::time_point now) {
  Advance(now);
  Abort(now);
  in_menu_ = false;
  menu_item_ = 0;
}

void Controller::Abort(Clock::time_point now) {
  if (!running_) return;
  resting_net_kg_ = NetAt(now);
  running_ = false;
  aborted_ = true;
}

Clock::duration Controller::PhaseLength() const {
  const MaterialSetpoints& m = recipe_[material_];
  switch (phase_) {
    case Phase::kFast:
      return Seconds((m.final_kg - m.coarse_kg) / rates_.fast_kg_per_s);
    case Phase::kSlow:
      return Seconds((m.coarse_kg - m.fine_kg) / rates_.slow_kg_per_s);
    case Phase::kSettle:
      break;
  }
  return rates_.settle;
}

double Controller::NetAt(Clock::time_point now) const {
  const MaterialSetpoints& m = recipe_[material_];
  const double elapsed_s = std::chrono::duration<double>(now - phase_start_).count();
  switch (phase_) {
    case Phase::kFast:
      return material_base_kg_ +
             std::min(rates_.fast_kg_per_s * elapsed_s, double(m.final_kg - m.coarse_kg));
    case Phase::kSlow:
      return material_base_kg_ + (m.final_kg - m.coarse_kg) +
             std::min(rates_.slow_kg_per_s * elapsed_s, double(m.coarse_kg - m.fine_kg));
    case Phase::kSettle:
      break;
  }
  const double settle_s = std::chrono::duration<double>(rates_.settle).count();
  const double landed = settle_s > 0.0 ? std::min(1.0, elapsed_s / settle_s) : 1.0;
  return material_base_kg_ + (m.final_kg - m.fine_kg) + in_flight_kg_ * landed;
}

void Controller::Advance(Clock::time_point now) {
  while (running_) {
    const Clock::time_point end = phase_start_ + PhaseLength();
    if (now < end) return;
    phase_start_ = end;
    const MaterialSetpoints& m = recipe_[material_];
    switch (phase_) {
      case Phase::kFast:
        phase_ = Phase::kSlow;
        break;
      case Phase::kSlow:
        // The feed closes at FINAL - FINE; what is still falling lands
        // afterwards, about FINE, never exactly.
        phase_ = Phase::kSettle;
        in_flight_kg_ = m.fine_kg * (1.0 + kInFlightSpread * (2.0 * Uniform() - 1.0));
        break;
      case Phase::kSettle: {
        const double amount = (m.final_kg - m.fine_kg) + in_flight_kg_;
        amounts_kg_[material_] = std::round(amount * 100.0) / 100.0;
        finished_[material_] = true;
        material_base_kg_ += amount;
        phase_ = Phase::kFast;
        if (++material_ == kMaterialCount) {
          running_ = false;
          material_ = 0;
          resting_net_kg_ = material_base_kg_;
        }
        break;
      }
    }
  }
}

BatchState Controller::Batch(Clock::time_point now) {
  Advance(now);
  BatchState state;
  state.running = running_;
  state.material = running_ ? material_ + 1 : 0;
  state.amounts_kg = amounts_kg_;
  state.finished = finished_;
  state.aborted = aborted_;
  return state;
}

Reading Controller::Read(Clock::time_point now) {
  Advance(now);
  Reading reading;
  reading.mode = mode_;
  const double net = running_ ? NetAt(now) : resting_net_kg_;
  reading.kg = mode_ == WeighMode::kNet ? net : base_kg_ + net;
  if (forced_overload_ || std::abs(reading.kg) > kDisplayLimitKg) {
    reading.stability = Stability::kOverload;
  } else {
    reading.stability = running_ ? Stability::kUnstable : Stability::kStable;
  }
  return reading;
}

std::string Controller::ReadingLine(Clock::time_point now) {
  const Reading reading = Read(now);
  std::string line;
  switch (reading.stability) {
    case Stability::kStable:
      line = "ST";
      break;
    case Stability::kUnstable:
      line = "US";
      break;
    case Stability::kOverload:
      line = "OL";
      break;
  }
  line += reading.mode == WeighMode::kNet ? ",NT," : ",GS,";
  line += FormatKg(reading.kg);
  line += "kg";
  line += kCrLf;
  return line;
}

std::string Controller::StatusLine() const {
  std::string line;
  for (int k = 0; k < kMaterialCount; ++k) {
    line += "M" + std::to_string(k + 1) + ",NT," + FormatKg(amounts_kg_[k]) + "kg";
    line += k + 1 < kMaterialCount ? std::string_view(", ") : kCrLf;
  }
  return line;
}

}  // namespace tk571::sim
