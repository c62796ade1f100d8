// Room rates as the dialog shows them: with the host's taxes added as the host
// adds them (its tax settings are read from the registry), and money as
// currency text in the user's locale.
#pragma once

#include <string>
#include <string_view>

#include "rtl/Currency.h"
#include "ui/Colors.h"

namespace valmora {

// The amount with the host's taxes added. Computes exactly as the host does,
// including adding the fixed tax twice when it is applied first to a cumulative
// tax and no third tax is set, so that the dialog shows the host's numbers.
rtl::Currency PriceWithTax(rtl::Currency amount);

// Money as currency text: the locale's currency string, decimals and separators.
std::string FormatCurrencyText(rtl::Currency value);
// Currency text back to money. Raises rtl::EConvertError when the text, less
// its currency string and thousands separators, is not a number.
rtl::Currency ParseCurrencyText(std::string_view text);

// Whether text on this colour should be dark.
bool IsLightColor(ui::TColor color);

}  // namespace valmora
