// corvex-eval: measures the HUD reader on painted frames over the variations
// of the game's look, through the same crop and scaling as the engine, and
// with --sequences the kill-feed readers and trackers on played matches.

#include "cli.h"
#include "eval-match.h"
#include "feedrun.h"
#include "hudio.h"
#include "synth.h"

#include "hud/cash/summary.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QJsonDocument>

#include <cmath>
#include <cstdio>
#include <map>
#include <set>

namespace {

struct Tally {
    int total = 0, good = 0;
    void add(bool ok) {
        ++total;
        good += ok ? 1 : 0;
    }
    double percent() const { return total ? 100.0 * good / total : 0.0; }
};

void print(const char* label, const Tally& t) {
    std::printf("%-40s %7.2f %%  (%d of %d)\n", label, t.percent(), t.good, t.total);
}

bool lineMatches(const synth::RewardLine& truth, const hud::HudLine& read) {
    if (read.text != truth.text)
        return false;
    if (truth.hasFigure != read.hasFigure || (truth.hasFigure && truth.figure != read.figure))
        return false;
    if (truth.hasXp != read.hasXp || (truth.hasXp && truth.xp != read.xp))
        return false;
    return true;
}

std::string lineText(const std::string& text, bool hasFigure, std::int64_t figure, bool hasXp,
                     std::int32_t xp) {
    std::string s = "\"" + text + "\"";
    if (hasFigure)
        s += " +$" + std::to_string(figure);
    if (hasXp)
        s += " " + std::to_string(xp) + "XP";
    return s;
}

void printLineMiss(int index, const synth::FrameContent& f, const synth::RewardLine& truth,
                   const hud::HudLine* read) {
    std::string painted = lineText(truth.text, truth.hasFigure, truth.figure, truth.hasXp, truth.xp);
    if (truth.panel)
        painted += " (panel)";
    char where[64];
    std::snprintf(where, sizeof where, "frame %d %dx%d k %.2f", index, f.width, f.height, f.hudScale);
    if (read == nullptr) {
        std::printf("line miss %s: %s read as nothing\n", where, painted.c_str());
        return;
    }
    const std::string got = lineText(read->text, read->hasFigure, read->figure, read->hasXp, read->xp);
    std::printf("line miss %s: %s read as %s (raw \"%s\")\n", where, painted.c_str(), got.c_str(),
                read->raw.c_str());
}

} // namespace

int main(int argc, char** argv) {
    synth::ensureGuiApp(argc, argv);
    QCommandLineParser cli;
    cli.setApplicationDescription(
        "Paints random game frames (1280x720 to 3840x2160, HUD scale 0.8 to 1.3, scenes, JPEG quality\n"
        "60 to 95, slight blur and scaling), captures the HUD region as the engine does, reads it with\n"
        "the engine's options and prints how often the balance, the change and the reward lines were read\n"
        "exactly, and how often a wrong balance or change was reported as certain (which must never\n"
        "happen).\n"
        "--shift: every frame's cash HUD moved right by 0.4 to 1.3 money caps, as a crop set slightly\n"
        "wrong or a scaled canvas puts it.\n"
        "--range: the game's look drawn per frame (per sequence with --sequences) from the range around\n"
        "it: letter spacing up to +0.1 cap, light-panel padding 0.3 to 0.5, icon height 1.0 to 1.3,\n"
        "name gaps 0.4 to 0.8, squad colour full to drained, JPEG 50 to 95, blur up to 0.8 px at 1080\n"
        "lines, rescaling by 0.9 to 1.1, any frame size from 720 to 2160 lines. Without it, the game's\n"
        "exact look.\n"
        "--sequences N: plays N match sequences at 10 frames a second instead, reads the kill feed, the\n"
        "damage log and the weapon plate at the engine's rates through the engine's trackers and prints\n"
        "kill and death precision and recall, distance, icon class, headshot and plate accuracy, and the\n"
        "downs and ups detected.");
    cli.addHelpOption();
    cli.addOption({"seed", "Seed of the frames.", "n", "1"});
    cli.addOption({"count", "Number of frames.", "n", "2000"});
    cli.addOption({"model", "HUD model file.", "file", synth::defaultModelPath()});
    cli.addOption(
        {"dump-failures", "Write the capture, truth and reading of every failed frame here.", "dir"});
    cli.addOption(
        {"dump-all", "With --dump-failures, write every frame, failed or not (to read them again later)."});
    cli.addOption({"min-k", "Smallest HUD scale.", "k", "0.8"});
    cli.addOption({"max-k", "Largest HUD scale.", "k", "1.3"});
    cli.addOption({"clean", "No recompression, blur or scaling."});
    cli.addOption({"shift", "Move the cash HUD right by 0.4 to 1.3 money caps."});
    cli.addOption({"range", "Draw the look and the footage from the range around the game's own."});
    cli.addOption(
        {"show-lines", "Print every reward line read wrongly: what was painted and what was read."});
    cli.addOption({"frames",
                   "Read only these frames of the run (numbers as --show-lines prints them, "
                   "comma-separated); with --dump-failures each is written, failed or not.",
                   "list"});
    cli.addOption({"sequences", "Evaluate the kill-feed readers on this many match sequences.", "n"});
    cli.addOption({"feed-divisor",
                   "With --sequences, read the kill feed, damage log and plate at 1/n of the engine's rates "
                   "(1, 2 or 4), as the engine does when its passes grow long.",
                   "n", "1"});
    cli.addOption({"kill-data", "Kill-feed data file.", "file", synth::defaultKillDataPath()});
    cli.addOption({"trace-feed", "With --sequences, also print every kill-feed read and what it reported."});
    synth::parseArguments(cli, argc, argv);

    const synth::Glyphs& glyphs = synth::Glyphs::instance();
    if (!glyphs.ok()) {
        return synth::toolError("corvex-eval", glyphs.error());
    }
    QString error;
    const auto model = synth::loadModelFile(cli.value("model"), &error);
    if (!model) {
        return synth::toolError("corvex-eval", error);
    }
    const QString dump = cli.value("dump-failures");
    const bool dumpAll = cli.isSet("dump-all");
    if (!dump.isEmpty() && !QDir().mkpath(dump)) {
        std::fprintf(stderr, "corvex-eval: cannot create %s\n", qPrintable(dump));
        return 1;
    }
    bool ok = false;
    if (cli.isSet("sequences")) {
        synth::MatchEvalOptions m;
        m.model = model;
        m.killDataPath = cli.value("kill-data");
        m.seed = cli.value("seed").toUInt();
        m.count = cli.value("sequences").toInt(&ok);
        m.degrade = !cli.isSet("clean");
        m.lookRange = cli.isSet("range");
        m.dumpDir = dump;
        m.traceFeed = cli.isSet("trace-feed");
        m.feedDivisor = cli.value("feed-divisor").toInt(&ok);
        if (!ok || (m.feedDivisor != 1 && m.feedDivisor != 2 && m.feedDivisor != 4)) {
            return synth::toolError("corvex-eval", QStringLiteral("bad --feed-divisor (1, 2 or 4)"));
        }
        if (!ok || m.count < 1) {
            return synth::toolError("corvex-eval", QStringLiteral("bad --sequences"));
        }
        return synth::evalMatches(m);
    }
    const int count = cli.value("count").toInt(&ok);
    if (!ok || count < 1) {
        return synth::toolError("corvex-eval", QStringLiteral("bad --count"));
    }

    synth::Variation variation;
    variation.minScale = cli.value("min-k").toDouble();
    variation.maxScale = cli.value("max-k").toDouble();
    variation.degrade = !cli.isSet("clean");
    variation.shiftCash = cli.isSet("shift");
    variation.lookRange = cli.isSet("range");
    synth::RandomFrames frames(cli.value("seed").toUInt(), count, variation);
    const hud::HudReadOptions options = synth::engineOptions();
    const bool showLines = cli.isSet("show-lines");
    hud::FramePlanes planes;

    Tally linesOnRead, balanceNoLines;
    // The smallest frames set a reward line's cap in 5 to 8 pixels, where a
    // soft, recompressed figure keeps little of its digits: worth telling apart.
    constexpr int kTallFrame = 900;
    Tally linesSmall, linesTall;
    Tally balance, wrongCertain, change, changeCertain, changeWrongCertain, lines, figures, texts, found;
    int extraLines = 0;
    // A phrase read as its own last words ("KILL" for "REVENGE KILL"): the
    // words before were lost, and what is left is a phrase of its own.
    int shortened = 0;
    std::map<std::string, int> reasons;
    synth::FrameContent f;
    std::int64_t t = 0;
    int index = 0;
    std::set<int> only;
    for (const QString& n : cli.value("frames").split(',', Qt::SkipEmptyParts))
        only.insert(n.toInt());
    while (frames.next(f, t)) {
        ++index;
        if (!only.empty() && only.count(index) == 0)
            continue;
        const QRect window = synth::hudWindow(f.width, f.height);
        const QImage image = synth::renderFrame(f, window);
        const QImage capture = synth::captureHudRegion(image, window.topLeft(), f.width, f.height);
        const hud::HudReading r = hud::readHud(*model, synth::frameView(capture), options, planes);
        const synth::CashHud& cash = *f.cash;
        bool failed = false;

        found.add(r.found);
        const bool balanceOk = r.balanceCertain && r.balance == cash.balance;
        balance.add(balanceOk);
        wrongCertain.add(r.balanceCertain && r.balance != cash.balance);
        failed |= !balanceOk;
        if (!r.reason.empty())
            ++reasons[r.reason];
        if (cash.lines.empty())
            balanceNoLines.add(balanceOk);
        // Every certain change counts: one read where none is shown is as
        // wrong as a wrong figure.
        const std::int64_t shownChange = cash.change ? *cash.change : 0;
        changeWrongCertain.add(r.changeCertain && r.change != shownChange);
        if (cash.change && *cash.change != 0) {
            change.add(r.change == *cash.change);
            changeCertain.add(r.changeCertain && r.change == *cash.change);
            failed |= r.change != *cash.change;
        }
        // Lines are matched by position: the read line nearest to where the
        // truth line stands.
        const synth::HudLayout layout = synth::layoutCashHud(f);
        const double sc = synth::captureScale(f.width, f.height);
        std::vector<bool> used(r.lines.size(), false);
        for (std::size_t i = 0; i < cash.lines.size(); ++i) {
            const double top = layout.lines[i].phraseTop * sc;
            const double tolerance = 0.5 * layout.lines[i].cap * sc;
            const hud::HudLine* match = nullptr;
            for (std::size_t j = 0; j < r.lines.size(); ++j)
                if (!used[j] && std::abs(r.lines[j].top - top) <= tolerance) {
                    match = &r.lines[j];
                    used[j] = true;
                    break;
                }
            const bool lineOk = match && lineMatches(cash.lines[i], *match);
            lines.add(lineOk);
            (f.height < kTallFrame ? linesSmall : linesTall).add(lineOk);
            if (balanceOk)
                linesOnRead.add(lineOk);
            texts.add(match && match->text == cash.lines[i].text);
            const std::string& phrase = cash.lines[i].text;
            if (match && !match->text.empty() && match->text.size() < phrase.size() &&
                phrase.compare(phrase.size() - match->text.size(), std::string::npos, match->text) == 0 &&
                phrase[phrase.size() - match->text.size() - 1] == ' ')
                ++shortened;
            if (cash.lines[i].hasFigure)
                figures.add(match && match->hasFigure && match->figure == cash.lines[i].figure);
            failed |= !lineOk;
            if (!lineOk && showLines)
                printLineMiss(index, f, cash.lines[i], match);
        }
        for (bool u : used)
            extraLines += u ? 0 : 1;

        if ((failed || dumpAll || !only.empty()) && !dump.isEmpty()) {
            const QString base = QDir(dump).filePath(
                QString::fromLatin1(failed ? "fail-%1" : "pass-%1").arg(index, 5, 10, QLatin1Char('0')));
            capture.save(base + ".png", "PNG");
            QJsonObject o;
            o["truth"] = synth::truthJson(f);
            o["reading"] = synth::readingJson(r);
            o["summary"] = QString::fromStdString(hud::readSummary(r));
            QFile out(base + ".json");
            if (out.open(QIODevice::WriteOnly))
                out.write(QJsonDocument(o).toJson(QJsonDocument::Indented));
        }
        if (index % 200 == 0) {
            // The misses printed so far go out first, so that the progress
            // line never lands inside one when both streams share a file.
            std::fflush(stdout);
            std::fprintf(stderr, "corvex-eval: %d frames\n", index);
        }
    }

    std::printf("frames %d (seed %s)%s, %s\n", count, qPrintable(cli.value("seed")),
                variation.shiftCash ? ", cash HUD shifted right" : "",
                variation.lookRange ? "look from the range" : "the game's exact look");
    print("money line found", found);
    print("balance exact and certain", balance);
    print("balance wrong but certain", wrongCertain);
    print("change exact, right sign", change);
    print("change exact and certain", changeCertain);
    print("change wrong but certain", changeWrongCertain);
    print("reward line text and figure/XP exact", lines);
    print("reward line text exact", texts);
    print("  lines, frames with the balance read", linesOnRead);
    print("  balance, frames without reward lines", balanceNoLines);
    print("  lines, frames under 900 lines high", linesSmall);
    print("  lines, frames 900 lines high or more", linesTall);
    print("reward line figure exact", figures);
    std::printf("%-40s %d\n", "lines read where none is", extraLines);
    std::printf("%-40s %d\n", "phrases read as their last words", shortened);
    for (const auto& [reason, n] : reasons)
        std::printf("reason \"%s\": %d\n", reason.c_str(), n);
    return 0;
}
