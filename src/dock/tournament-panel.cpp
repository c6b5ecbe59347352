#include "tournament-panel.h"

#include "dock.h"

TournamentPanel::TournamentPanel(Dock& dock, QVBoxLayout*) : dock_(dock) {}

void TournamentPanel::refresh() {}
