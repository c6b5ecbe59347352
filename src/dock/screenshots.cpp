// The screenshot mode: pictures of the dock in both modes, in the language
// OBS was started with, for the documentation and for review.
#include "dock.h"

#include "plugin/lang.h"
#include "test-dialog.h"

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
        content_->grab().save(QStringLiteral("%1/dock-%2-%3.png").arg(folder, m, lang));
        content_->resize(size);
    }
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
