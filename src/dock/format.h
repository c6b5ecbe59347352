#pragma once

#include <QString>
#include <QtGlobal>

class Uplink;

// Texts the dock's panels share. Keys are looked up in the module language.

// "$1,234", "-$5", "+$1,234" (sign only when asked and positive).
QString formatMoney(qint64 value, bool withSign = false);
// "mm:ss" below an hour, else "h:mm:ss"; negative spans count as 0.
QString clockText(qint64 ms);
// A length of time in minutes as the "Common.Minutes/Hours/HoursMinutes" text.
QString formatMinutes(int minutes);
// "12th" in English, the language's ordinal text otherwise, "-" below 1.
QString ordinal(int n);
// Dotted versions compared number by number; missing parts count as 0.
bool isOlder(const QString& a, const QString& b);
// The module runs from a portable OBS (its own folder under "obs-plugins/64bit").
bool isPortable();
// "Phase.<phase>" when that text exists, else the phase in capitals.
QString phaseLabel(const QString& phase);
// A service time as a local date and time in the module language; empty for t < 1.
QString formatServerTime(const Uplink& uplink, qint64 t);
