// The HUD reader on painted frames: what the engine will see at the game's
// resolutions and HUD scales, read through the engine's crop and scaling.

#include "footage_fixture.h"
#include "hudio.h"
#include "synth.h"

#include "hud/cash/pass.h"

#include <gtest/gtest.h>

#include <QPainter>

#include <algorithm>

namespace {

class ReaderFrames : public FootageTest {
protected:
    static synth::FrameContent frame(int w, int h, double k, std::int64_t balance) {
        synth::FrameContent f;
        f.width = w;
        f.height = h;
        f.hudScale = k;
        f.sceneSeed = static_cast<std::uint32_t>(balance % 977 + w);
        synth::CashHud cash;
        cash.balance = balance;
        f.cash = cash;
        return f;
    }

    static QImage capture(const synth::FrameContent& f) {
        const QRect window = synth::hudWindow(f.width, f.height);
        return synth::captureHudRegion(synth::renderFrame(f, window), window.topLeft(), f.width, f.height);
    }

    static hud::HudReading read(const QImage& cap, const hud::HudReadOptions& o = synth::engineOptions()) {
        return hud::readHud(*model_, synth::frameView(cap), o);
    }
};

synth::RewardLine figureLine(const char* text, std::int64_t figure, bool panel = false) {
    synth::RewardLine l;
    l.text = text;
    l.hasFigure = true;
    l.figure = figure;
    l.panel = panel;
    return l;
}

synth::RewardLine xpLine(const char* text, int xp, bool panel = false) {
    synth::RewardLine l;
    l.text = text;
    l.hasXp = true;
    l.xp = xp;
    l.panel = panel;
    return l;
}

TEST_F(ReaderFrames, BalancesFromZeroToNineDigitsAtEveryResolution) {
    const int sizes[4][2] = {{1280, 720}, {1920, 1080}, {2560, 1440}, {3840, 2160}};
    const std::int64_t values[] = {0, 7, 10, 999, 1000, 1234, 50005, 987654, 1000000, 12345678, 999999999};
    int i = 0;
    for (std::int64_t v : values) {
        const auto& s = sizes[i++ % 4];
        const double k = 0.8 + 0.05 * (i % 11);
        const hud::HudReading r = read(capture(frame(s[0], s[1], k, v)));
        SCOPED_TRACE(std::to_string(v) + " at " + std::to_string(s[1]) + "p, k " + std::to_string(k));
        EXPECT_TRUE(r.found);
        EXPECT_TRUE(r.balanceCertain) << r.reason;
        EXPECT_EQ(r.balance, v);
        EXPECT_EQ(r.balanceText, synth::moneyText(v));
        EXPECT_NEAR(r.lineHeight, 27.0 * k, 2.5);
        EXPECT_TRUE(r.lines.empty());
    }
}

TEST_F(ReaderFrames, ChangeSignFollowsTheArrow) {
    synth::FrameContent loss = frame(1920, 1080, 1.0, 12345);
    loss.cash->change = -1250;
    hud::HudReading r = read(capture(loss));
    EXPECT_EQ(r.balance, 12345);
    EXPECT_EQ(r.arrow, -1);
    EXPECT_EQ(r.change, -1250);
    EXPECT_EQ(r.changeText, "-$1,250");
    EXPECT_TRUE(r.changeCertain);

    synth::FrameContent gain = frame(2560, 1440, 1.1, 880);
    gain.cash->change = 250;
    r = read(capture(gain));
    EXPECT_EQ(r.balance, 880);
    EXPECT_EQ(r.arrow, 1);
    EXPECT_EQ(r.change, 250);
    EXPECT_EQ(r.changeText, "$250");
    EXPECT_TRUE(r.changeCertain);
}

TEST_F(ReaderFrames, RewardLinesWithFiguresExperienceAndLightPanels) {
    synth::FrameContent f = frame(1920, 1080, 1.25, 4500);
    f.cash->change = 250;
    f.cash->lines = {figureLine("KILL CONFIRMED", 250), xpLine("HEADSHOT", 25, true),
                     figureLine("REVENGE KILL", 1500), figureLine("KILL", 100, true)};
    const QImage cap = capture(f);
    const hud::HudReading r = read(cap);
    EXPECT_EQ(r.balance, 4500);
    ASSERT_EQ(r.lines.size(), 4u);
    EXPECT_EQ(r.lines[0].text, "KILL CONFIRMED");
    EXPECT_TRUE(r.lines[0].hasFigure);
    EXPECT_EQ(r.lines[0].figure, 250);
    EXPECT_EQ(r.lines[1].text, "HEADSHOT");
    EXPECT_TRUE(r.lines[1].hasXp);
    EXPECT_EQ(r.lines[1].xp, 25);
    EXPECT_FALSE(r.lines[1].hasFigure);
    EXPECT_EQ(r.lines[2].text, "REVENGE KILL");
    EXPECT_EQ(r.lines[2].figure, 1500);
    EXPECT_EQ(r.lines[3].text, "KILL");
    EXPECT_EQ(r.lines[3].figure, 100);
    for (const hud::HudLine& l : r.lines) {
        EXPECT_TRUE(l.known) << l.raw;
        EXPECT_LT(l.top, l.bottom);
    }
    EXPECT_LT(r.lines[0].top, r.lines[3].top);
}

// A softened, recompressed 1440p frame of "$21": blur shortens the thin "1"
// more than the other characters, so it misses the height of the line's
// characters while the "2" before it still stands near the right margin. A
// reading started at the "2" gives a certain $2.
TEST_F(ReaderFrames, ShortenedLastDigitIsNotDropped) {
    synth::FrameContent f = frame(2560, 1440, 1.0692446262841253, 21);
    f.sceneSeed = 4047912713u;
    f.cash->change = 679;
    f.degradation.blurSigma = 0.6526737365180963;
    f.degradation.jpegQuality = 69;
    const QImage cap = capture(f);
    hud::FramePlanes planes;
    const hud::HudReading r = hud::readHud(*model_, synth::frameView(cap), synth::engineOptions(), planes);
    // The case in point: the "1" is not one of the line's character blobs.
    hud::MoneyLine line;
    ASSERT_TRUE(hud::findMoneyLine(planes, line));
    int lastChar = 0, lastRow = 0;
    for (const hud::Blob& b : line.charBlobs)
        lastChar = std::max(lastChar, b.x1);
    for (const hud::Blob& b : line.rowBlobs)
        lastRow = std::max(lastRow, b.x1);
    EXPECT_GT(lastRow, lastChar) << "the last digit is a character blob again here";
    EXPECT_FALSE(r.balanceCertain && r.balance != 21) << r.balance;
    EXPECT_EQ(r.balance, 21);
}

TEST_F(ReaderFrames, SoftenedAndRecompressedPictureStillReads) {
    // Blur and JPEG fuse neighbouring strokes; the reader walks the figure
    // by advances rather than by blobs, so fused digits still read.
    synth::FrameContent f = frame(1280, 720, 0.9, 111111);
    f.cash->change = -11;
    f.degradation.blurSigma = 0.7;
    f.degradation.jpegQuality = 65;
    const hud::HudReading r = read(capture(f));
    EXPECT_TRUE(r.balanceCertain) << r.reason;
    EXPECT_EQ(r.balance, 111111);
    EXPECT_EQ(r.change, -11);

    synth::FrameContent scaled = frame(1920, 1080, 1.3, 7777777);
    scaled.cash->lines = {figureLine("KILL", 75)};
    scaled.degradation.sourceScale = 1.33; // a 1440p game in a 1080p stream
    scaled.look = synth::spacedLook();     // letters spaced wide apart
    scaled.degradation.blurSigma = 0.5;
    const hud::HudReading s = read(capture(scaled));
    EXPECT_EQ(s.balance, 7777777);
    ASSERT_EQ(s.lines.size(), 1u);
    EXPECT_EQ(s.lines[0].text, "KILL");
    EXPECT_EQ(s.lines[0].figure, 75);
}

TEST_F(ReaderFrames, BalanceMustEndAtTheRightMargin) {
    const QImage cap = capture(frame(1920, 1080, 1.0, 3456));
    hud::HudReadOptions strict = synth::engineOptions();
    strict.allowOffMargin = false;
    hud::HudReading r = read(cap, strict);
    EXPECT_EQ(r.balance, 3456);
    EXPECT_TRUE(r.reason.empty()) << r.reason;

    // The same HUD moved one line height away from the margin (0.6 is allowed).
    const int shift = static_cast<int>(std::lround(r.lineHeight));
    QImage moved(cap.size(), QImage::Format_RGB32);
    moved.fill(QColor(60, 60, 60));
    QPainter p(&moved);
    p.drawImage(-shift, 0, cap);
    p.end();
    r = read(moved, strict);
    EXPECT_TRUE(r.found);
    EXPECT_FALSE(r.balanceCertain);
    EXPECT_EQ(r.reason, "balance not at the HUD's right margin");
}

TEST_F(ReaderFrames, FaintHudOnABrightWorldNeedsTheLowContrastRetry) {
    synth::FrameContent f = frame(1920, 1080, 1.0, 4321);
    f.flatScene = 200;
    const QImage cap = capture(f);
    hud::HudReadOptions once = synth::engineOptions();
    once.retryLowContrast = false;
    hud::HudReading r = read(cap, once);
    EXPECT_FALSE(r.found);
    EXPECT_EQ(r.reason, "no money line");
    // The retry locates the line; on a world this bright the digits' ink is
    // too faint for a certain reading, which must then not claim one.
    r = read(cap);
    EXPECT_TRUE(r.found);
    EXPECT_NEAR(r.lineHeight, 27.0, 3.0);
    EXPECT_TRUE(r.balanceCertain ? r.balance == 4321 : !r.reason.empty());
}

TEST_F(ReaderFrames, BandsKeptFromFrameToFrameReadAsFreshOnes) {
    // The low-contrast retry and the layout's bands work in planes kept per
    // thread; frames of other sizes and kinds read in between must leave
    // nothing behind that changes a later reading.
    synth::FrameContent faint = frame(1920, 1080, 1.0, 4321);
    faint.flatScene = 200;
    synth::FrameContent empty = frame(1280, 720, 0.9, 0);
    empty.cash.reset();
    const QImage faintCapture = capture(faint);
    const QImage others[] = {capture(empty), capture(frame(2560, 1440, 1.3, 98765)), faintCapture};
    const hud::HudReading first = read(faintCapture);
    for (const QImage& other : others) {
        read(other);
        const hud::HudReading again = read(faintCapture);
        EXPECT_EQ(again.found, first.found);
        EXPECT_EQ(again.lineHeight, first.lineHeight);
        EXPECT_EQ(again.balanceCertain, first.balanceCertain);
        EXPECT_EQ(again.balanceText, first.balanceText);
        EXPECT_EQ(again.balanceConfidence, first.balanceConfidence);
        EXPECT_EQ(again.balanceMargin, first.balanceMargin);
        EXPECT_EQ(again.changeText, first.changeText);
        EXPECT_EQ(again.reason, first.reason);
    }
}

TEST_F(ReaderFrames, FramesTheEngineWouldNotReadGiveClearErrors) {
    QString error;
    EXPECT_TRUE(synth::captureHudRegion(QImage(300, 200, QImage::Format_RGB32), &error).isNull());
    EXPECT_NE(error.indexOf("320x240"), -1) << error.toStdString();
    EXPECT_TRUE(synth::hudCaptureOf(QImage(), &error).isNull());

    QImage black(907, 475, QImage::Format_RGB32);
    black.fill(Qt::black);
    const hud::HudReading r = read(black);
    EXPECT_FALSE(r.found);
    EXPECT_EQ(r.reason, "no money line");

    // A capture of an odd size still yields a reading, never a crash.
    QImage odd(5, 3, QImage::Format_RGB32);
    odd.fill(Qt::white);
    EXPECT_FALSE(read(odd).found);
}

TEST_F(ReaderFrames, CaptureMatchesTheEngineRegion) {
    // 0.42 of the height wide, 0.22 high, 907 wide after scaling.
    const QImage cap = capture(frame(1920, 1080, 1.0, 1));
    EXPECT_EQ(cap.width(), 907);
    EXPECT_EQ(cap.height(), 475);
    const QImage narrow = synth::captureHudRegion(QImage(400, 1080, QImage::Format_RGB32));
    EXPECT_EQ(narrow.width(), 907);
    EXPECT_EQ(narrow.height(), static_cast<int>(std::lround(907.0 * 0.22 * 1080 / 400)));
}

} // namespace

TEST_F(ReaderFrames, LettersRunTogetherAtTheGamesOwnSpacingStillReadAsTheirPhrase) {
    // At the font's own spacing the glyph reader takes letters run together
    // ("SI", "KI", "NT") for one wide letter; the words then match no event
    // word, and the phrase is found from the letters as read.
    struct Case {
        int width, height;
        double k;
        std::uint32_t scene;
        int jpeg;
        double sourceScale;
        std::int64_t balance, change;
        std::vector<synth::RewardLine> lines;
    };
    const Case cases[] = {
        {1920, 1080, 1.1343388302458783, 215067227u, 91, 1.0, 68122139, 2409, {xpLine("ASSIST", 370)}},
        {1280,
         720,
         1.216838016111984,
         1530040024u,
         61,
         1.0435727722382016,
         5637,
         7239,
         {figureLine("HOT ZONE ENTERED", 944), figureLine("REVENGE KILL", 85189)}},
        {3840, 2160, 1.1051641998828108, 2113307721u, 70, 1.0, 2, -862832, {xpLine("REVENGE KILL", 456)}},
    };
    for (const Case& c : cases) {
        synth::FrameContent f = frame(c.width, c.height, c.k, c.balance);
        f.sceneSeed = c.scene;
        f.degradation.jpegQuality = c.jpeg;
        f.degradation.sourceScale = c.sourceScale;
        f.cash->change = c.change;
        f.cash->lines = c.lines;
        const hud::HudReading r = read(capture(f));
        ASSERT_EQ(r.lines.size(), c.lines.size()) << c.height;
        for (std::size_t i = 0; i < c.lines.size(); ++i)
            EXPECT_EQ(r.lines[i].text, c.lines[i].text) << c.height << " " << r.lines[i].raw;
    }
}
