#pragma once

#include <QList>
#include <QString>

// The checklist shown before a player may ready up.
struct CheckItem {
    QString state; // "ok", "warn" or "bad"
    QString title;
    QString detail;
    bool blocking = false;
};
