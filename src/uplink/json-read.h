#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>

#include <cmath>
#include <cstdint>
#include <limits>

// Forgiving readers for what the service and the backlog file send. A value
// of the wrong type reads as the default; numbers are converted without ever
// overflowing, whatever a damaged or hostile document holds.
namespace jsonread {

inline QJsonObject object(const QJsonValue& v) {
    return v.isObject() ? v.toObject() : QJsonObject();
}

inline QString text(const QJsonValue& v) {
    return v.isString() ? v.toString() : QString();
}

// Truncates toward zero and saturates; NaN reads as 0.
template <typename T> T clampTo(double d) {
    if (std::isnan(d)) {
        return 0;
    }
    constexpr double lo = static_cast<double>(std::numeric_limits<T>::min());
    // 2^63 is exactly representable while INT64_MAX is not; stay below it.
    constexpr double hi = static_cast<double>(std::numeric_limits<T>::max());
    if (d <= lo) {
        return std::numeric_limits<T>::min();
    }
    if (d >= hi) {
        return std::numeric_limits<T>::max();
    }
    return static_cast<T>(d);
}

inline int64_t int64(const QJsonValue& v, int64_t fallback = 0) {
    return v.isDouble() ? clampTo<int64_t>(v.toDouble()) : fallback;
}

inline int32_t int32(const QJsonValue& v, int32_t fallback = 0) {
    return v.isDouble() ? clampTo<int32_t>(v.toDouble()) : fallback;
}

// Rounded to the nearest integer, halves away from zero.
inline int32_t rounded32(const QJsonValue& v) {
    return v.isDouble() ? clampTo<int32_t>(std::round(v.toDouble())) : 0;
}

inline bool boolean(const QJsonValue& v, bool fallback = false) {
    return v.isBool() ? v.toBool() : fallback;
}

// -1 when the value is not a boolean.
inline int32_t tri(const QJsonValue& v) {
    return v.isBool() ? (v.toBool() ? 1 : 0) : -1;
}

// Ids arrive as texts or as numbers; 42 reads as "42".
inline QString idText(const QJsonValue& v) {
    if (v.isString()) {
        return v.toString();
    }
    if (v.isDouble()) {
        double d = v.toDouble();
        if (std::isfinite(d) && d == std::trunc(d) && std::fabs(d) < 9007199254740992.0) {
            return QString::number(static_cast<qint64>(d));
        }
        return QString::number(d, 'g', 17);
    }
    return QString();
}

} // namespace jsonread
