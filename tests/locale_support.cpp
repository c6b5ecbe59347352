#include "locale_support.h"

#include <QDir>
#include <QFile>
#include <QTextStream>

QString localeDir() {
    return QStringLiteral(CORVEX_SOURCE_DIR "/data/locale");
}

lookup_t* loadLocale(const QString& dir, const char* locale) {
    const QByteArray english = QDir(dir).filePath(QStringLiteral("en-US.ini")).toUtf8();
    lookup_t* lookup = text_lookup_create(english.constData());
    if (lookup && qstrcmp(locale, "en-US") != 0) {
        const QByteArray path = QDir(dir).filePath(QString::fromLatin1(locale) + ".ini").toUtf8();
        text_lookup_add(lookup, path.constData());
    }
    return lookup;
}

QStringList iniKeys(const QString& path) {
    QStringList keys;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return keys;
    }
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#'))) {
            continue;
        }
        keys << line.section(QLatin1Char('='), 0, 0).trimmed();
    }
    return keys;
}
