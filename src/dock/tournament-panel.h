#pragma once

class Dock;
class QVBoxLayout;

// Registration for a cup, the team, readiness. Built once into the layout the
// dock gives; redrawn by the dock's refresh.
class TournamentPanel {
public:
    TournamentPanel(Dock& dock, QVBoxLayout* layout);
    void refresh();

private:
    Dock& dock_;
};
