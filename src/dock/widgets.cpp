#include "widgets.h"

#include <QFrame>
#include <QLabel>
#include <QStyle>
#include <QVariant>

QLabel* makeLabel(const QString& text, const QString& role, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setWordWrap(true);
    if (!role.isEmpty()) {
        label->setProperty("role", role);
    }
    return label;
}

QFrame* makeBox(QWidget* parent) {
    auto* box = new QFrame(parent);
    box->setProperty("role", QStringLiteral("box"));
    return box;
}

void setStyleProperty(QWidget* widget, const char* name, const QString& value) {
    if (!widget || widget->property(name).toString() == value) {
        return;
    }
    widget->setProperty(name, value);
    widget->style()->unpolish(widget);
    widget->style()->polish(widget);
    widget->update();
}

void setShown(QWidget* widget, bool shown) {
    if (widget && widget->isHidden() == shown) {
        widget->setVisible(shown);
    }
}

void setLabelText(QLabel* label, const QString& text) {
    if (label && label->text() != text) {
        label->setText(text);
    }
}
