#pragma once

#include <QDialog>

class Engine;

// Shows twice a second what the reader last captured and read; saves, sends
// and locates samples.
class TestDialog : public QDialog {
    Q_OBJECT

public:
    TestDialog(Engine& engine, QWidget* parent = nullptr);

private:
    Engine& engine_;
};
