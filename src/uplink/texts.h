#pragma once

#include "plugin/lang.h"

#include <QString>

// User-facing texts with their placeholders filled. A text without the
// placeholder (a missing translation shows the bare key) still carries the
// detail, so no error is silently dropped.
namespace uplinktext {

inline QString with(const char* key, const QString& a) {
    const QString text = Lang::text(key);
    return text.contains(QLatin1String("%1")) ? text.arg(a) : text + QLatin1Char(' ') + a;
}

inline QString with(const char* key, const QString& a, const QString& b) {
    const QString text = Lang::text(key);
    if (text.contains(QLatin1String("%1")) && text.contains(QLatin1String("%2"))) {
        return text.arg(a, b);
    }
    return text + QLatin1Char(' ') + a + QLatin1Char(' ') + b;
}

} // namespace uplinktext
