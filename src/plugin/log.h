#pragma once

#include <util/base.h>

// Every line the module writes to the OBS log goes through here so that it
// carries the module's name: "[corvex-tournament] ...".
#ifdef __GNUC__
__attribute__((format(printf, 2, 3)))
#endif
void obsLog(int level, const char* format, ...);
