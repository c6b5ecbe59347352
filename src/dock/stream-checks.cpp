#include "stream-checks.h"

#include "dock.h"
#include "engine/game-exe.h"
#include "format.h"
#include "plugin/lang.h"
#include "plugin/module-data.h"
#include "uplink/texts.h"

#include <QDateTime>

namespace {

constexpr qint64 kHudFreshMs = 60000;

std::function<void(CheckInputs&)>& adjuster() {
    static std::function<void(CheckInputs&)> adjust;
    return adjust;
}

CheckItem item(const char* state, const char* title, const QString& detail, bool blocking) {
    return CheckItem{QString::fromLatin1(state), Lang::text(title), detail, blocking};
}

CheckItem streamItem(const CheckInputs& in) {
    if (in.streaming && in.sourceChosen && !in.onStream) {
        return item("bad", "Check.GameOnStream", Lang::text("Check.GameOnStreamFix"), true);
    }
    if (in.streaming) {
        return item("ok", "Check.Streaming", QString(), true);
    }
    const bool channelLive = (in.stream.hasStream && in.stream.twitchLive == 1) ||
                             (in.checks.hasChecks && in.checks.twitchLive == 1);
    if (channelLive) {
        return item("ok", "Check.StreamingTwitch", QString(), true);
    }
    return item("bad", "Check.Streaming", Lang::text("Check.StreamingFix"), true);
}

CheckItem captureItem(const CheckInputs& in) {
    if (!in.sourceChosen) {
        return item("bad", "Check.Capture", Lang::text("Check.CaptureAdd"), true);
    }
    if (in.sourceType == QLatin1String("game_capture") || in.sourceType == QLatin1String("window_capture")) {
        if (in.captured.contains(QLatin1String(kGameExecutableMarker), Qt::CaseInsensitive)) {
            return item("ok", "Check.Capture", QString(), true);
        }
        const QString detail = in.captured.isEmpty() ? Lang::text("Check.CapturePoint")
                                                     : uplinktext::with("Check.CaptureOther", in.captured);
        return item("bad", "Check.Capture", detail, true);
    }
    return item("warn", "Check.Capture", Lang::text("Check.CaptureScreen"), true);
}

CheckItem moneyItem(const CheckInputs& in) {
    // A clock that went back leaves a "seen" time in the future; that is not
    // a sighting within the last minute either.
    const qint64 age = in.now - in.hudSeenAt;
    if (in.hudSeenAt > 0 && age >= 0 && age < kHudFreshMs) {
        return item("ok", "Check.Money", QString(), true);
    }
    return item("bad", "Check.Money", Lang::text("Check.MoneyFix"), true);
}

CheckItem pluginItem(const CheckInputs& in) {
    const QString mine = QString::fromLatin1(plugin::kVersion);
    if (!in.plugin.minimum.isEmpty() && isOlder(mine, in.plugin.minimum)) {
        return item("bad", "Check.Plugin", uplinktext::with("Check.PluginUpdate", in.plugin.minimum), true);
    }
    if (!in.plugin.latest.isEmpty() && isOlder(mine, in.plugin.latest)) {
        return item("warn", "Check.Plugin", uplinktext::with("Check.PluginNewer", in.plugin.latest), true);
    }
    return item("ok", "Check.Plugin", QString(), true);
}

// A tri-state from the service's checks: 1 fine, 0 a fix to suggest, unknown later.
CheckItem adviceItem(const CheckInputs& in, int32_t value, const char* title, const char* fix,
                     const char* later) {
    if (in.checks.hasChecks && value == 1) {
        return item("ok", title, QString(), false);
    }
    if (in.checks.hasChecks && value == 0) {
        return item("warn", title, Lang::text(fix), false);
    }
    return item("warn", title, Lang::text(later), false);
}

const char* colourOf(const QString& state) {
    if (state == QLatin1String("ok")) {
        return "#5FB36B";
    }
    return state == QLatin1String("warn") ? "#E0B24E" : "#D0645A";
}

const char* markOf(const QString& state) {
    if (state == QLatin1String("ok")) {
        return "&#10004;";
    }
    return state == QLatin1String("warn") ? "&#9888;" : "&#10006;";
}

} // namespace

CheckInputs checkInputs(const Dock& dock) {
    CheckInputs in;
    Engine& engine = dock.engine();
    const ReaderStatus reader = engine.readerStatus();
    in.streaming = engine.outputState().streaming;
    in.sourceChosen = reader.info.exists || !reader.source.isEmpty();
    in.sourceType = reader.info.type;
    in.captured = reader.info.exe;
    // Until the engine has described the source, it is not known to be off
    // stream (the stream line reads it the same way).
    in.onStream = !reader.info.exists || reader.info.active;
    in.hudSeenAt = dock.hudSeenAt();
    in.now = QDateTime::currentMSecsSinceEpoch();
    const Status& status = dock.uplink().status();
    in.stream = status.stream;
    in.checks = status.checks;
    in.plugin = status.plugin;
    if (adjuster()) {
        adjuster()(in);
    }
    return in;
}

void setCheckInputsAdjusterForTesting(std::function<void(CheckInputs&)> adjust) {
    adjuster() = std::move(adjust);
}

QList<CheckItem> collectChecks(const CheckInputs& in) {
    return {
        streamItem(in),
        captureItem(in),
        moneyItem(in),
        pluginItem(in),
        adviceItem(in, in.checks.twitchLive, "Check.TwitchLive", "Check.TwitchOffline", "Check.TwitchLater"),
        adviceItem(in, in.checks.vodsOn, "Check.Vods", "Check.VodsFix", "Check.VodsLater")};
}

QString renderChecks(const QList<CheckItem>& items) {
    QString html = QStringLiteral("<table cellspacing='0' cellpadding='1'>");
    for (const CheckItem& check : items) {
        const QString colour = QString::fromLatin1(colourOf(check.state));
        html += QStringLiteral("<tr><td style='color:%1;font-weight:700;padding-right:6px'>%2</td><td>%3")
                    .arg(colour, QString::fromLatin1(markOf(check.state)), check.title.toHtmlEscaped());
        if (!check.detail.isEmpty()) {
            html += QStringLiteral("<br><span style='color:%1;font-size:11px'>%2</span>")
                        .arg(colour, check.detail.toHtmlEscaped());
        }
        html += QStringLiteral("</td></tr>");
    }
    return html + QStringLiteral("</table>");
}

ReadyVerdict readyCheck(const QList<CheckItem>& items) {
    for (const CheckItem& check : items) {
        if (check.blocking && check.state == QLatin1String("bad")) {
            return {false, uplinktext::with("Check.NotYet", check.title, check.detail)};
        }
    }
    return {};
}
