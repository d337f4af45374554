// The controller's set-point menu: "R" returns to the main display, "SET"
// enters the menu at M1 FINAL, "N" moves to the next of the twelve items
// (M1 FINAL, M1 COARSE, M1 FINE, M2 FINAL, ... M4 FINE). Each item is shown
// as a prompt such as "M1 FINAL  0500"; a number typed while it is shown sets
// it and is echoed as the label, a blank and the typed text.
#include <cmath>

#include "engine/run_log.h"
#include "platform/clock.h"
#include "platform/gbk.h"
#include "protocol/dll_object.h"
#include "protocol/reply_shape.h"
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

std::string TDLLObject::ReceivePrompt() {
  const std::string received = ReceiveText(false);
  const auto prompt = FindPrompt(received);
  if (!prompt) {
    AcceptAnswer(received, 0, received.size());
    return received;
  }
  AcceptAnswer(received, prompt->begin, prompt->end);
  return received.substr(prompt->begin, prompt->end - prompt->begin);
}

void TDLLObject::LogPromptFault(const std::string&, const char* operation) {
  LogExceptionLine(this, operation);
}

void TDLLObject::SyncTagValue(TCommand& command) {
  if (!command.IsWrite || command.TypeIndex != kTypeLOAD_SETM) return;
  // The recipe the controller gets is the one the host had written when the
  // load was taken: set-points written later wait for the next load.
  const TSetpoints& table = Setpoints(command.DevNo);
  for (int item = 0; item < kSetpointItems; ++item) {
    const auto i = static_cast<std::size_t>(item / kItemsPerMaterial);
    const float* kinds[] = {&table.Final[i], &table.Coarse[i], &table.Fine[i]};
    command.Values.push_back(
        TagValue::Double(static_cast<double>(*kinds[item % kItemsPerMaterial])));
  }
}

float TDLLObject::RecipeItem(const TCommand& command, SetpointKind kind, int material) {
  const std::size_t at = 1 + ItemOf(kind, material);
  return at < command.Values.size() ? static_cast<float>(command.Values[at].AsDouble()) : 0.0f;
}

bool TDLLObject::RecipeRefused(const TCommand& command) {
  return Guarded(this, "RecipeRefused", false, [&] {
    // The controller doses coarse up to COARSE, fine up to FINAL - FINE; any
    // other order is a recipe it must not get. (A NaN fails every comparison.)
    for (int m = 1; m <= kMaterials; ++m) {
      const float final_kg = RecipeItem(command, SetpointKind::kFinal, m);
      const float coarse_kg = RecipeItem(command, SetpointKind::kCoarse, m);
      const float fine_kg = RecipeItem(command, SetpointKind::kFine, m);
      if (final_kg > coarse_kg && coarse_kg > fine_kg) continue;
      const auto value = [&](float v) { return FloatText(static_cast<double>(v)); };
      SetLogMsg(tk571::LogLine(TK571_GBK("：配方下传被拒绝：物料") + std::to_string(m) +
                               " FINAL=" + value(final_kg) + " COARSE=" + value(coarse_kg) +
                               " FINE=" + value(fine_kg) +
                               TK571_GBK("，须 FINAL > COARSE > FINE")));
      return true;
    }
    return false;
  });
}

bool TDLLObject::SendSetpoints() {
  return Guarded(this, "SendSetpoints", false, [&] {
    TCommand* command = CurrentCommand();
    if (!command) return false;
    SendReturn();
    if (command->TypeIndex == kTypeLOAD_SETM) {
      SendMenuKey("SET");
    }
    for (int item = 0; item < kSetpointItems; ++item) {
      if (!SendSetpointItem()) return false;
      SendMenuKey("N");
    }
    return true;
  });
}

bool TDLLObject::SendSetpointItem() {
  return Guarded(this, "SendSetpointItem", false, [&] {
    const std::string prompt = ReceivePrompt();
    Prompt item;
    const PromptCheck check = ParsePrompt(prompt, item);
    if (check == PromptCheck::kBadMaterial) {
      LogPromptFault(prompt, "SendSetpointItem");
      return false;
    }
    if (check == PromptCheck::kNoSetpoint) return false;

    const TCommand* command = CurrentCommand();
    if (!command || !SetpointsOf(command->DevNo)) return false;
    // The Single widened to a Double keeps its rounding residue: 12.3 goes
    // out as 12.3000001907349, and that is what the controller echoes.
    const std::string value =
        FloatText(static_cast<double>(RecipeItem(*command, item.kind, item.material)));
    for (int attempt = 0; attempt < kSetpointAttempts; ++attempt) {
      SendText(value + std::string(kCrLf));
      // The echo is one line: once its CR LF is in, nothing more comes.
      // The controller echoes the label, a blank and the typed text.
      const std::size_t typed = value.size() + std::string_view(kCrLf).size();
      AwaitReply(AnswerWaitMs(typed, item.label.size() + 1 + typed, kSetpointWaitMs),
                 [](const std::string& text) { return Contains(text, kCrLf); });
      const std::string echo = ReceiveText(true);
      if (Contains(echo, item.label) && Contains(echo, value)) return true;
    }
    SendReturn();
    return false;
  });
}

bool TDLLObject::ReadSetpoints() {
  return Guarded(this, "ReadSetpoints", false, [&] {
    TCommand* command = CurrentCommand();
    if (!command) return false;
    const int32_t device = command->DevNo;
    SendReturn();
    if (command->TypeIndex == kTypeREAD_SETM) {
      SendMenuKey("SET");
    }
    ItemsRead read{};
    for (int item = 0; item < kSetpointItems; ++item) {
      ReadSetpointItem(read);
      SendMenuKey("N");
    }
    // Only what was read reaches the tags: a tag of an item the controller
    // did not show keeps its value.
    const TSetpoints& table = Setpoints(device);
    for (const auto& tag : Tags()) {
      if (!tag || tag->DevNo != device) continue;
      if (tag->Channel < 1 || tag->Channel > kMaterials) continue;
      const auto i = static_cast<std::size_t>(tag->Channel - 1);
      const auto was_read = [&](SetpointKind kind) { return read[ItemOf(kind, tag->Channel)]; };
      if (tag->TypeIndex == kTypeM_FINAL && was_read(SetpointKind::kFinal))
        tag->Value = TagValue::Double(table.Final[i]);
      if (tag->TypeIndex == kTypeM_COARSE && was_read(SetpointKind::kCoarse))
        tag->Value = TagValue::Double(table.Coarse[i]);
      if (tag->TypeIndex == kTypeM_FINE && was_read(SetpointKind::kFine))
        tag->Value = TagValue::Double(table.Fine[i]);
    }
    std::string missing;
    for (int item = 0; item < kSetpointItems; ++item) {
      if (read[static_cast<std::size_t>(item)]) continue;
      if (!missing.empty()) missing += ", ";
      missing += ItemLabel(item);
    }
    if (missing.empty()) return true;
    if (LogErrorsOn()) LogLine(TK571_GBK("：读取配方未读出的项目=") + missing);
    return false;
  });
}

std::size_t TDLLObject::ItemOf(SetpointKind kind, int material) {
  return static_cast<std::size_t>((material - 1) * kItemsPerMaterial + static_cast<int>(kind));
}

std::string TDLLObject::ItemLabel(int item) {
  static constexpr const char* kNames[] = {"FINAL", "COARSE", "FINE"};
  return "M" + std::to_string(item / kItemsPerMaterial + 1) + " " +
         kNames[item % kItemsPerMaterial];
}

bool TDLLObject::ReadSetpointItem(ItemsRead& read) {
  return Guarded(this, "ReadSetpointItem", false, [&] {
    const std::string prompt = ReceivePrompt();
    Prompt item;
    const PromptCheck check = ParsePrompt(prompt, item);
    if (check == PromptCheck::kNoSetpoint) return false;
    if (check == PromptCheck::kBadMaterial || prompt.size() < kPromptValueEnd) {
      LogPromptFault(prompt, "ReadSetpointItem");
      return false;
    }
    const TCommand* command = CurrentCommand();
    TSetpoints* table = SetpointsOf(command ? command->DevNo : -1);
    if (!table) return false;
    const auto number =
        ParseDecimal(RemoveSpaces(SubText(prompt, kPromptValuePos, kPromptValueChars)));
    if (!number) return false;
    Entry(*table, item.kind, item.material) = static_cast<float>(*number);
    read[ItemOf(item.kind, item.material)] = true;
    return true;
  });
}

}  // namespace tk571
