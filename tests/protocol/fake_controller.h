// Controllers on one line as the agreed wire contract describes them. Only
// the selected controller answers; ENQ "ID" nn CR LF selects controller nn.
#pragma once

#include <array>
#include <cstdio>
#include <map>
#include <string>

namespace tk571::test {

struct FakeController {
  std::string weight_reply = "ST,GS,+0012.50kg\r\n";
  std::array<std::string, 4> finals = {"+0001.00", "+0002.00", "+0003.00", "+0004.00"};
  // Set-points in menu order: M1 FINAL, M1 COARSE, M1 FINE, M2 FINAL, ...
  std::array<std::string, 12> setpoints = {"0500", "0400", "0010", "0600", "0500", "0020",
                                           "0700", "0600", "0030", "0800", "0700", "0040"};
  int menu = -1;
  bool refuse_start = false;
  // Typed numbers the controller does not take (no echo).
  int ignore_typed = 0;
  // A prompt shown instead of the real one at this menu item.
  int bad_prompt_item = -1;
  std::string bad_prompt;

  static std::string Label(int item) {
    static const char* kNames[] = {"FINAL", "COARSE", "FINE"};
    return "M" + std::to_string(item / 3 + 1) + " " + kNames[item % 3];
  }
  std::string Prompt() const {
    if (menu == bad_prompt_item) return bad_prompt;
    static const char* kNames[] = {"FINAL ", "COARSE", "FINE  "};
    return "M" + std::to_string(menu / 3 + 1) + " " + kNames[menu % 3] + " " + setpoints[menu] +
           "\r\n";
  }
  std::string StatusLine() const {
    std::string line;
    for (int k = 0; k < 4; ++k)
      line += "M" + std::to_string(k + 1) + ",ST," + finals[k] + "kg" + (k < 3 ? ", " : "\r\n");
    return line;
  }
  std::string Answer(const std::string& sent) {
    if (sent == "READ\r\n") return weight_reply;
    if (sent == "\x06\r\n") return StatusLine();
    if (sent == "R\r\n") {
      menu = -1;
      return "YES\r\n";
    }
    if (sent == "SET\r\n") {
      menu = 0;
      return Prompt();
    }
    if (sent == "N\r\n" && menu >= 0) {
      menu = (menu + 1) % 12;
      return Prompt();
    }
    if (sent == "ST\r\n") return refuse_start ? "NO ?\r\n" : "YES\r\n";
    if (sent == "ABO\r\n") return "YES\r\n";
    if (menu >= 0 && sent.size() > 2 &&
        (std::isdigit(static_cast<unsigned char>(sent[0])) || sent[0] == '-')) {
      if (ignore_typed > 0) {
        --ignore_typed;
        return std::string();
      }
      const std::string typed = sent.substr(0, sent.size() - 2);
      char shown[8];
      std::snprintf(shown, sizeof(shown), "%04d", static_cast<int>(std::stod(typed)));
      setpoints[menu] = shown;
      return Label(menu) + " " + typed + "\r\n";
    }
    return "?\r\n";
  }
};

struct FakeLineOfControllers {
  std::map<int, FakeController> controllers;
  int selected = -1;

  std::string Answer(const std::string& sent) {
    if (sent.size() == 7 && sent[0] == '\x05' && sent.compare(1, 2, "ID") == 0) {
      selected = std::stoi(sent.substr(3, 2));
      if (!controllers.count(selected)) return std::string();
      return "\x06" + sent.substr(3, 2) + "\r\n";
    }
    const auto it = controllers.find(selected);
    return it == controllers.end() ? std::string() : it->second.Answer(sent);
  }
};

}  // namespace tk571::test
