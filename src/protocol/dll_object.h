// The TK571 controller: the driver object the entry points create. It selects
// the controller before talking to it, drives the run states with its own
// event rules, keeps the recipe set-points of every controller on the line and
// runs the controller's menu dialogues that load and read them.
#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>
#include <string>

#include "protocol/custom_dll_object.h"
#include "protocol/selected_device.h"

namespace tk571 {

// One controller's recipe: target weight, coarse-feed and overshoot set-points
// of materials 1..4, as the controller holds them (32-bit floats).
struct TSetpoints {
  std::array<float, 4> Final{};
  std::array<float, 4> Coarse{};
  std::array<float, 4> Fine{};
};

enum class SetpointKind { kFinal, kCoarse, kFine };

class TDLLObject : public TCustomDLLObject {
 public:
  // Control characters of the controller's protocol.
  static constexpr char kEnq = '\x05';
  static constexpr char kAck = '\x06';
  // Waits of the dialogues with the controller.
  static constexpr uint32_t kSelectTimeoutMs = 100;
  static constexpr uint32_t kMenuPauseMs = 80;
  static constexpr uint32_t kSetpointWaitMs = 100;
  static constexpr uint32_t kStatusWaitMs = 200;
  static constexpr int kSetpointAttempts = 6;
  static constexpr int kSetpointItems = 12;
  // FINAL, COARSE and FINE of one material, in this order in the menu.
  static constexpr int kItemsPerMaterial = 3;
  static constexpr int kMaterials = 4;

  // "TDLLObject", or the class whose code an operation took over.
  static std::string_view ExceptionClass(std::string_view op);

  explicit TDLLObject(bool first_instance) : TCustomDLLObject(first_instance) {}

  int32_t GetInterval() override;
  CommandPtr CreatCommand(TDLLTag& tag, std::vector<CommandPtr>& list, bool is_write) override;
  bool NeedCreatCommand(std::vector<CommandPtr>& list, TDLLTag& tag, bool is_write) override;
  void GetAskStr(TCommand& command, TDLLTag& tag, std::string& out, bool is_write) override;
  void RealComm(TCommand* command) override;
  bool GetResult() override;
  void opInit_Exec() override;
  void opInitACK_Exec() override;
  void opInitNAK_Exec() override;
  void opWriteCmd_Exec() override;
  void opWriteACK_Exec() override;
  void opWriteNAK_Exec() override;
  bool CheckResult(const std::string& reply) override;

  // A recipe to load that breaks FINAL > COARSE > FINE for a material, which
  // the controller must not get: logged with the material's values, true.
  // The recipe is the one the LOAD_SETM write took.
  bool RecipeRefused(const TCommand& command);
  // The dialogues with the controller, run for the current command.
  bool SendSetpoints();
  bool SendSetpointItem();
  bool ReadSetpoints();
  // Which of the twelve items a read-out got, M1 FINAL first.
  using ItemsRead = std::array<bool, kSetpointItems>;
  bool ReadSetpointItem(ItemsRead& read);
  std::string GetStatusLine();

  // The recipe kept for a device number (0..99); device numbers outside
  // that range read as an empty recipe.
  const TSetpoints& Setpoints(int32_t device) const;

 protected:
  uint8_t ChooseRunEvent() override;
  void StoreTagValue(TDLLTag& tag, ReplyUnderAnalysis& reply) override;
  // An ENQ tag travels in the READ command of its device.
  bool JoinsOnly(const TDLLTag& tag) const override { return tag.TypeIndex == kTypeENQ; }
  void DescribeWrite(const TDLLTag& tag, WriteTag& write) const override;
  std::size_t LongestAnswerChars(const TCommand& command) const override;
  bool IsUnsolicitedOutput(std::string_view bytes) const override;
  void LineReopened() override { ForgetSelection(); }
  // A LOAD_SETM write takes the recipe with it as it stands when the write
  // is taken: its values after the tag's own are the twelve set-points,
  // M1 FINAL first.
  void SyncTagValue(TCommand& command) override;

  // The selected device of this object's line.
  int16_t LineSelectedDevice() const;
  void SetLineSelectedDevice(int16_t device);
  // The selection can no longer be relied on (a controller that failed an
  // exchange may have restarted, a reopened port may have lost the select):
  // the next turn of any controller begins with its select.
  void ForgetSelection() { SetLineSelectedDevice(kNoDeviceSelected); }

 private:
  struct Prompt {
    int material = 0;  // 1..4
    SetpointKind kind = SetpointKind::kFinal;
    std::string label;  // "M1 FINAL"
  };
  enum class PromptCheck { kOk, kBadMaterial, kNoSetpoint };

  TSetpoints* SetpointsOf(int32_t device);
  // The set-point of an item as the LOAD_SETM command took it.
  static float RecipeItem(const TCommand& command, SetpointKind kind, int material);
  static float& Entry(TSetpoints& table, SetpointKind kind, int material);
  // The position of an item in the menu, and its label ("M2 COARSE").
  static std::size_t ItemOf(SetpointKind kind, int material);
  static std::string ItemLabel(int item);
  PromptCheck ParsePrompt(const std::string& prompt, Prompt& out) const;
  void LogPromptFault(const std::string& prompt, const char* operation);
  // The prompt the controller shows now, found by its shape behind a late
  // answer to "R" or a noise byte; without one, all that came.
  std::string ReceivePrompt();
  // Returns the controller to its main display ("R"), as after every write.
  void ReturnToMainDisplay();
  // "R", then the controller's pause to leave its menu.
  void SendReturn();
  // Sends a menu key and waits until the controller can have shown its
  // next prompt.
  void SendMenuKey(const std::string& key);
  bool SendText(const std::string& text);
  // Accepts the last whole line that holds one of `words`.
  bool AcceptLineWith(const std::string& reply, std::initializer_list<std::string_view> words);
  // A whole reply that cannot be used: logged, the exchange fails at once,
  // and with `leave_menu` the controller is sent back to its main display.
  void RefuseReply(const TCommand& command, const std::string& reply, bool leave_menu);

  std::array<TSetpoints, kDeviceCount> Setpoints_{};
  // A device select went unanswered: the command chosen for it stays current
  // and is sent at the next initialisation step.
  bool KeepChosenCommand_ = false;
};

}  // namespace tk571
