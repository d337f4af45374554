// Numbers as the driver writes them in texts: the general floating-point
// form with up to 15 significant digits, no decimals for whole numbers and
// '.' as the decimal point whatever the process locale.
#pragma once

#include <string>

namespace tk571 {

std::string FloatText(double value);

}  // namespace tk571
