// corvex-synth: paints game frames with the cash HUD and writes the ground
// truth beside each one, or a played match as numbered frames with its truth.

#include "cli.h"
#include "match.h"
#include "synth.h"

#include "hud/cash/vocab.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>

#include <algorithm>
#include <cstdio>

namespace {

int fail(const QString& message) {
    return synth::toolError("corvex-synth", message);
}

// "KILL CONFIRMED:+250", "HEADSHOT:25XP", "KILL:+100:panel"
bool parseLine(const QString& text, synth::RewardLine& line) {
    const QStringList parts = text.split(':');
    if (parts.size() < 2 || parts[0].isEmpty())
        return false;
    line.text = parts[0].toUpper().toStdString();
    QString amount = parts[1].trimmed();
    bool ok = false;
    if (amount.endsWith(QLatin1String("XP"), Qt::CaseInsensitive)) {
        line.hasXp = true;
        line.xp = amount.left(amount.size() - 2).toInt(&ok);
        ok = ok && line.xp >= 0 && line.xp <= 99999;
    } else {
        amount.remove('+').remove('$').remove(',');
        line.hasFigure = true;
        line.figure = amount.toLongLong(&ok);
        ok = ok && line.figure >= 0 && line.figure <= 9999999;
    }
    line.panel = parts.size() > 2 && parts[2] == QLatin1String("panel");
    return ok;
}

// A played match as numbered frames and one truth.json.
int writeMatch(const QCommandLineParser& cli, const QString& outDir) {
    bool ok = false;
    const std::uint32_t seed = cli.value("match").toUInt(&ok);
    if (!ok)
        return fail(QStringLiteral("bad --match %1").arg(cli.value("match")));
    synth::MatchOptions options;
    options.variation.degrade = !cli.isSet("clean");
    if (cli.isSet("seconds")) {
        const double s = cli.value("seconds").toDouble(&ok);
        if (!ok || s < 1 || s > 3600)
            return fail(QStringLiteral("bad --seconds (1 to 3600)"));
        options.minSeconds = options.maxSeconds = s;
    }
    const QString format = cli.value("format").toLower();
    if (format != QLatin1String("png") && format != QLatin1String("jpg"))
        return fail(QStringLiteral("bad --format %1 (png or jpg)").arg(format));
    const synth::MatchSequence match(seed, options);
    int count = match.frameCount();
    if (cli.isSet("limit")) {
        const int limit = cli.value("limit").toInt(&ok);
        if (!ok || limit < 1)
            return fail(QStringLiteral("bad --limit"));
        count = std::min(count, limit);
    }
    std::vector<QString> files;
    for (int i = 0; i < count; ++i) {
        const synth::FrameContent f = match.frame(i);
        const QString name = QStringLiteral("frame-%1.%2").arg(i + 1, 5, 10, QLatin1Char('0')).arg(format);
        const QImage img = cli.isSet("parts") ? synth::renderCaptureParts(f) : synth::renderFrame(f);
        // JPEG files are a second generation of the stream's compression;
        // PNG keeps exactly what the readers would see.
        // PNG at a fast compression level: half the time of the default for
        // a fifth more bytes.
        const bool saved = format == QLatin1String("png") ? img.save(QDir(outDir).filePath(name), "PNG", 80)
                                                          : img.save(QDir(outDir).filePath(name), "JPG", 95);
        if (!saved)
            return fail(QStringLiteral("cannot write %1").arg(QDir(outDir).filePath(name)));
        files.push_back(name);
    }
    QJsonObject truth = match.truthJson(files);
    truth["seed"] = static_cast<double>(seed);
    if (count < match.frameCount()) {
        // Only the frames written are described, and what happens in them.
        QJsonArray frames = truth.value("frameTruth").toArray();
        while (frames.size() > count)
            frames.removeLast();
        truth["frameTruth"] = frames;
        truth["frames"] = count;
        QJsonArray events;
        for (const QJsonValue& e : truth.value("events").toArray())
            if (e.toObject().value("frame").toInt() < count)
                events.append(e);
        truth["events"] = events;
    }
    QFile out(QDir(outDir).filePath("truth.json"));
    if (!out.open(QIODevice::WriteOnly) ||
        out.write(QJsonDocument(truth).toJson(QJsonDocument::Indented)) < 0)
        return fail(QStringLiteral("cannot write %1").arg(out.fileName()));
    std::printf("%s: %d frames at %d a second, %d events\n", qPrintable(outDir), count,
                1000 / synth::kMatchFrameMs, static_cast<int>(truth.value("events").toArray().size()));
    return 0;
}

synth::FeedWho parseWho(const QString& text, bool& ok) {
    const QString t = text.trimmed().toLower();
    ok = true;
    if (t == QLatin1String("me"))
        return synth::FeedWho::Me;
    if (t == QLatin1String("team"))
        return synth::FeedWho::Team;
    if (t == QLatin1String("squad"))
        return synth::FeedWho::Squad;
    ok = t.isEmpty() || t == QLatin1String("enemy");
    return synth::FeedWho::Enemy;
}

bool validName(const QString& name) {
    if (name.size() < 1 || name.size() > 16)
        return false;
    for (const QChar c : name)
        if (!(c.unicode() < 128 && c.isLetterOrNumber()) && c != '_')
            return false;
    return true;
}

// "VIPER:me,GHOST_7,sniper,312,hs": killer[:who], victim[:who], icon,
// distance ("-" for none), and "hs" for a headshot.
bool parseFeedRow(const QString& text, synth::FeedRowContent& row) {
    const QStringList parts = text.split(',');
    if (parts.size() < 4 || parts.size() > 5)
        return false;
    bool ok = true;
    auto side = [&](const QString& part, std::string& name, synth::FeedWho& who) {
        const QStringList nw = part.split(':');
        if (nw.size() > 2 || !validName(nw[0].trimmed()))
            ok = false;
        name = nw[0].trimmed().toUpper().toStdString();
        bool whoOk = true;
        who = nw.size() > 1 ? parseWho(nw[1], whoOk) : synth::FeedWho::Enemy;
        ok = ok && whoOk;
    };
    side(parts[0], row.killer, row.killerWho);
    side(parts[1], row.victim, row.victimWho);
    row.icon = parts[2].trimmed().toStdString();
    const auto& names = synth::iconNames();
    if (std::find(names.begin(), names.end(), row.icon) == names.end() || row.icon == "skull")
        return false;
    if (parts[3].trimmed() == QLatin1String("-")) {
        row.distance = -1;
    } else {
        bool d = false;
        row.distance = parts[3].trimmed().toInt(&d);
        ok = ok && d && row.distance >= 0 && row.distance <= 9999;
    }
    row.headshot = parts.size() > 4 && parts[4].trimmed() == QLatin1String("hs");
    return ok && (parts.size() < 5 || row.headshot);
}

// "M4" or "M4:30:120"; the weapon flag comes from the weapon table.
bool parsePlate(const QString& text, synth::Plate& plate) {
    const QStringList parts = text.split(':');
    if (parts.size() != 1 && parts.size() != 3)
        return false;
    plate.name = parts[0].trimmed().toStdString();
    if (plate.name.empty())
        return false;
    plate.weapon = true;
    for (const hud::WeaponEntry& e : hud::weaponTable())
        if (QString::fromStdString(e.name).compare(parts[0].trimmed(), Qt::CaseInsensitive) == 0) {
            plate.name = e.name;
            plate.weapon = e.weapon;
        }
    if (parts.size() == 3) {
        bool a = false, b = false;
        plate.magazine = parts[1].toInt(&a);
        plate.reserve = parts[2].toInt(&b);
        return a && b && plate.magazine >= 0 && plate.reserve >= 0 && plate.magazine <= 9999 &&
               plate.reserve <= 9999;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    synth::ensureGuiApp(argc, argv);
    QCommandLineParser cli;
    cli.setApplicationDescription(
        "Paints frames of the game with its cash HUD (balance, change with arrow, reward lines) over a\n"
        "made-up game world, and writes the ground truth of each frame as JSON beside it.\n\n"
        "Random frames: corvex-synth --out DIR --count 20 --seed 7\n"
        "One described frame: corvex-synth --out DIR --size 1920x1080 --k 1.1 --balance 12345 \\\n"
        "    --change -250 --line \"KILL CONFIRMED:+250\" --line \"HEADSHOT:25XP:panel\" \\\n"
        "    --feed-row \"VIPER:me,GHOST_7,sniper,312,hs\" --plate \"M4:30:120\" [--down]\n"
        "Random frames with the other HUD elements: add --feed, --plate random, --down.\n"
        "A played match: corvex-synth --out DIR --match 7 [--seconds 90] [--parts] [--format jpg]\n"
        "    writes frame-00001.png... at 10 frames a second and truth.json: the sequence's look, \"fps\",\n"
        "    the events (kill, death, down, up: \"time\" in ms from the first frame, \"distance\", "
        "\"icon\",\n"
        "    \"headshot\", \"squad\", \"self\", \"weapon\" in hand for kills) and per frame in "
        "\"frameTruth\":\n"
        "    the cash HUD, the visible feed rows top first (with \"event\", the index of the event a row\n"
        "    stands for), \"scroll\", \"plate\" (null while hidden) and \"down\".");
    cli.addHelpOption();
    cli.addOption({"out", "Output folder (created if missing).", "dir", "."});
    cli.addOption({"count", "Number of random frames.", "n", "1"});
    cli.addOption({"seed", "Seed of the random frames.", "n", "1"});
    cli.addOption({"size", "Frame size WxH (one described frame).", "WxH"});
    cli.addOption({"k", "HUD scale, 0.8 to 1.3.", "k"});
    cli.addOption({"scene", "Scene seed.", "n"});
    cli.addOption({"balance", "Balance shown.", "n"});
    cli.addOption({"change", "Change shown (signed).", "n"});
    cli.addOption(
        {"line", "Reward line TEXT:+FIGURE or TEXT:NXP, \":panel\" for a light panel; repeatable.", "line"});
    cli.addOption({"bright", "Put a bright area behind the HUD."});
    cli.addOption({"jpeg", "Recompress as JPEG with this quality (0: none).", "q"});
    cli.addOption({"blur", "Gaussian blur sigma in pixels.", "sigma"});
    cli.addOption({"source-scale", "Game rendered at this multiple of the frame size.", "s"});
    cli.addOption({"clean", "Random frames without recompression, blur or scaling."});
    cli.addOption({"capture",
                   "Also write the captures the engine reads: the 907-pixel-wide HUD (-hud.png), and\n"
                   "the kill feed, plate and damage log areas where the engine reads them\n"
                   "(-feed.png, -plate.png, -down.png)."});
    cli.addOption({"feed", "Random frames: add a random kill feed."});
    cli.addOption({"plate",
                   "Random frames: --plate random adds a weapon plate. One described\n"
                   "frame: the plate NAME[:MAG:RESERVE], e.g. \"M4:30:120\".",
                   "plate"});
    cli.addOption({"down",
                   "Random frames: the player is knocked down in about a third of them. One described\n"
                   "frame: knocked down (the damage log shows, the plate hides)."});
    cli.addOption({"feed-row",
                   "Kill-feed row KILLER[:WHO],VICTIM[:WHO],ICON,DISTANCE[,hs], newest first; WHO is me,\n"
                   "team, squad or enemy; DISTANCE \"-\" for none. Repeatable, at most 7.",
                   "row"});
    cli.addOption({"scroll", "Kill feed scroll, 0 to 1 of a row pitch (rows still sliding down).", "s"});
    cli.addOption({"match", "Write the played match of this seed (frames and truth.json).", "seed"});
    cli.addOption({"seconds", "Length of the match (default: drawn from 60 to 120 s).", "s"});
    cli.addOption({"parts", "Paint only the areas the engine captures; black elsewhere (much faster)."});
    cli.addOption({"format", "Frame files of a match: png or jpg (quality 95).", "format", "png"});
    cli.addOption({"limit", "Write at most this many frames of the match.", "n"});
    synth::parseArguments(cli, argc, argv);

    const synth::Glyphs& glyphs = synth::Glyphs::instance();
    if (!glyphs.ok())
        return fail(glyphs.error());
    const QString outDir = cli.value("out");
    if (!QDir().mkpath(outDir))
        return fail(QStringLiteral("cannot create %1").arg(outDir));

    if (cli.isSet("match"))
        return writeMatch(cli, outDir);

    std::vector<synth::FrameContent> frames;
    const bool described = cli.isSet("size") || cli.isSet("balance") || cli.isSet("line") ||
                           cli.isSet("feed-row") || (cli.isSet("plate") && cli.value("plate") != "random");
    if (described) {
        synth::FrameContent f;
        if (cli.isSet("size")) {
            const QStringList wh = cli.value("size").split('x');
            bool ok1 = false, ok2 = false;
            if (wh.size() == 2) {
                f.width = wh[0].toInt(&ok1);
                f.height = wh[1].toInt(&ok2);
            }
            if (!ok1 || !ok2 || f.width < 16 || f.height < 16 || f.width > 8192 || f.height > 8192)
                return fail(QStringLiteral("bad --size %1").arg(cli.value("size")));
        }
        f.hudScale = cli.isSet("k") ? cli.value("k").toDouble() : 1.0;
        if (f.hudScale < 0.3 || f.hudScale > 3)
            return fail(QStringLiteral("bad --k"));
        f.sceneSeed = cli.value("scene").toUInt();
        f.brightBehindHud = cli.isSet("bright");
        synth::CashHud cash;
        bool ok = true;
        cash.balance = cli.isSet("balance") ? cli.value("balance").toLongLong(&ok) : 0;
        if (!ok || cash.balance < 0 || cash.balance > 999999999)
            return fail(QStringLiteral("bad --balance"));
        if (cli.isSet("change")) {
            cash.change = cli.value("change").toLongLong(&ok);
            if (!ok)
                return fail(QStringLiteral("bad --change"));
        }
        for (const QString& l : cli.values("line")) {
            synth::RewardLine line;
            if (!parseLine(l, line))
                return fail(QStringLiteral("bad --line %1").arg(l));
            cash.lines.push_back(line);
        }
        if (cash.lines.size() > 4)
            return fail(QStringLiteral("at most 4 reward lines"));
        f.cash = cash;
        f.degradation.jpegQuality = cli.value("jpeg").toInt();
        f.degradation.blurSigma = cli.value("blur").toDouble();
        f.degradation.sourceScale = cli.isSet("source-scale") ? cli.value("source-scale").toDouble() : 1.0;
        if (f.degradation.sourceScale < 0.25 || f.degradation.sourceScale > 4)
            return fail(QStringLiteral("bad --source-scale"));
        if (cli.isSet("feed-row") || cli.isSet("scroll")) {
            synth::KillFeed feed;
            for (const QString& r : cli.values("feed-row")) {
                synth::FeedRowContent row;
                if (!parseFeedRow(r, row))
                    return fail(QStringLiteral("bad --feed-row %1").arg(r));
                feed.rows.push_back(row);
            }
            if (feed.rows.size() > 7)
                return fail(QStringLiteral("at most 7 kill-feed rows"));
            feed.scroll = cli.isSet("scroll") ? cli.value("scroll").toDouble(&ok) : 0.0;
            if (!ok || !(feed.scroll >= 0 && feed.scroll <= 1))
                return fail(QStringLiteral("bad --scroll (0 to 1)"));
            f.feed = feed;
        }
        if (cli.isSet("plate") && cli.value("plate") == QLatin1String("random")) {
            synth::Rng rng(cli.value("seed").toUInt());
            f.plate = synth::randomPlate(rng);
        } else if (cli.isSet("plate")) {
            synth::Plate plate;
            if (!parsePlate(cli.value("plate"), plate))
                return fail(QStringLiteral("bad --plate %1").arg(cli.value("plate")));
            f.plate = plate;
        }
        f.down = cli.isSet("down");
        frames.push_back(f);
    } else {
        synth::Variation v;
        v.degrade = !cli.isSet("clean");
        v.feed = cli.isSet("feed");
        v.plate = cli.isSet("plate");
        v.downChance = cli.isSet("down") ? 0.33 : 0.0;
        synth::RandomFrames source(cli.value("seed").toUInt(), cli.value("count").toInt(), v);
        synth::FrameContent f;
        std::int64_t t = 0;
        while (source.next(f, t))
            frames.push_back(f);
    }

    for (std::size_t i = 0; i < frames.size(); ++i) {
        const synth::FrameContent& f = frames[i];
        const QString base =
            QDir(outDir).filePath(QStringLiteral("frame-%1").arg(i + 1, 4, 10, QLatin1Char('0')));
        const QImage img = synth::renderFrame(f);
        // Recompressed frames are stored losslessly: what the reader sees is
        // the recompressed picture, not a second generation of it.
        if (!img.save(base + ".png", "PNG"))
            return fail(QStringLiteral("cannot write %1.png").arg(base));
        QFile truth(base + ".json");
        if (!truth.open(QIODevice::WriteOnly) ||
            truth.write(QJsonDocument(synth::truthJson(f)).toJson(QJsonDocument::Indented)) < 0)
            return fail(QStringLiteral("cannot write %1.json").arg(base));
        if (cli.isSet("capture")) {
            QString error;
            const QImage hud = synth::captureHudRegion(img, &error);
            if (hud.isNull())
                return fail(error);
            if (!hud.save(base + "-hud.png", "PNG"))
                return fail(QStringLiteral("cannot write %1-hud.png").arg(base));
            // The other areas only where the engine reads them (frame height).
            const std::pair<QImage, const char*> parts[] = {
                {synth::captureFeedRegion(img), "-feed.png"},
                {synth::capturePlateRegion(img), "-plate.png"},
                {synth::captureDamageLogRegion(img), "-down.png"}};
            for (const auto& part : parts)
                if (!part.first.isNull() && !part.first.save(base + part.second, "PNG"))
                    return fail(QStringLiteral("cannot write %1%2").arg(base, part.second));
        }
        std::printf("%s.png\n", qPrintable(base));
    }
    return 0;
}
