#include "wager-panel.h"

#include "dock.h"

WagerPanel::WagerPanel(Dock& dock, QVBoxLayout*) : dock_(dock) {}

void WagerPanel::refresh() {}
