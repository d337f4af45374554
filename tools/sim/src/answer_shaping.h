// How a controller's faults change one answer on its way to the line: what
// bytes go out, in which pieces, and the pauses before them.
#pragma once

#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "tk571sim/controller.h"
#include "tk571sim/sim_types.h"

namespace tk571::sim::detail {

struct AnswerPiece {
  std::string bytes;
  // First piece: from the end of the request; any other piece: from the end
  // of the piece before it.
  Clock::duration pause{};
};

// `request` is the request line without its CR LF; `rng` draws the junk.
std::vector<AnswerPiece> ShapeAnswer(std::string text, AnswerKind kind, std::string_view request,
                                     const Faults& faults, Clock::duration turnaround,
                                     std::mt19937& rng);

}  // namespace tk571::sim::detail
