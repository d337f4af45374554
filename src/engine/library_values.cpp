#include "engine/library_values.h"

namespace tk571 {

std::atomic<int32_t> WriteRepeatBudget{kInitialWriteRepeatBudget};

void SpendWriteRepeat() {
  int32_t budget = WriteRepeatBudget.load(std::memory_order_relaxed);
  while (budget > 0 &&
         !WriteRepeatBudget.compare_exchange_weak(budget, budget - 1, std::memory_order_relaxed)) {
  }
}

}  // namespace tk571
