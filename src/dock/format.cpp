#include "format.h"

#include "plugin/lang.h"
#include "plugin/module-data.h"
#include "uplink/uplink.h"

#include <QDateTime>
#include <QStringList>

QString formatMoney(qint64 value, bool withSign) {
    // Built by hand rather than with QLocale: the HUD and the service write
    // money the same way in every language.
    const quint64 magnitude = value < 0 ? 0 - static_cast<quint64>(value) : static_cast<quint64>(value);
    QString digits = QString::number(magnitude);
    for (int at = digits.size() - 3; at > 0; at -= 3) {
        digits.insert(at, QLatin1Char(','));
    }
    if (value < 0) {
        return QStringLiteral("-$") + digits;
    }
    return (withSign && value > 0 ? QStringLiteral("+$") : QStringLiteral("$")) + digits;
}

QString clockText(qint64 ms) {
    const qint64 s = qMax<qint64>(ms, 0) / 1000;
    const auto two = [](qint64 v) { return QStringLiteral("%1").arg(v, 2, 10, QLatin1Char('0')); };
    if (s < 3600) {
        return QStringLiteral("%1:%2").arg(two(s / 60), two(s % 60));
    }
    return QStringLiteral("%1:%2:%3").arg(QString::number(s / 3600), two(s / 60 % 60), two(s % 60));
}

QString formatMinutes(int minutes) {
    if (minutes >= 60) {
        if (minutes % 60 != 0) {
            return Lang::text("Common.HoursMinutes")
                .arg(QString::number(minutes / 60),
                     QStringLiteral("%1").arg(minutes % 60, 2, 10, QLatin1Char('0')));
        }
        return Lang::text("Common.Hours").arg(minutes / 60);
    }
    return Lang::text("Common.Minutes").arg(minutes);
}

QString ordinal(int n) {
    if (n <= 0) {
        return QStringLiteral("-");
    }
    if (Lang::code() == QLatin1String("en")) {
        const int tens = n % 100;
        const char* suffix = "th";
        if (tens < 11 || tens > 13) {
            switch (n % 10) {
            case 1:
                suffix = "st";
                break;
            case 2:
                suffix = "nd";
                break;
            case 3:
                suffix = "rd";
                break;
            default:
                break;
            }
        }
        return QString::number(n) + QLatin1String(suffix);
    }
    return n == 1 ? Lang::text("Common.OrdinalFirst") : Lang::text("Common.Ordinal").arg(n);
}

bool isOlder(const QString& a, const QString& b) {
    const QStringList left = a.split(QLatin1Char('.'));
    const QStringList right = b.split(QLatin1Char('.'));
    for (int i = 0; i < qMax(left.size(), right.size()); ++i) {
        const qlonglong x = i < left.size() ? left[i].trimmed().toLongLong() : 0;
        const qlonglong y = i < right.size() ? right[i].trimmed().toLongLong() : 0;
        if (x != y) {
            return x < y;
        }
    }
    return false;
}

bool isPortable() {
    static const bool portable = [] {
        obs_module_t* module = plugin::module();
        const char* path = module ? obs_get_module_binary_path(module) : nullptr;
        QString file = QString::fromUtf8(path ? path : "");
        file.replace(QLatin1Char('\\'), QLatin1Char('/'));
        return file.contains(QLatin1String("/obs-plugins/64bit/"), Qt::CaseInsensitive);
    }();
    return portable;
}

QString phaseLabel(const QString& phase) {
    const QByteArray key = "Phase." + phase.toUtf8();
    const QString text = Lang::text(key.constData());
    return text == QString::fromUtf8(key) ? phase.toUpper() : text;
}

QString formatServerTime(const Uplink& uplink, qint64 t) {
    if (t < 1) {
        return QString();
    }
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(uplink.toLocal(t));
    return Lang::qlocale().toString(local, Lang::text("Common.DateTime"));
}
