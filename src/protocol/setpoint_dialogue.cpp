// The controller's set-point menu: "R" returns to the main display, "SET"
// enters the menu at M1 FINAL, "N" moves to the next of the twelve items
// (M1 FINAL, M1 COARSE, M1 FINE, M2 FINAL, ... M4 FINE). Each item is shown
// as a prompt such as "M1 FINAL  0500"; a number typed while it is shown sets
// it and is echoed as the label, a blank and the typed text.
#include <cmath>

#include "engine/run_log.h"
#include "platform/clock.h"
#include "protocol/dll_object.h"
#include "protocol/reply_text.h"

namespace tk571 {

namespace {

// Menu prompts: value in characters 11 to 14.
constexpr int64_t kPromptValuePos = 11;
constexpr int64_t kPromptValueChars = 4;
constexpr std::size_t kPromptValueEnd = 14;

const TSetpoints kEmptySetpoints{};

}  // namespace

TSetpoints* TDLLObject::SetpointsOf(int32_t device) {
  if (device < 0 || device >= kDeviceCount) return nullptr;
  return &Setpoints_[static_cast<std::size_t>(device)];
}

const TSetpoints& TDLLObject::Setpoints(int32_t device) const {
  if (device < 0 || device >= kDeviceCount) return kEmptySetpoints;
  return Setpoints_[static_cast<std::size_t>(device)];
}

float& TDLLObject::Entry(TSetpoints& table, SetpointKind kind, int material) {
  const auto i = static_cast<std::size_t>(material - 1);
  switch (kind) {
    case SetpointKind::kCoarse:
      return table.Coarse.at(i);
    case SetpointKind::kFine:
      return table.Fine.at(i);
    default:
      return table.Final.at(i);
  }
}

TDLLObject::PromptCheck TDLLObject::ParsePrompt(const std::string& prompt, Prompt& out) const {
  if (prompt.size() < 2 || prompt[1] < '1' || prompt[1] > '0' + kMaterials)
    return PromptCheck::kBadMaterial;
  out.material = prompt[1] - '0';
  // A later name wins, as the controller's prompts hold exactly one of them.
  const char* name = nullptr;
  if (Contains(prompt, "FINAL")) {
    name = "FINAL";
    out.kind = SetpointKind::kFinal;
  }
  if (Contains(prompt, "COARSE")) {
    name = "COARSE";
    out.kind = SetpointKind::kCoarse;
  }
  if (Contains(prompt, "FINE")) {
    name = "FINE";
    out.kind = SetpointKind::kFine;
  }
  if (!name) return PromptCheck::kNoSetpoint;
  out.label = "M" + std::to_string(out.material) + " " + name;
  return PromptCheck::kOk;
}

void TDLLObject::LogPromptFault(const std::string&, const char* operation) {
  LogException(operation, "TDLLObject");
}

bool TDLLObject::SendSetpoints() {
  try {
    TCommand* command = CurrentCommand();
    if (!command) return false;
    const TSetpoints& table = Setpoints(command->DevNo);
    // The controller doses coarse up to COARSE, fine up to FINAL - FINE; any
    // other order is a recipe it must not get. (A NaN fails every comparison.)
    for (int m = 0; m < kMaterials; ++m) {
      const auto i = static_cast<std::size_t>(m);
      if (!(table.Final[i] > table.Coarse[i] && table.Coarse[i] > table.Fine[i])) return false;
    }
    SendText("R" + std::string(kCrLf));
    platform::SleepMs(kMenuPauseMs);
    if (command->TypeIndex == kTypeLOAD_SETM) {
      SendText("SET" + std::string(kCrLf));
      platform::SleepMs(kMenuPauseMs);
    }
    for (int item = 0; item < kSetpointItems; ++item) {
      if (!SendSetpointItem()) return false;
      SendText("N" + std::string(kCrLf));
      platform::SleepMs(kMenuPauseMs);
    }
    return true;
  } catch (...) {
    LogException("SendSetpoints", "TDLLObject");
    return false;
  }
}

bool TDLLObject::SendSetpointItem() {
  try {
    const std::string prompt = ReceiveText();
    Prompt item;
    const PromptCheck check = ParsePrompt(prompt, item);
    if (check == PromptCheck::kBadMaterial) {
      LogPromptFault(prompt, "SendSetpointItem");
      return false;
    }
    if (check == PromptCheck::kNoSetpoint) return false;

    const TCommand* command = CurrentCommand();
    TSetpoints* table = SetpointsOf(command ? command->DevNo : -1);
    if (!table) return false;
    // The Single widened to a Double keeps its rounding residue: 12.3 goes
    // out as 12.3000001907349, and that is what the controller echoes.
    const std::string value =
        FloatText(static_cast<double>(Entry(*table, item.kind, item.material)));
    for (int attempt = 0; attempt < kSetpointAttempts; ++attempt) {
      SendText(value + std::string(kCrLf));
      // The echo is one line: once its CR LF is in, nothing more comes.
      AwaitReply(kSetpointWaitMs, [](const std::string& text) { return Contains(text, kCrLf); });
      const std::string echo = ReceiveText();
      if (Contains(echo, item.label) && Contains(echo, value)) return true;
    }
    SendText("R" + std::string(kCrLf));
    return false;
  } catch (...) {
    LogException("SendSetpointItem", "TDLLObject");
    return false;
  }
}

bool TDLLObject::ReadSetpoints() {
  try {
    TCommand* command = CurrentCommand();
    if (!command) return false;
    const int32_t device = command->DevNo;
    SendText("R" + std::string(kCrLf));
    platform::SleepMs(kMenuPauseMs);
    if (command->TypeIndex == kTypeREAD_SETM) {
      SendText("SET" + std::string(kCrLf));
      platform::SleepMs(kMenuPauseMs);
    }
    for (int item = 0; item < kSetpointItems; ++item) {
      ReadSetpointItem();
      SendText("N" + std::string(kCrLf));
      platform::SleepMs(kMenuPauseMs);
    }
    const TSetpoints& table = Setpoints(device);
    for (const auto& tag : Tags()) {
      if (!tag || tag->DevNo != device) continue;
      if (tag->Channel < 1 || tag->Channel > kMaterials) continue;
      const auto i = static_cast<std::size_t>(tag->Channel - 1);
      switch (tag->TypeIndex) {
        case kTypeM_FINAL:
          tag->Value = TagValue::Double(table.Final[i]);
          break;
        case kTypeM_COARSE:
          tag->Value = TagValue::Double(table.Coarse[i]);
          break;
        case kTypeM_FINE:
          tag->Value = TagValue::Double(table.Fine[i]);
          break;
        default:
          break;
      }
    }
    return true;
  } catch (...) {
    LogException("ReadSetpoints", "TDLLObject");
    return false;
  }
}

bool TDLLObject::ReadSetpointItem() {
  try {
    const std::string prompt = ReceiveText();
    Prompt item;
    const PromptCheck check = ParsePrompt(prompt, item);
    if (check == PromptCheck::kNoSetpoint) return true;
    if (check == PromptCheck::kBadMaterial || prompt.size() < kPromptValueEnd) {
      LogPromptFault(prompt, "ReadSetpointItem");
      return true;
    }
    const TCommand* command = CurrentCommand();
    TSetpoints* table = SetpointsOf(command ? command->DevNo : -1);
    if (!table) return true;
    const auto number =
        ParseDecimal(RemoveSpaces(SubText(prompt, kPromptValuePos, kPromptValueChars)));
    Entry(*table, item.kind, item.material) = static_cast<float>(number ? *number : 0.0);
    return true;
  } catch (...) {
    LogException("ReadSetpointItem", "TDLLObject");
    return true;
  }
}

}  // namespace tk571
