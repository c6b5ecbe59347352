#pragma once

#include <QPointer>
#include <QWidget>

class Engine;
class QLabel;

// The module's one permanent window, placed in OBS as a dock. It only calls
// the engine and reads its state; OBS owns the widget.
class Dock : public QWidget {
    Q_OBJECT

public:
    explicit Dock(Engine* engine, QWidget* parent = nullptr);

private:
    QLabel* makeLabel(const QString& text, const char* role);

    QPointer<Engine> engine_;
    QLabel* title_ = nullptr;
};
