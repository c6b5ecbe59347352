#pragma once

#include <QString>

class QMessageBox;
class QWidget;
class Uplink;

// Popups from the host of a cup or wager; each stays on top, beeps and is
// acknowledged to the service when the streamer closes it, however closed.
// Both return the box (deleted on close) so that callers can place it.
QMessageBox* showNudge(Uplink& uplink, QWidget* parent);
QMessageBox* showMessage(Uplink& uplink, const QString& id, const QString& text, const QString& level,
                         const QString& from, QWidget* parent);
