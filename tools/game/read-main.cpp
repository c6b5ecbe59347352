// corvex-read: reads screenshots, saved captures or a folder of frames the way
// the engine does, and prints what the readers saw: the read summary of the
// cash HUD (or the whole reading as JSON), the kill-feed detail text, and for
// a folder the kill, death, down and up transitions the trackers report.

#include "cli.h"
#include "feedrun.h"
#include "engine/event-text.h"
#include "hudio.h"
#include "synth.h"

#include "hud/cash/summary.h"
#include "hud/feed/track.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QImageReader>
#include <QJsonDocument>

#include <cstdio>

namespace {

QImage readImage(const QString& file, QString* error) {
    QImageReader reader(file);
    QImage image = reader.read();
    if (image.isNull())
        *error = QFileInfo::exists(file) ? reader.errorString() : QStringLiteral("no such file");
    return image;
}

// A whole frame read once: every auxiliary reader, the damage log with a
// full scan, as a sample of the engine would describe it.
std::string feedDetailOf(const QImage& frame, const std::shared_ptr<const hud::Model>& model,
                         const std::shared_ptr<const hud::KillData>& killData) {
    synth::CombatReplay replay(model, killData);
    synth::AuxSchedule all;
    all.feed = all.down = all.plate = all.fullScan = true;
    std::vector<hud::CombatEvent> ignored;
    replay.run(all, frame, QPoint(0, 0), frame.width(), frame.height(), 0, ignored);
    return hud::feedDetail(replay.lastFeed(), replay.lastPlate(), replay.lastDown());
}

QString clock(std::int64_t ms) {
    return QStringLiteral("%1:%2.%3")
        .arg(ms / 60000)
        .arg((ms / 1000) % 60, 2, 10, QLatin1Char('0'))
        .arg(ms % 1000, 3, 10, QLatin1Char('0'));
}

// Every frame of the folder in name order, one pass per frame at the given
// rate; prints each reported event and each change of the weapon in hand.
// `divisor` slows the auxiliary readers as the engine does when its passes
// grow long (1, 2 or 4); `traceFeed` also prints every kill-feed read.
int replayFolder(const QString& folder, double fps, int divisor, bool traceFeed,
                 const std::shared_ptr<const hud::Model>& model,
                 const std::shared_ptr<const hud::KillData>& killData) {
    const QDir dir(folder);
    const QStringList files =
        dir.entryList({"*.png", "*.jpg", "*.jpeg", "*.PNG", "*.JPG"}, QDir::Files, QDir::Name);
    if (files.isEmpty()) {
        std::fprintf(stderr, "corvex-read: %s holds no PNG or JPEG frames\n", qPrintable(folder));
        return 1;
    }
    synth::CombatReplay replay(model, killData);
    replay.slowDown(divisor);
    std::string weapon;
    int failures = 0, events = 0;
    for (int i = 0; i < files.size(); ++i) {
        const auto now = static_cast<std::int64_t>(std::llround(i * 1000.0 / fps));
        QString error;
        const QImage frame = readImage(dir.filePath(files[i]), &error);
        if (frame.isNull()) {
            std::fprintf(stderr, "corvex-read: %s: %s\n", qPrintable(files[i]), qPrintable(error));
            ++failures;
            continue;
        }
        // The engine's pass: the cash HUD, then the auxiliary readers due.
        std::vector<GameEvent> out;
        const QImage hudCapture = synth::hudCaptureOf(frame, &error);
        if (!hudCapture.isNull())
            replay.trackers().onHud(
                now, hud::readHud(*model, synth::frameView(hudCapture), synth::engineOptions()), out);
        const synth::AuxSchedule which = replay.due(now, frame.width(), frame.height());
        std::vector<hud::CombatEvent> combat;
        replay.run(which, frame, QPoint(0, 0), frame.width(), frame.height(), now, combat);
        if (traceFeed && which.feed)
            std::printf("%s  %s", qPrintable(clock(now)), hud::feedDetail(replay.lastFeed(), {}, {}).c_str());
        for (const hud::CombatEvent& e : combat)
            out.push_back(reading::toGameEvent(e));
        for (const GameEvent& e : out) {
            if (e.heartbeat)
                continue;
            std::printf("%s  %s  (at %s)\n", qPrintable(clock(now)), reading::eventText(e).c_str(),
                        qPrintable(clock(e.t)));
            ++events;
        }
        const std::string inHand = hud::currentWeapon(replay.state().plate, now);
        if (inHand != weapon) {
            weapon = inHand;
            std::printf("%s  weapon %s\n", qPrintable(clock(now)), weapon.empty() ? "-" : weapon.c_str());
        }
    }
    std::printf("%lld frames, %d events\n", static_cast<long long>(files.size()), events);
    return failures ? 1 : 0;
}

} // namespace

int main(int argc, char** argv) {
    synth::ensureGuiApp(argc, argv);
    QCommandLineParser cli;
    cli.setApplicationDescription(
        "Reads the game's HUD from PNG or JPEG images, as the engine captures it.\n"
        "Cash HUD: a whole frame (any size, at least 320x240) is cropped to its top-right HUD region\n"
        "(0.42 of the height wide, 0.22 high) and scaled to 907 pixels wide; an image already 907 pixels\n"
        "wide is taken as such a capture. The reading uses the engine's options.\n"
        "--feed: whole frames only; also reads the kill feed, the weapon plate and the damage log from\n"
        "their regions and prints the kill-feed detail text.\n"
        "--frames DIR: plays the frames of DIR in name order at --fps, reads them at the engine's rates\n"
        "and prints the kill, death, down and up events and the weapon in hand as the engine reports them.");
    cli.addHelpOption();
    cli.addOption({"model", "HUD model file.", "file", synth::defaultModelPath()});
    cli.addOption({"kill-data", "Kill-feed data file.", "file", synth::defaultKillDataPath()});
    cli.addOption({"json", "Print the cash HUD reading as one JSON object per image."});
    cli.addOption({"feed", "Also print the kill-feed detail text of each frame."});
    cli.addOption({"frames", "Replay the frames of this folder through the trackers.", "dir"});
    cli.addOption({"fps", "Frame rate of --frames.", "n", "10"});
    cli.addOption({"feed-divisor",
                   "Read the kill feed, damage log and plate of --frames at 1/n of the engine's rates, as "
                   "the engine does when its passes grow long (1, 2 or 4).",
                   "n", "1"});
    cli.addOption({"trace-feed", "With --frames, also print every kill-feed read."});
    cli.addPositionalArgument("images", "PNG or JPEG files.", "[IMAGE...]");
    synth::parseArguments(cli, argc, argv);
    const QStringList files = cli.positionalArguments();
    const bool replay = cli.isSet("frames");
    if (files.isEmpty() && !replay) {
        return synth::toolError("corvex-read", QStringLiteral("no image given (see --help)"), 2);
    }
    QString error;
    const auto model = synth::loadModelFile(cli.value("model"), &error);
    if (!model) {
        return synth::toolError("corvex-read", error);
    }
    std::shared_ptr<const hud::KillData> killData;
    if (replay || cli.isSet("feed")) {
        std::string message;
        killData = hud::loadKillData(cli.value("kill-data").toStdString(), &message);
        if (!killData) {
            std::fprintf(stderr, "corvex-read: %s\n", message.c_str());
            return 1;
        }
    }
    if (replay) {
        bool ok = false;
        const double fps = cli.value("fps").toDouble(&ok);
        if (!ok || !(fps > 0 && fps <= 240)) {
            return synth::toolError("corvex-read", QStringLiteral("bad --fps"), 2);
        }
        const int divisor = cli.value("feed-divisor").toInt(&ok);
        if (!ok || (divisor != 1 && divisor != 2 && divisor != 4)) {
            return synth::toolError("corvex-read", QStringLiteral("bad --feed-divisor (1, 2 or 4)"), 2);
        }
        return replayFolder(cli.value("frames"), fps, divisor, cli.isSet("trace-feed"), model, killData);
    }

    const hud::HudReadOptions options = synth::engineOptions();
    int failures = 0;
    for (const QString& file : files) {
        const QImage image = readImage(file, &error);
        if (image.isNull()) {
            std::fprintf(stderr, "corvex-read: %s: %s\n", qPrintable(file), qPrintable(error));
            ++failures;
            continue;
        }
        const QImage capture = synth::hudCaptureOf(image, &error);
        if (capture.isNull()) {
            std::fprintf(stderr, "corvex-read: %s: %s\n", qPrintable(file), qPrintable(error));
            ++failures;
            continue;
        }
        const hud::HudReading reading = hud::readHud(*model, synth::frameView(capture), options);
        if (cli.isSet("json")) {
            QJsonObject o = synth::readingJson(reading);
            o["file"] = file;
            std::printf("%s\n", QJsonDocument(o).toJson(QJsonDocument::Compact).constData());
        } else {
            std::printf("%s: %s\n", qPrintable(file), hud::readSummary(reading).c_str());
        }
        if (cli.isSet("feed")) {
            if (image.width() == 907)
                std::fprintf(stderr, "corvex-read: %s: --feed needs a whole frame\n", qPrintable(file));
            else
                std::printf("%s", feedDetailOf(image, model, killData).c_str());
        }
    }
    return failures ? 1 : 0;
}
