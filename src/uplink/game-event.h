#pragma once

#include <QJsonObject>

#include <cstdint>
#include <string>

// What the readers saw, as the engine hands it to the service link. The
// numbers are the wire codes; a kind the link does not know is sent with its
// time only, so a newer engine never breaks an older link.
enum class EventKind : int32_t {
    Balance = 0,
    MatchChange = 1,
    FeedLine = 2,
    Snapshot = 3,
    Status = 4,
    Kill = 5,
    Death = 6,
    Down = 7,
    Up = 8,
};

// Filled on the reader side and copied to the main thread; text fields are
// UTF-8 as read, so the reader thread never touches Qt strings.
struct GameEvent {
    EventKind kind = EventKind::Balance;
    int64_t t = 0; // wall clock, ms since the epoch
    int64_t value = 0;
    float conf = 0.0f; // 0 to 1
    bool heartbeat = false;
    std::string text;
    bool hasAmount = false;
    int64_t amount = 0;
    bool hasXp = false;
    int32_t xp = 0;
    int64_t lineId = 0;
    std::string tag;
    std::string evidence;
    int32_t dist = -1; // metres; negative when unknown
    std::string weapon;
    std::string wtype;
    bool headshot = false;
    bool hud = false;
    bool streaming = false;
    bool recording = false;
    std::string src;
    std::string err;
    std::string steamId;
    std::string steamName;
    std::string uuid;
    std::string type;
    std::string exe;
    bool onStream = false;
    bool locked = false;
    bool changed = false;
    int32_t resWidth = 0;
    int32_t resHeight = 0;
    double scale = 0.0;
    double fps = 0.0;
    double okRate = 0.0;
    double cap = 0.0;
};

// The event's wire object, without "seq" (the queue numbers it).
QJsonObject eventToJson(const GameEvent& event);
