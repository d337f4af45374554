// Run states and run events of the driver object's state machine.
#pragma once

#include <cstdint>

namespace tk571 {

enum TRunState : uint8_t {
  rsIdle = 0,
  rsUnlinked = 1,
  rsSysErrorLinked = 2,
  rsSysErrorUnlinked = 3,
  rsReady = 4,
  rsStopping = 5,
  rsIniting = 6,
  rsLinking = 7,
  rsUnlinking = 8,
  rsUnused9 = 9,
  rsReading = 10,
  rsWriting = 11,
  rsParm = 12,
  rsRail = 13,
  rsResvLink1 = 14,
  rsResvLink2 = 15,
  rsResvLink3 = 16,
};
inline constexpr int kRunStateCount = 17;

enum TRunEvent : uint8_t {
  opNone = 0,
  opInit = 1,
  opInitACK,
  opInitNAK,
  opClrInitError,
  opLink,
  opLinkACK,
  opLinkNAK,
  opClrLinkError,
  opUnLink,
  opUnLinkACK,
  opUnLinkNAK,
  opClrUnLinkError,
  opReadCmd,
  opReadACK,
  opReadNAK,
  opClrReadError,
  opWriteCmd,
  opWriteACK,
  opWriteNAK,
  opClrWriteError,
  opParmCmd,
  opParmACK,
  opParmNAK,
  opClrParmError,
  opStop,
  opStopACK,
  opStopNAK,
  opClrStopError,
  opRailCmd,
  opRailACK,
  opRailNAK,
  opClrRailError,
  opResvLink1,
  opResvLink1ACK,
  opResvLink1NAK,
  opClrResvLink1Error,
  opResvLink2,
  opResvLink2ACK,
  opResvLink2NAK,
  opClrResvLink2Error,
  opResvLink3,
  opResvLink3ACK,
  opResvLink3NAK,
  opClrResvLink3Error,
};
inline constexpr int kRunEventCount = 45;  // 0..44
static_assert(opClrResvLink3Error == 44);

// What one step left for the line thread to do.
struct LineStepOutcome {
  // The machine changed state, event or command, or sent a request: it may
  // take its next step at once.
  bool moved = false;
  // An answer is awaited: bytes arriving on the line end the wait, and the
  // host's posts wait for the exchange to end.
  bool awaiting = false;
  // When the machine has work again without bytes or posts: the answer's
  // time-out, or the next command falling due (platform::kWaitForever: never).
  uint32_t wait_ms = 0;
};

}  // namespace tk571
