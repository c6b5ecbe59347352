// A played match for the trackers: one sequence of frames at 10 a second,
// drawn from a seed. The look of a sequence (resolution, HUD scale, world,
// how the stream degraded the picture) stays fixed; what changes is what the
// game shows: the cash HUD jumping with rewards and purchases, kill-feed rows
// arriving, scrolling and leaving, the item in the player's hands, and the
// player going down and getting up. Beside the frames stands the ground
// truth: the kills, deaths, downs and ups the readers should report, and per
// frame the rows on screen and the plate.
#pragma once

#include "synth.h"

#include <QImage>
#include <QJsonObject>
#include <QRect>

#include <cstdint>
#include <string>
#include <vector>

namespace synth {

constexpr int kMatchFrameMs = 100;   // 10 frames a second
constexpr int kFeedRowLifeMs = 7000; // a kill-feed row stays this long
constexpr int kMaxFeedRows = 7;
constexpr int kFeedScrollMs = 250;   // the older rows slide down one pitch in this time
constexpr int kChangeShownMs = 3000; // the balance change beside the balance
constexpr int kRewardLineMs = 4000;  // a reward line below the balance
constexpr int kMaxRewardLines = 4;

enum class MatchEventKind { Kill, Death, Down, Up };
const char* matchEventName(MatchEventKind kind); // "kill", "death", "down", "up"

// What the readers should report. Times are milliseconds since the first
// frame; a kill or death is timed when its row appears.
struct MatchEvent {
    MatchEventKind kind = MatchEventKind::Kill;
    std::int64_t time = 0;
    int distance = -1; // metres shown in the row's bracket
    std::string icon;  // icon class of the row (kills and deaths)
    bool headshot = false;
    bool squad = false; // the row shows a squad mate's name (friendly fire)
    bool self = false;  // a death by the player's own hand: the name on both sides
    std::string weapon; // kills: the weapon table's name of the item in hand
};

struct MatchOptions {
    double minSeconds = 60.0;
    double maxSeconds = 120.0;
    Variation variation; // resolution, HUD scale and degradation of the sequence
};

class MatchSequence : public FrameSource {
public:
    explicit MatchSequence(std::uint32_t seed, MatchOptions options = {});

    bool next(FrameContent& frame, std::int64_t& timeMs) override;
    void rewind() { cursor_ = 0; }

    int frameCount() const { return frames_; }
    static std::int64_t frameTime(int index) { return std::int64_t{index} * kMatchFrameMs; }
    // Any frame of the sequence, in any order.
    FrameContent frame(int index) const;
    // The fixed part of every frame (size, HUD scale, world, degradation).
    const FrameContent& look() const { return look_; }
    const std::string& playerName() const { return player_; }
    // Sorted by time.
    const std::vector<MatchEvent>& events() const { return events_; }

    // Ground truth of one frame: time, cash HUD, visible rows (top first,
    // with their band top in frame pixels and the event a row stands for),
    // scroll, plate name (null while hidden) and the down state.
    QJsonObject frameTruth(int index) const;
    // The whole sequence: look, frame rate, events and, when `files` holds
    // one name per frame, every frame's truth with its file name.
    QJsonObject truthJson(const std::vector<QString>& files = {}) const;

private:
    struct TimedRow {
        std::int64_t time = 0;
        FeedRowContent row;
        int event = -1; // index into events_, -1 for rows that are no event
    };
    struct Hold {
        std::int64_t from = 0;
        std::int64_t since = 0; // when the item was taken in hand
        int item = -1;          // index into the weapon table; -1: plate hidden
        int magazine = 0;
        int reserve = 0;
    };
    struct DownSpan {
        std::int64_t from = 0;
        std::int64_t to = 0; // the damage log is gone from here on
    };
    struct CashStep {
        std::int64_t time = 0;
        std::int64_t delta = 0;
        std::vector<RewardLine> lines;
    };

    FrameContent look_;
    int frames_ = 0;
    int cursor_ = 0;
    std::string player_;
    std::int64_t startBalance_ = 0;
    std::vector<TimedRow> rows_;     // by time
    std::vector<Hold> holds_;        // by time
    std::vector<DownSpan> downs_;    // by time
    std::vector<CashStep> cash_;     // by time
    std::vector<MatchEvent> events_; // by time

    friend class MatchBuilder;
};

QJsonObject matchEventJson(const MatchEvent& event);

// The parts of a frame the engine captures (cash HUD, kill feed, damage log,
// weapon plate), each grown to the 16-pixel grid so that painting it alone
// gives the picture of the whole frame there.
std::vector<QRect> captureWindows(int frameWidth, int frameHeight);
// One region (frame pixels) grown to the grid and a margin, within the frame.
QRect captureWindow(const QRect& region, int frameWidth, int frameHeight);
// The frame with only those parts painted, black elsewhere: what the readers
// see, at a fraction of the cost of the whole picture.
QImage renderCaptureParts(const FrameContent& frame);

} // namespace synth
