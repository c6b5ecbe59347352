#include "uplink/service-call.h"

#include "plugin/lang.h"
#include "plugin/module-data.h"

#include <obs.h>

#include <QJsonDocument>
#include <QUrl>

namespace uplink {

QString apiUrl(const QString& server, const QString& path) {
    QString base = server;
    while (base.endsWith(QLatin1Char('/'))) {
        base.chop(1);
    }
    return base + path;
}

QString userAgent() {
    const char* obs = obs_get_version_string();
    return QStringLiteral("CorvexTournament/%1 (OBS %2)")
        .arg(QString::fromLatin1(plugin::kVersion), QString::fromUtf8(obs ? obs : ""));
}

QString requestHeaders(const QString& token, bool json) {
    QString headers = QStringLiteral("Accept-Language: ") + Lang::code() + QStringLiteral("\r\n");
    if (!token.isEmpty()) {
        headers += QStringLiteral("Authorization: Bearer ") + token + QStringLiteral("\r\n");
    }
    if (json) {
        headers += QStringLiteral("Content-Type: application/json\r\n");
    }
    return headers;
}

QString deviceHeaders() {
    return QStringLiteral("Content-Type: application/json\r\nAccept-Language: ") + Lang::code() +
           QStringLiteral("\r\n");
}

QString describeFailure(const Http::Result& result) {
    QString text = !result.error.isEmpty() ? result.error : QStringLiteral("HTTP %1").arg(result.status);
    if (result.status == 404) {
        text +=
            QStringLiteral(" - the tournament server is not answering at this address (not deployed yet?)");
    }
    if (result.status >= 400) {
        const QString body = QString::fromUtf8(result.body.left(200)).simplified();
        if (!body.isEmpty()) {
            text += QStringLiteral(" | ") + body;
        }
    }
    return text;
}

QString encoded(const QString& text) {
    return QString::fromLatin1(QUrl::toPercentEncoding(text));
}

QByteArray compact(const QJsonObject& body) {
    return QJsonDocument(body).toJson(QJsonDocument::Compact);
}

QJsonObject replyObject(const Http::Result& result) {
    return QJsonDocument::fromJson(result.body).object();
}

} // namespace uplink
