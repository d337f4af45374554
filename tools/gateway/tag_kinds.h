// What the gateway adds to the driver's tag kinds for MQTT consumers: English
// titles, how many materials a kind addresses, and the Home Assistant entity
// a kind becomes. The Chinese names, value types and limits come from the
// driver (GetTagAddrList).
#pragma once

#include <string>
#include <string_view>

namespace tk571::gateway {

// What a control becomes when it may be written; a control the
// configuration keeps read-only becomes the matching read-only entity
// (number: sensor, switch: binary sensor) or none (button).
enum class HomeAssistantComponent { kNone, kSensor, kNumber, kSwitch, kButton };

struct KindInfo {
  std::string_view type;      // tag type name as TagEdAddr writes it
  std::string_view title_en;  // with "%d" for the material when channels > 1
  int channels;               // 1, or 4 for the materials M1..M4
  HomeAssistantComponent homeassistant;
};

// Null for a type the gateway does not know.
const KindInfo* FindKind(std::string_view type);

// The English title of a kind for one channel: "final amount, material 2".
std::string KindTitle(const KindInfo& kind, int channel);

}  // namespace tk571::gateway
