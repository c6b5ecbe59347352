#pragma once

#include <QString>

// The dock's whole look. Every rule is scoped to the dock's object name so
// that nothing leaks into the rest of OBS; widgets choose their rule through
// the "role", "state", "side" and "flash" properties.
QString dockStyleSheet();
