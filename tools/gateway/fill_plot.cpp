#include "fill_plot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "time_text.h"
#include "topics.h"

namespace tk571::gateway {
namespace {

constexpr double kWidth = 800;
constexpr double kHeight = 480;
constexpr double kLeft = 64;
constexpr double kRight = 150;  // room for the labels of the levels
constexpr double kTop = 40;
constexpr double kBottom = 48;
constexpr const char* kCurveColour = "#1f5fbf";
constexpr const char* kTargetColour = "#333333";
constexpr const char* kCoarseColour = "#e08a00";
constexpr const char* kFineColour = "#c0392b";
constexpr const char* kFinalColour = "#1e8449";

std::string Num(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", value);
  return text;
}

// A step of 1, 2 or 5 times a power of ten that gives about `count` ticks.
double TickStep(double span, int count) {
  const double raw = span / count;
  const double power = std::pow(10.0, std::floor(std::log10(raw)));
  for (double m : {1.0, 2.0, 5.0}) {
    if (m * power >= raw) return m * power;
  }
  return 10 * power;
}

std::string Escaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '<') {
      out += "&lt;";
    } else if (c == '>') {
      out += "&gt;";
    } else if (c == '&') {
      out += "&amp;";
    } else {
      out += c;
    }
  }
  return out;
}

class Frame {
 public:
  Frame(double t0, double t1, double w1)
      : t0_(t0), t1_(t1 > t0 ? t1 : t0 + 1), w1_(w1 > 0 ? w1 : 1) {}
  double X(double seconds) const {
    return kLeft + (seconds - t0_) / (t1_ - t0_) * (kWidth - kLeft - kRight);
  }
  double Y(double kg) const { return kHeight - kBottom - kg / w1_ * (kHeight - kTop - kBottom); }
  double t0() const { return t0_; }
  double t1() const { return t1_; }
  double w1() const { return w1_; }

 private:
  double t0_, t1_, w1_;
};

}  // namespace

std::string FillPlotSvg(const BatchRecord& batch) {
  const std::vector<CurvePoint>& curve = batch.curve;
  const int64_t origin_ms = !curve.empty() ? curve.front().at_ms : batch.ended_ms;
  const auto seconds = [&](int64_t ms) { return (ms - origin_ms) / 1000.0; };
  // The empty hopper: the lowest weight (the first reading may still show
  // the batch before, until the hopper was discharged).
  std::size_t lowest = 0;
  for (std::size_t i = 0; i < curve.size(); ++i) {
    if (curve[i].kg < curve[lowest].kg) lowest = i;
  }
  const double start_kg = curve.empty() ? 0 : std::min(0.0, curve[lowest].kg);

  // The levels of each material, from where the one before it ended.
  struct Levels {
    int material;
    double target, coarse, fine, final_amount;
    bool has_target, has_coarse, has_fine, has_final;
  };
  std::vector<Levels> levels;
  double base = start_kg;
  double top = start_kg;
  for (const MaterialResult& m : batch.materials) {
    Levels l{m.material,
             0,
             0,
             0,
             0,
             m.final_sp.has_value(),
             m.final_sp && m.coarse_sp,
             m.final_sp && m.fine_sp,
             m.amount.has_value()};
    if (l.has_target) l.target = base + *m.final_sp;
    if (l.has_coarse) l.coarse = base + *m.final_sp - *m.coarse_sp;
    if (l.has_fine) l.fine = base + *m.final_sp - *m.fine_sp;
    if (l.has_final) l.final_amount = base + *m.amount;
    top = std::max({top, l.target, l.final_amount});
    base = l.has_final ? l.final_amount : l.has_target ? l.target : base;
    levels.push_back(l);
  }
  double end_s = seconds(batch.ended_ms);
  for (const CurvePoint& p : curve) {
    top = std::max(top, p.kg);
    end_s = std::max(end_s, seconds(p.at_ms));
  }
  const double w_step = TickStep(top * 1.05, 6);
  const Frame f(0, end_s, std::ceil(top * 1.05 / w_step) * w_step);

  std::string svg;
  const auto add = [&](const std::string& s) { svg += s + "\n"; };
  add(R"(<svg xmlns="http://www.w3.org/2000/svg" width=")" + Num(kWidth) + R"(" height=")" +
      Num(kHeight) + R"(" viewBox="0 0 )" + Num(kWidth) + " " + Num(kHeight) +
      R"(" font-family="sans-serif" font-size="12">)");
  add(R"(<rect width="100%" height="100%" fill="white"/>)");
  add(R"(<text x=")" + Num(kLeft) + R"(" y="22" font-size="15">)" +
      Escaped(batch.device + ", batch " + std::to_string(batch.sequence) + " (journal " +
              std::to_string(batch.id) + "), ended " + UtcText(batch.ended_ms)) +
      "</text>");
  // Grid and axes.
  for (double w = 0; w <= f.w1() + 1e-9; w += w_step) {
    add(R"(<line x1=")" + Num(kLeft) + R"(" x2=")" + Num(kWidth - kRight) + R"(" y1=")" +
        Num(f.Y(w)) + R"(" y2=")" + Num(f.Y(w)) + R"(" stroke="#e5e5e5"/>)");
    add(R"(<text x=")" + Num(kLeft - 6) + R"(" y=")" + Num(f.Y(w) + 4) + R"(" text-anchor="end">)" +
        NumberText(w) + "</text>");
  }
  const double t_step = TickStep(f.t1() - f.t0(), 8);
  for (double t = 0; t <= f.t1() + 1e-9; t += t_step) {
    add(R"(<line x1=")" + Num(f.X(t)) + R"(" x2=")" + Num(f.X(t)) + R"(" y1=")" + Num(kTop) +
        R"(" y2=")" + Num(kHeight - kBottom) + R"(" stroke="#e5e5e5"/>)");
    add(R"(<text x=")" + Num(f.X(t)) + R"(" y=")" + Num(kHeight - kBottom + 16) +
        R"(" text-anchor="middle">)" + NumberText(t) + "</text>");
  }
  add(R"(<text x=")" + Num((kLeft + kWidth - kRight) / 2) + R"(" y=")" + Num(kHeight - 10) +
      R"(" text-anchor="middle">time (s)</text>)");
  add("<text x=\"14\" y=\"" + Num(kHeight / 2) + "\" transform=\"rotate(-90 14 " +
      Num(kHeight / 2) + ")\" text-anchor=\"middle\">weight (" + Escaped(batch.unit) + ")</text>");
  add(R"(<rect x=")" + Num(kLeft) + R"(" y=")" + Num(kTop) + R"(" width=")" +
      Num(kWidth - kLeft - kRight) + R"(" height=")" + Num(kHeight - kTop - kBottom) +
      R"(" fill="none" stroke="#999999"/>)");

  // The levels: targets dashed across the plot, labelled at the right.
  const auto level = [&](double kg, const char* colour, const char* dash, const std::string& label,
                         double label_dy) {
    add(R"(<line x1=")" + Num(kLeft) + R"(" x2=")" + Num(kWidth - kRight) + R"(" y1=")" +
        Num(f.Y(kg)) + R"(" y2=")" + Num(f.Y(kg)) + R"(" stroke=")" + colour +
        R"(" stroke-dasharray=")" + dash + R"(" stroke-width="1"/>)");
    add(R"(<text x=")" + Num(kWidth - kRight + 6) + R"(" y=")" + Num(f.Y(kg) + label_dy) +
        R"(" fill=")" + colour + R"(">)" + Escaped(label) + "</text>");
  };
  for (const Levels& l : levels) {
    const std::string m = "M" + std::to_string(l.material);
    if (l.has_target) level(l.target, kTargetColour, "6 4", m + " target", -3);
    if (l.has_final) level(l.final_amount, kFinalColour, "2 2", m + " final", 11);
  }

  // The curve as read.
  std::string points;
  for (const CurvePoint& p : curve) {
    points += Num(f.X(seconds(p.at_ms))) + "," + Num(f.Y(p.kg)) + " ";
  }
  // The driver reports a weight when it changes: the last one held until
  // the batch was seen finished.
  if (!curve.empty() && batch.ended_ms > curve.back().at_ms) {
    points += Num(f.X(end_s)) + "," + Num(f.Y(curve.back().kg));
  }
  if (!points.empty()) {
    add(R"(<polyline fill="none" stroke=")" + std::string(kCurveColour) +
        R"(" stroke-width="2.5" points=")" + points + R"("/>)");
  }
  // The switch points where the curve first reached them.
  const auto mark = [&](double kg, const char* colour) {
    for (std::size_t i = lowest; i < curve.size(); ++i) {
      const CurvePoint& p = curve[i];
      if (p.kg + 1e-9 < kg) continue;
      add(R"(<circle cx=")" + Num(f.X(seconds(p.at_ms))) + R"(" cy=")" + Num(f.Y(kg)) +
          R"(" r="5" fill=")" + colour + R"(" stroke="white"/>)");
      return;
    }
  };
  for (const Levels& l : levels) {
    if (l.has_coarse) mark(l.coarse, kCoarseColour);
    if (l.has_fine) mark(l.fine, kFineColour);
  }

  // Legend.
  const double lx = kLeft + 10;
  const double ly = kTop + 16;
  const auto legend = [&](int row, const char* colour, const std::string& text, bool dot) {
    const double y = ly + row * 16;
    add(dot ? R"(<circle cx=")" + Num(lx + 8) + R"(" cy=")" + Num(y - 4) + R"(" r="5" fill=")" +
                  colour + R"("/>)"
            : R"(<line x1=")" + Num(lx) + R"(" x2=")" + Num(lx + 16) + R"(" y1=")" + Num(y - 4) +
                  R"(" y2=")" + Num(y - 4) + R"(" stroke=")" + colour +
                  R"(" stroke-width="2.5"/>)");
    add(R"(<text x=")" + Num(lx + 22) + R"(" y=")" + Num(y) + R"(">)" + text + "</text>");
  };
  legend(0, kCurveColour, "live weight", false);
  legend(1, kCoarseColour, "coarse feed ends (FINAL - COARSE)", true);
  legend(2, kFineColour, "feed closes (FINAL - FINE)", true);
  add("</svg>");
  return svg;
}

}  // namespace tk571::gateway
