// corvex-synth: paints game frames with the cash HUD and writes the ground
// truth beside each one.

#include "synth.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QJsonDocument>

#include <cstdio>

namespace {

int fail(const QString& message) {
    std::fprintf(stderr, "corvex-synth: %s\n", qPrintable(message));
    return 1;
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

} // namespace

int main(int argc, char** argv) {
    synth::ensureGuiApp(argc, argv);
    QCommandLineParser cli;
    cli.setApplicationDescription(
        "Paints frames of the game with its cash HUD (balance, change with arrow, reward lines) over a\n"
        "made-up game world, and writes the ground truth of each frame as JSON beside it.\n\n"
        "Random frames: corvex-synth --out DIR --count 20 --seed 7\n"
        "One described frame: corvex-synth --out DIR --size 1920x1080 --k 1.1 --balance 12345 \\\n"
        "    --change -250 --line \"KILL CONFIRMED:+250\" --line \"HEADSHOT:25XP:panel\"");
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
    cli.addOption({"capture", "Also write the 907-pixel-wide HUD capture the engine reads (-hud.png)."});
    QStringList args;
    for (int i = 0; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    cli.process(args);

    const synth::Glyphs& glyphs = synth::Glyphs::instance();
    if (!glyphs.ok())
        return fail(glyphs.error());
    const QString outDir = cli.value("out");
    if (!QDir().mkpath(outDir))
        return fail(QStringLiteral("cannot create %1").arg(outDir));

    std::vector<synth::FrameSpec> frames;
    const bool described = cli.isSet("size") || cli.isSet("balance") || cli.isSet("line");
    if (described) {
        synth::FrameSpec f;
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
        frames.push_back(f);
    } else {
        synth::Variation v;
        v.degrade = !cli.isSet("clean");
        synth::RandomFrames source(cli.value("seed").toUInt(), cli.value("count").toInt(), v);
        synth::FrameSpec f;
        std::int64_t t = 0;
        while (source.next(f, t))
            frames.push_back(f);
    }

    for (std::size_t i = 0; i < frames.size(); ++i) {
        const synth::FrameSpec& f = frames[i];
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
        }
        std::printf("%s.png\n", qPrintable(base));
    }
    return 0;
}
