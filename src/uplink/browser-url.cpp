#include "uplink/browser-url.h"

#include <QUrl>

bool isBrowsableUrl(const QString& url) {
    const QString trimmed = url.trimmed();
    if (trimmed.isEmpty() || trimmed != url) {
        return false;
    }
    // Control characters and spaces have no place in a link we open; a
    // tolerant parse could otherwise read something else than the dock shows.
    for (const QChar c : url) {
        if (c.unicode() < 0x21 || c.unicode() == 0x7f) {
            return false;
        }
    }
    const QUrl parsed(url, QUrl::StrictMode);
    if (!parsed.isValid() || parsed.isRelative()) {
        return false;
    }
    const QString scheme = parsed.scheme().toLower();
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https")) {
        return false;
    }
    return !parsed.host().isEmpty();
}
