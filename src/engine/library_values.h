// Values of the communication cycle that every driver object of the process
// shares, and the fixed limits and codes of the cycle.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace tk571 {

// A reply counts as missing once more than this many milliseconds have passed
// since its request was sent.
inline constexpr uint32_t ReplyTimeout = 200;

// Write requests still allowed to be repeated after a timeout. Shared by all
// writes of all driver objects; refilled from the parameter block's
// WriteRetries after an answered write and when a write runs out of repeats.
inline constexpr int32_t kInitialWriteRepeatBudget = 2;
extern std::atomic<int32_t> WriteRepeatBudget;

// Decrements the budget unless it is already used up.
void SpendWriteRepeat();

// Write queue bounds.
inline constexpr std::size_t kWriteQueueLimit = 300;
inline constexpr uint32_t kStaleWriteMs = 10000;
// Interval of a queued write: a priority that puts it ahead of due reads.
inline constexpr int32_t kQueuedWriteInterval = -10000;

// Tag quality codes set by the cycle.
inline constexpr uint32_t kQualityGood = 0;
inline constexpr uint32_t kQualityStaleWrite = 0x2000000;
inline constexpr uint32_t kQualityWriteFailed = 0x4000000;

// Read timeouts since the lists were built after which every further timeout
// is reported as a severe failure; logging switches itself back on at every
// 10000th timeout counted from the 100th.
inline constexpr double kSevereTimeoutCount = 10;
inline constexpr int64_t kEnLogTimeoutPeriod = 10000;
inline constexpr int64_t kEnLogTimeoutCount = 100;

// Back-off of a read that keeps timing out (FailCount grows by 2 a timeout).
inline constexpr uint32_t kBackOffResetMs = 60000;

// Link status codes of the whole line and of each device.
enum TLinkStatus : uint8_t {
  lsNeverAnswered = 0,
  lsNormal = 1,
  lsInterference = 2,
  lsFault = 3,
  lsBroken = 4,
  lsPaused = 5,
};
// DevFailCount of a device that has not answered once.
inline constexpr uint32_t kNeverAnswered = 0xFFFFFFFFu;
// Failed exchanges in a row that a device's link shows as interference.
inline constexpr uint32_t kInterferenceFails = 3;

}  // namespace tk571
