#include "conform_plan.h"

namespace device {

bool ConformPlan::withhold(double ms) {
  if (hold_ != BEFORE || port_ != OPEN || ms < runMs_ * WITHHOLD_AT ||
      ms + WITHHOLD_MS + AFTER_HOLD_MS > runMs_)
    return false;
  hold_ = HOLDING;
  heldAtMs_ = ms;
  return true;
}

}  // namespace device
