#pragma once

#include <QString>

class QFrame;
class QLabel;
class QWidget;

// Widgets styled through the dock's stylesheet, which keys on the dynamic
// properties "role", "state", "side" and "flash".

// A word-wrapped label; `role` set when not empty.
QLabel* makeLabel(const QString& text, const QString& role = QString(), QWidget* parent = nullptr);
// A frame with the role "box".
QFrame* makeBox(QWidget* parent = nullptr);

// Set a style property and re-polish the widget, only when the value changes,
// so an unchanged refresh does no style work.
void setStyleProperty(QWidget* widget, const char* name, const QString& value);
inline void setRole(QWidget* widget, const QString& role) {
    setStyleProperty(widget, "role", role);
}
inline void setState(QWidget* widget, const QString& state) {
    setStyleProperty(widget, "state", state);
}
// Hide or show without touching the widget when nothing changes.
void setShown(QWidget* widget, bool shown);
// Set a label's text only when it differs (a QLabel relayouts on every set).
void setLabelText(QLabel* label, const QString& text);
