#include "log.h"

#include "module-data.h"

#include <cstdarg>
#include <string>

void obsLog(int level, const char* format, ...) {
    std::string prefixed = std::string("[") + plugin::kModuleName + "] " + format;
    va_list args;
    va_start(args, format);
    blogva(level, prefixed.c_str(), args);
    va_end(args);
}
