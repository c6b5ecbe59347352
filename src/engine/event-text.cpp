#include "engine/event-text.h"

#include "hud/reports.h"

#include <cstdarg>
#include <cstdio>

namespace reading {

namespace {

std::string format(const char* fmt, ...) {
    char buffer[512];
    va_list args;
    va_start(args, fmt);
    const int n = std::vsnprintf(buffer, sizeof buffer, fmt, args);
    va_end(args);
    if (n < 0)
        return {};
    if (static_cast<std::size_t>(n) < sizeof buffer)
        return std::string(buffer, static_cast<std::size_t>(n));
    // Long names: measure, then write whole.
    std::string out(static_cast<std::size_t>(n) + 1, '\0');
    va_start(args, fmt);
    std::vsnprintf(out.data(), out.size(), fmt, args);
    va_end(args);
    out.resize(static_cast<std::size_t>(n));
    return out;
}

} // namespace

std::string moneyText(std::int64_t value) {
    // Through unsigned, so the most negative value has an absolute value too.
    std::uint64_t magnitude =
        value < 0 ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
    const std::string digits = std::to_string(magnitude);
    std::string out = value < 0 ? "-$" : "$";
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0)
            out += ',';
        out += digits[i];
    }
    return out;
}

std::string eventText(const GameEvent& e) {
    switch (e.kind) {
    case EventKind::Balance:
        // Heartbeats repeat what the log already says.
        if (e.heartbeat)
            return {};
        return format("balance %s (c%.2f)", moneyText(e.value).c_str(), static_cast<double>(e.conf));
    case EventKind::MatchChange:
        return "match change " + moneyText(e.value);
    case EventKind::FeedLine: {
        std::string text = e.text;
        if (e.hasAmount)
            text += (text.empty() ? "+" : " +") + moneyText(e.amount);
        else if (e.hasXp)
            text += " " + std::to_string(e.xp) + "XP";
        return "line [" + text + "] id " + std::to_string(e.lineId);
    }
    case EventKind::Kill:
    case EventKind::Death:
    case EventKind::Down:
    case EventKind::Up: {
        // The readers describe their own events; one wording for both logs.
        hud::CombatEvent c;
        c.kind = e.kind == EventKind::Kill    ? hud::CombatEvent::Kill
                 : e.kind == EventKind::Death ? hud::CombatEvent::Death
                 : e.kind == EventKind::Down  ? hud::CombatEvent::Down
                                              : hud::CombatEvent::Up;
        c.dist = e.dist;
        c.wtype = e.wtype;
        c.weapon = e.weapon;
        c.headshot = e.headshot;
        c.conf = e.conf;
        return hud::describe(c);
    }
    case EventKind::Snapshot:
        return format("snapshot %s %s evidence %s", e.tag.c_str(), moneyText(e.value).c_str(),
                      e.evidence.empty() ? "-" : e.evidence.c_str());
    case EventKind::Status:
        return statusText(e);
    }
    return {};
}

std::string statusText(const GameEvent& s) {
    return format("hud=%d src='%s' %dx%d %s exe=%s on_stream=%d locked=%d%s fps=%.1f ok=%.2f streaming=%d",
                  s.hud ? 1 : 0, s.src.c_str(), s.resWidth, s.resHeight, s.type.c_str(),
                  s.exe.empty() ? "-" : s.exe.c_str(), s.onStream ? 1 : 0, s.locked ? 1 : 0,
                  s.changed ? " CHANGED" : "", s.fps, s.okRate, s.streaming ? 1 : 0);
}

} // namespace reading
