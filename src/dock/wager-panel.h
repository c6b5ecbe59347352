#pragma once

class Dock;
class QVBoxLayout;

// A head-to-head wager: join or create, both sides, readiness, the result. Built once into the layout the
// dock gives; redrawn by the dock's refresh.
class WagerPanel {
public:
    WagerPanel(Dock& dock, QVBoxLayout* layout);
    void refresh();

private:
    Dock& dock_;
};
