#include "hudio.h"

#include "engine/trackers.h"

#include "synth.h"

#include <QFile>
#include <QJsonArray>

namespace synth {

hud::FrameView frameView(const QImage& image) {
    hud::FrameView v;
    v.width = image.width();
    v.height = image.height();
    v.pixels = image.constBits();
    v.stride = static_cast<int>(image.bytesPerLine());
    return v;
}

hud::HudReadOptions engineOptions() {
    return reading::hudReadOptions();
}

QString defaultModelPath() {
    const QByteArray env = qgetenv("CORVEX_HUD_MODEL");
    if (!env.isEmpty())
        return QString::fromLocal8Bit(env);
    return QStringLiteral(CORVEX_SOURCE_DIR "/data/hud/model.bin");
}

std::shared_ptr<const hud::Model> loadModelFile(const QString& path, QString* error) {
    std::string message;
    auto model = hud::loadModel(QFile::encodeName(path).toStdString(), &message);
    if (!model && error)
        *error = QStringLiteral("HUD model not loaded: %1").arg(QString::fromStdString(message));
    return model;
}

QJsonObject readingJson(const hud::HudReading& r) {
    QJsonObject o;
    o["found"] = r.found;
    o["lineHeight"] = static_cast<double>(r.lineHeight);
    o["balanceCertain"] = r.balanceCertain;
    o["balance"] = static_cast<double>(r.balance);
    o["balanceText"] = QString::fromStdString(r.balanceText);
    o["balanceConfidence"] = static_cast<double>(r.balanceConfidence);
    o["balanceMargin"] = static_cast<double>(r.balanceMargin);
    o["balanceLeft"] = r.balanceLeft;
    o["balanceRight"] = r.balanceRight;
    o["changeCertain"] = r.changeCertain;
    o["change"] = static_cast<double>(r.change);
    o["changeText"] = QString::fromStdString(r.changeText);
    o["changeConfidence"] = static_cast<double>(r.changeConfidence);
    o["changeMargin"] = static_cast<double>(r.changeMargin);
    o["changeLeft"] = r.changeLeft;
    o["changeRight"] = r.changeRight;
    o["arrow"] = r.arrow;
    QJsonArray lines;
    for (const hud::HudLine& l : r.lines) {
        QJsonObject lo;
        lo["text"] = QString::fromStdString(l.text);
        lo["raw"] = QString::fromStdString(l.raw);
        lo["known"] = l.known;
        lo["hasFigure"] = l.hasFigure;
        lo["figure"] = static_cast<double>(l.figure);
        lo["figureConfidence"] = static_cast<double>(l.figureConfidence);
        lo["figureMargin"] = static_cast<double>(l.figureMargin);
        lo["hasXp"] = l.hasXp;
        lo["xp"] = l.xp;
        lo["left"] = l.left;
        lo["top"] = l.top;
        lo["right"] = l.right;
        lo["bottom"] = l.bottom;
        lines.append(lo);
    }
    o["lines"] = lines;
    o["reason"] = QString::fromStdString(r.reason);
    return o;
}

QImage hudCaptureOf(const QImage& image, QString* error) {
    if (image.isNull()) {
        if (error)
            *error = QStringLiteral("empty image");
        return QImage();
    }
    if (image.width() == 907)
        return image.convertToFormat(QImage::Format_RGB32);
    return captureHudRegion(image, error);
}

} // namespace synth
