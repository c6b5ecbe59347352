#pragma once

#include <QString>

class QWidget;
class Uplink;

// Popups from the host of a cup or wager; each is acknowledged to the
// service when the streamer closes it.
void showNudge(Uplink& uplink, QWidget* parent);
void showMessage(Uplink& uplink, const QString& id, const QString& text, const QString& level,
                 const QString& from, QWidget* parent);
