#include "copy-button.h"

#include "plugin/lang.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QVariant>

namespace {
const char* const kOwnText = "corvexOwnText";
}

void copyWithFeedback(QPushButton* button, const QString& text) {
    if (QClipboard* clipboard = QGuiApplication::clipboard()) {
        clipboard->setText(text);
    }
    if (!button) {
        return;
    }
    if (!button->property(kOwnText).isValid()) {
        button->setProperty(kOwnText, button->text());
    }
    const int generation = button->property("corvexCopyGeneration").toInt() + 1;
    button->setProperty("corvexCopyGeneration", generation);
    button->setText(Lang::text("Common.Copied"));
    QPointer<QPushButton> guard(button);
    QTimer::singleShot(1500, button, [guard, generation] {
        // Only the last press restores; an earlier one's timer would cut its
        // 1500 ms short.
        if (!guard || guard->property("corvexCopyGeneration").toInt() != generation) {
            return;
        }
        guard->setText(guard->property(kOwnText).toString());
        guard->setProperty(kOwnText, QVariant());
    });
}
