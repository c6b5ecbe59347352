#pragma once

#include <QString>

class QPushButton;

// Puts `text` on the clipboard; the button reads "Common.Copied" for 1500 ms
// and then its own text again (a second press meanwhile keeps that text).
void copyWithFeedback(QPushButton* button, const QString& text);
