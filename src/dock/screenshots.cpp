// The screenshot mode: pictures of the dock in both modes, in the language
// OBS was started with, for the documentation and for review.
#include "dock.h"

#include "plugin/lang.h"
#include "test-dialog.h"

#include <QColor>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLayout>
#include <QPixmap>
#include <QScrollArea>

void Dock::writeScreenshots(const QString& folder) {
    QDir().mkpath(folder);
    const QString lang = Lang::code();
    const QString mode = settings().mode;
    const QSize size = content_->size();
    QString report;
    // The scroll area would size the content back to its viewport at once.
    scroll_->setWidgetResizable(false);
    for (const char* each : {"tournament", "wager"}) {
        const QString m = QString::fromLatin1(each);
        setMode(m);
        QCoreApplication::processEvents();
        report +=
            QStringLiteral("%1 min width %2\n").arg(m, QString::number(content_->minimumSizeHint().width()));
        QLayout* layout = content_->layout();
        const int height = layout && layout->hasHeightForWidth() ? layout->heightForWidth(380)
                                                                 : content_->sizeHint().height();
        content_->resize(380, height);
        // The content is transparent over the dock's own background.
        QPixmap picture(content_->size());
        picture.fill(QColor(0x0E, 0x12, 0x15));
        content_->render(&picture, QPoint(), QRegion(), QWidget::DrawChildren);
        picture.save(QStringLiteral("%1/dock-%2-%3.png").arg(folder, m, lang));
        content_->resize(size);
    }
    scroll_->setWidgetResizable(true);
    setMode(mode);
    refresh();
    QCoreApplication::processEvents();
    if (test_ && test_->isVisible()) {
        test_->grab().save(QStringLiteral("%1/test-%2.png").arg(folder, lang));
    }
    QFile done(folder + QStringLiteral("/done-") + lang);
    if (done.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        done.write(report.toUtf8());
    }
}
