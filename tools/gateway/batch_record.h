// One finished batch as the journal keeps it: the recipe the controller
// confirmed, what the controller finally weighed per material, how far that
// is from the target, and the live weights read while it ran.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tk571::gateway {

enum class Verdict { kIn, kOut, kNone };  // kNone: no tolerance or no target known

struct MaterialResult {
  int material = 0;  // 1..4
  // The recipe in force: FINAL, COARSE and FINE as the controller confirmed
  // them (LOAD_SETM answered, or READ_SETM); unset when not known.
  std::optional<double> final_sp;
  std::optional<double> coarse_sp;
  std::optional<double> fine_sp;
  std::optional<double> amount;     // the controller's final amount
  std::optional<double> deviation;  // amount - FINAL
  std::optional<double> tolerance;  // kg either side of FINAL
  Verdict verdict = Verdict::kNone;
};

// Who started the batch: the control written through the gateway and where
// the write came from; empty control when the gateway saw no start (the
// controller's panel, another host, or a start before the gateway ran).
struct WriteSource {
  std::string topic;
  std::string client;
  std::string user;
};

struct BatchOrigin {
  std::string control;
  WriteSource source;
};

struct CurvePoint {
  int64_t at_ms = 0;  // UTC, milliseconds since 1970
  double kg = 0;
};

struct BatchRecord {
  int64_t id = 0;  // the journal's batch number, across devices
  std::string device;
  int device_number = 0;
  int64_t sequence = 0;  // per device, from 1, never reused
  std::optional<int64_t> started_ms;
  int64_t ended_ms = 0;
  BatchOrigin origin;
  std::string unit = "kg";
  std::vector<MaterialResult> materials;
  std::vector<CurvePoint> curve;
};

const char* VerdictText(Verdict verdict);
Verdict VerdictOf(const std::string& text);

}  // namespace tk571::gateway
