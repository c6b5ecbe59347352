#pragma once

#include "hud/cash/pass.h"

#include <QDialog>
#include <QString>
#include <QStringList>

class Engine;
class QCheckBox;
class QLabel;
class QPushButton;
class QTimer;

// The reading as text for the dialog, one line per item.
QString formatReading(const hud::HudReading& reading);
// The width the captured HUD picture is shown at.
int testPictureWidth(int pictureWidth);
// The sample files in `folder` to send: pictures and readings, newest first,
// at most `limit`.
QStringList newestSamples(const QString& folder, int limit = 200);

// Shows twice a second what the reader last captured and read; saves, sends
// and locates samples.
class TestDialog : public QDialog {
    Q_OBJECT

public:
    TestDialog(Engine& engine, QWidget* parent = nullptr);

    // Redraws the picture, the reading and the status; the timer calls it.
    void redraw();
    void sendSamples();
    void changeFolder();

protected:
    // The picture is only fetched while someone can see it.
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void build();
    void updateWhere();

    Engine& engine_;
    QLabel* picture_ = nullptr;
    QLabel* reading_ = nullptr;
    QLabel* status_ = nullptr;
    QLabel* where_ = nullptr;
    QPushButton* save_ = nullptr;
    QCheckBox* every10_ = nullptr;
    QCheckBox* onLine_ = nullptr;
    QPushButton* send_ = nullptr;
    QPushButton* changeFolder_ = nullptr;
    QPushButton* openFolder_ = nullptr;
    QTimer* timer_ = nullptr;
};
