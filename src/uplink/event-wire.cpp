#include "uplink/game-event.h"

#include <QJsonArray>

#include <cmath>

namespace {

QJsonValue textValue(const std::string& text) {
    return QString::fromStdString(text);
}

QJsonValue textOrNull(const std::string& text) {
    return text.empty() ? QJsonValue(QJsonValue::Null) : textValue(text);
}

// Done in single precision on purpose: the confidence is a float from the
// reader and the service keeps three decimals of it.
double conf3(float conf) {
    return static_cast<double>(std::round(conf * 1000.0f) / 1000.0f);
}

double roundTo(double x, int decimals) {
    const double scale = std::pow(10.0, decimals);
    return std::round(x * scale) / scale;
}

void addMoneyKeys(QJsonObject& o, const GameEvent& e) {
    const bool balance = e.kind == EventKind::Balance;
    o.insert(QStringLiteral("k"), balance ? QStringLiteral("bal") : QStringLiteral("dlt"));
    o.insert(QStringLiteral("v"), QJsonValue(static_cast<qint64>(e.value)));
    o.insert(QStringLiteral("c"), conf3(e.conf));
    if (balance && e.heartbeat) {
        o.insert(QStringLiteral("hb"), true);
    }
}

void addFeedKeys(QJsonObject& o, const GameEvent& e) {
    o.insert(QStringLiteral("k"), QStringLiteral("feed"));
    o.insert(QStringLiteral("txt"), textValue(e.text));
    if (e.hasAmount) {
        o.insert(QStringLiteral("amt"), QJsonValue(static_cast<qint64>(e.amount)));
    }
    if (e.hasXp) {
        o.insert(QStringLiteral("xp"), e.xp);
    }
    o.insert(QStringLiteral("lid"), QJsonValue(static_cast<qint64>(e.lineId)));
    if (e.conf > 0.0f && e.conf < 1.0f) {
        o.insert(QStringLiteral("c"), static_cast<double>(e.conf));
    }
}

void addSnapshotKeys(QJsonObject& o, const GameEvent& e) {
    o.insert(QStringLiteral("k"), QStringLiteral("snap"));
    o.insert(QStringLiteral("tag"), textValue(e.tag));
    o.insert(QStringLiteral("v"), QJsonValue(static_cast<qint64>(e.value)));
    o.insert(QStringLiteral("c"), conf3(e.conf));
    if (!e.evidence.empty()) {
        o.insert(QStringLiteral("evidence"), textValue(e.evidence));
    }
}

void addStatusKeys(QJsonObject& o, const GameEvent& e) {
    o.insert(QStringLiteral("k"), QStringLiteral("status"));
    o.insert(QStringLiteral("hud"), e.hud);
    o.insert(QStringLiteral("src"), textValue(e.src));
    o.insert(QStringLiteral("res"), QJsonArray{e.resWidth, e.resHeight});
    o.insert(QStringLiteral("scale"), roundTo(e.scale, 3));
    o.insert(QStringLiteral("fps"), roundTo(e.fps, 1));
    o.insert(QStringLiteral("streaming"), e.streaming);
    o.insert(QStringLiteral("recording"), e.recording);
    o.insert(QStringLiteral("err"), textOrNull(e.err));
    QJsonObject source;
    source.insert(QStringLiteral("name"), textValue(e.src));
    source.insert(QStringLiteral("uuid"), textValue(e.uuid));
    source.insert(QStringLiteral("type"), textValue(e.type));
    source.insert(QStringLiteral("exe"), textValue(e.exe));
    source.insert(QStringLiteral("on_stream"), e.onStream);
    source.insert(QStringLiteral("locked"), e.locked);
    source.insert(QStringLiteral("changed"), e.changed);
    o.insert(QStringLiteral("source"), source);
    if (!e.steamId.empty()) {
        QJsonObject steam;
        steam.insert(QStringLiteral("id"), textValue(e.steamId));
        steam.insert(QStringLiteral("name"), textValue(e.steamName));
        o.insert(QStringLiteral("steam"), steam);
    }
    QJsonObject reader;
    reader.insert(QStringLiteral("cap"), roundTo(e.cap, 1));
    reader.insert(QStringLiteral("fps"), roundTo(e.fps, 1));
    reader.insert(QStringLiteral("ok_rate"), roundTo(e.okRate, 2));
    o.insert(QStringLiteral("reader"), reader);
    o.insert(QStringLiteral("weapon"), textOrNull(e.weapon));
}

void addKillKeys(QJsonObject& o, const GameEvent& e) {
    o.insert(QStringLiteral("k"),
             e.kind == EventKind::Kill ? QStringLiteral("kill") : QStringLiteral("death"));
    o.insert(QStringLiteral("dist"), e.dist < 0 ? QJsonValue(QJsonValue::Null) : QJsonValue(e.dist));
    o.insert(QStringLiteral("weapon"), textOrNull(e.weapon));
    o.insert(QStringLiteral("wtype"), textOrNull(e.wtype));
    o.insert(QStringLiteral("hs"), e.headshot);
    o.insert(QStringLiteral("c"), conf3(e.conf));
}

} // namespace

QJsonObject eventToJson(const GameEvent& e) {
    QJsonObject o;
    o.insert(QStringLiteral("t"), QJsonValue(static_cast<qint64>(e.t)));
    switch (e.kind) {
    case EventKind::Balance:
    case EventKind::MatchChange:
        addMoneyKeys(o, e);
        break;
    case EventKind::FeedLine:
        addFeedKeys(o, e);
        break;
    case EventKind::Snapshot:
        addSnapshotKeys(o, e);
        break;
    case EventKind::Status:
        addStatusKeys(o, e);
        break;
    case EventKind::Kill:
    case EventKind::Death:
        addKillKeys(o, e);
        break;
    case EventKind::Down:
        o.insert(QStringLiteral("k"), QStringLiteral("down"));
        o.insert(QStringLiteral("c"), conf3(e.conf));
        break;
    case EventKind::Up:
        o.insert(QStringLiteral("k"), QStringLiteral("up"));
        break;
    }
    // A kind this build does not know (a newer engine's) goes with its time only.
    return o;
}
