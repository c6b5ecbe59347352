#pragma once

#include <util/text-lookup.h>

#include <QString>
#include <QStringList>

// The locale folder of the source tree, as the module ships it.
QString localeDir();

// What libobs does for a module: the English file, with `locale` laid over it.
lookup_t* loadLocale(const QString& dir, const char* locale);

// The keys of an ini file in file order (comments and blank lines skipped).
QStringList iniKeys(const QString& path);
