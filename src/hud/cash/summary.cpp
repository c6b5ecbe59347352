#include "hud/cash/summary.h"

#include "hud/cash/money.h"

#include <charconv>
#include <cmath>

namespace hud {

namespace {

// Two decimals independent of the C locale, which the host may have set to
// one with a decimal comma.
std::string twoDecimals(float v) {
    const double d = v;
    if (std::isnan(d))
        return "nan";
    if (std::isinf(d))
        return d < 0 ? "-inf" : "inf";
    char buf[64];
    const auto res = std::to_chars(buf, buf + sizeof buf, d, std::chars_format::fixed, 2);
    if (res.ec != std::errc())
        return "?";
    return std::string(buf, res.ptr);
}

std::string trim(const std::string& s) {
    const char* blanks = " \t\r\n\f\v";
    const auto first = s.find_first_not_of(blanks);
    if (first == std::string::npos)
        return {};
    const auto last = s.find_last_not_of(blanks);
    return s.substr(first, last - first + 1);
}

} // namespace

std::string lineKey(const HudLine& line) {
    std::string key = line.text.empty() ? line.raw : line.text;
    if (line.hasFigure) {
        key += key.empty() ? "+" : " +";
        key += moneyText(line.figure);
    }
    if (line.hasXp)
        key += " " + std::to_string(line.xp) + "XP";
    return trim(key);
}

std::string readSummary(const HudReading& reading) {
    std::string s;
    if (!reading.balanceText.empty()) {
        s = "bal " + reading.balanceText + (reading.balanceCertain ? "" : "?") + " (c" +
            twoDecimals(reading.balanceConfidence) + " m" + twoDecimals(reading.balanceMargin) + ")";
    } else {
        s = "bal -";
    }
    if (!reading.changeText.empty())
        s += " | chg " + reading.changeText + (reading.changeCertain ? "" : "?") + " arrow " +
             std::to_string(reading.arrow);
    for (const HudLine& line : reading.lines) {
        s += " | [" + lineKey(line);
        if (!line.known && !line.raw.empty())
            s += " raw=" + line.raw;
        s += "]";
    }
    if (!reading.reason.empty())
        s += " | " + reading.reason;
    if (reading.lineHeight > 0.0f)
        s += " | hud " + std::to_string(hudSizePercent(reading.lineHeight)) + "%";
    return s;
}

} // namespace hud
