#include "host-popups.h"

void showNudge(Uplink&, QWidget*) {}
void showMessage(Uplink&, const QString&, const QString&, const QString&, const QString&, QWidget*) {}
