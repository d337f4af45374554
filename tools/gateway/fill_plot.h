// The fill curve of one batch as an SVG picture: the live weight against
// time, per material the target, the coarse and the fine switch point, and
// the final amount. The controller doses every material into one hopper, so
// material n begins where the final amounts before it end.
#pragma once

#include <string>

#include "batch_record.h"

namespace tk571::gateway {

std::string FillPlotSvg(const BatchRecord& batch);

}  // namespace tk571::gateway
