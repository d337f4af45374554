// One TK571 batching controller as seen from the serial line: its display,
// set-point menu, recipe and batch. It knows nothing of the line itself
// (selection, timing, faults); `Line` owns those and guards every controller
// with its lock, so a Controller is not thread-safe on its own.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <string_view>

#include "tk571sim/sim_types.h"

namespace tk571::sim {

// What an answer is, so that the line can misbehave on one kind only.
enum class AnswerKind {
  kSelect,      // ACK nn
  kReading,     // READ
  kStatusLine,  // the status query
  kMenuExit,    // R: YES, back to the main display
  kPrompt,      // SET, N
  kEcho,        // a typed set-point value, echoed with its label
  kProduction,  // ST, ABO
  kRefusal,     // "?"
};

// What the controller puts on the line for one request, and, when it refused
// the request, why (for the log).
struct Reply {
  std::string text;
  AnswerKind kind = AnswerKind::kRefusal;
  std::string refusal;
};

class Controller {
 public:
  // Set-point menu: three items per material, in this order.
  static constexpr int kItemsPerMaterial = 3;
  static constexpr int kMenuItems = kMaterialCount * kItemsPerMaterial;

  Controller(int number, std::uint32_t seed, DosingRates rates = {});

  int Number() const { return number_; }

  // Answers one request line, given without its CR LF. Device selection is
  // the line's business and never reaches here.
  Reply Handle(std::string_view request, Clock::time_point now);

  Recipe GetRecipe() const { return recipe_; }
  void SetRecipe(const Recipe& recipe) { recipe_ = recipe; }
  void SetRates(const DosingRates& rates);
  // The weight on the scale apart from the batch (hopper, any load); the gross
  // display adds the batch's material to it.
  void SetGrossWeight(double kg) { base_kg_ = kg; }
  // Gross (the default) or net: the net display shows the batch's material
  // only.
  void SetWeighMode(WeighMode mode) { mode_ = mode; }
  // Forces the overload mark, as a scale driven past its range does.
  void SetOverload(bool overload) { forced_overload_ = overload; }

  // Power comes back after a cut: the menu is left (the display shows the
  // weight) and a running batch has stopped where it was; the recipe is kept.
  void Restart(Clock::time_point now);

  BatchState Batch(Clock::time_point now);
  Reading Read(Clock::time_point now);
  bool InMenu() const { return in_menu_; }
  // 0..11 while the menu is shown.
  int MenuItem() const { return menu_item_; }

  // The wire texts, with their CR LF.
  std::string ReadingLine(Clock::time_point now);
  std::string StatusLine() const;
  std::string Prompt() const;

 private:
  enum class Phase { kFast, kSlow, kSettle };

  Reply HandleNumber(std::string_view request);
  Reply Start(Clock::time_point now);
  void Abort(Clock::time_point now);
  void Advance(Clock::time_point now);
  Clock::duration PhaseLength() const;
  double NetAt(Clock::time_point now) const;
  double Uniform();  // [0, 1)

  int number_;
  std::mt19937 rng_;
  DosingRates rates_;
  Recipe recipe_{};

  bool in_menu_ = false;
  int menu_item_ = 0;

  bool forced_overload_ = false;
  WeighMode mode_ = WeighMode::kGross;
  double base_kg_ = 0.0;
  // The batch's material when nothing moves (after a batch or an abort).
  double resting_net_kg_ = 0.0;

  bool running_ = false;
  bool aborted_ = false;
  int material_ = 0;  // 0..3 while running
  Phase phase_ = Phase::kFast;
  Clock::time_point phase_start_{};
  double material_base_kg_ = 0.0;  // net weight when the material began
  double in_flight_kg_ = 0.0;
  std::array<double, kMaterialCount> amounts_kg_{};
  std::array<bool, kMaterialCount> finished_{};
};

}  // namespace tk571::sim
