#pragma once

#include <QLayout>
#include <QList>

// Places its items left to right and wraps onto a new line when the next one
// would cross the right edge, so rows of buttons never force the narrow dock
// wider. Owns its items.
class FlowLayout : public QLayout {
public:
    explicit FlowLayout(QWidget* parent = nullptr, int hSpacing = 6, int vSpacing = 6);
    ~FlowLayout() override;

    void addItem(QLayoutItem* item) override;
    QLayoutItem* itemAt(int index) const override;
    QLayoutItem* takeAt(int index) override;
    int count() const override;
    QSize sizeHint() const override;
    QSize minimumSize() const override;
    Qt::Orientations expandingDirections() const override;
    void setGeometry(const QRect& rect) override;
    bool hasHeightForWidth() const override;
    int heightForWidth(int width) const override;

private:
    // Places the items in `rect` (or only measures) and returns the height used.
    int doLayout(const QRect& rect, bool measureOnly) const;

    QList<QLayoutItem*> items_;
    int hSpacing_;
    int vSpacing_;
};
