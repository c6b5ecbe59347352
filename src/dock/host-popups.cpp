#include "host-popups.h"

#include "plugin/lang.h"
#include "uplink/texts.h"
#include "uplink/uplink.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>

namespace {

QMessageBox* popup(QMessageBox::Icon icon, const QString& title, const QString& text, const QString& okText,
                   const QString& style, QWidget* parent) {
    auto* box = new QMessageBox(icon, title, text, QMessageBox::NoButton, parent);
    // What the host typed is shown as typed, never as markup.
    box->setTextFormat(Qt::PlainText);
    box->addButton(okText, QMessageBox::AcceptRole);
    box->setStyleSheet(style);
    box->setModal(false);
    box->setWindowModality(Qt::NonModal);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowFlags(box->windowFlags() | Qt::WindowStaysOnTopHint);
    return box;
}

void present(QMessageBox* box, const std::function<void()>& acknowledge) {
    // finished() comes for the button, Escape and the window's close button alike.
    QObject::connect(box, &QMessageBox::finished, box, [acknowledge] { acknowledge(); });
    box->show();
    box->raise();
    box->activateWindow();
    QApplication::beep();
}

} // namespace

QMessageBox* showNudge(Uplink& uplink, QWidget* parent) {
    QMessageBox* box = popup(
        QMessageBox::Critical, Lang::text("Popup.NudgeTitle"), Lang::text("Popup.NudgeText"),
        Lang::text("Popup.NudgeOk"),
        QStringLiteral(
            "QMessageBox{background:#1A0B0A;} "
            "QLabel{color:#FFFFFF;font-size:20px;font-weight:700;min-width:460px;} "
            "QPushButton{background:#D62A22;color:#fff;font-weight:700;padding:8px 24px;font-size:16px;}"),
        parent);
    QPointer<Uplink> link(&uplink);
    present(box, [link] {
        if (link) {
            link->ackWarning(QStringLiteral("nudge"));
        }
    });
    return box;
}

QMessageBox* showMessage(Uplink& uplink, const QString& id, const QString& text, const QString& level,
                         const QString& from, QWidget* parent) {
    const bool warn = level == QLatin1String("warn");
    const QString title =
        uplinktext::with("Popup.MessageTitle", from.isEmpty() ? Lang::text("Popup.TheHost") : from);
    const QString style =
        QStringLiteral("QMessageBox{background:%1;} "
                       "QLabel{color:#FFFFFF;font-size:18px;font-weight:600;min-width:440px;} "
                       "QPushButton{background:%2;color:%3;font-weight:700;padding:8px 24px;font-size:15px;}")
            .arg(QLatin1String(warn ? "#2A1E08" : "#0E1215"), QLatin1String(warn ? "#E0B24E" : "#8C9A5B"),
                 QLatin1String("#0B0E10"));
    QMessageBox* box = popup(warn ? QMessageBox::Warning : QMessageBox::Information, title, text,
                             Lang::text("Popup.GotIt"), style, parent);
    QPointer<Uplink> link(&uplink);
    present(box, [link, id] {
        if (link) {
            link->ackMessage(id);
        }
    });
    return box;
}
