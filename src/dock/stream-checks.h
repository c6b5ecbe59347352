#pragma once

#include "uplink/status.h"

#include <QList>
#include <QString>
#include <QtGlobal>

#include <functional>

class Dock;

// The checklist shown before a player may ready up.
struct CheckItem {
    QString state; // "ok", "warn" or "bad"
    QString title;
    QString detail;
    bool blocking = false;
};

// Everything the checks look at, gathered at one moment so that the checks
// themselves read no global state.
struct CheckInputs {
    bool streaming = false;    // OBS streams
    bool sourceChosen = false; // the reader has a game source
    QString sourceType;        // its source type id
    QString captured;          // the executable or window text it captures
    bool onStream = false;     // it is shown in the program output
    qint64 hudSeenAt = 0;      // local ms when the cash HUD was last seen; 0 never
    qint64 now = 0;            // local ms
    StreamInfo stream;
    StreamChecks checks;
    PluginInfo plugin;
};

// The inputs as the dock sees them now.
CheckInputs checkInputs(const Dock& dock);
// For tests: the dock's inputs passed through `adjust` before the checks see
// them (OBS streaming state, a source and a recent HUD); empty to stop.
void setCheckInputsAdjusterForTesting(std::function<void(CheckInputs&)> adjust);

QList<CheckItem> collectChecks(const CheckInputs& in);
// The list as rich text; every text from outside is escaped.
QString renderChecks(const QList<CheckItem>& items);

struct ReadyVerdict {
    bool ok = true;
    QString failure; // "Check.NotYet" filled in when not ok
};
// The first blocking item that is "bad" refuses; warnings never do.
ReadyVerdict readyCheck(const QList<CheckItem>& items);
