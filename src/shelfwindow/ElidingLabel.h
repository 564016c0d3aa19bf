#pragma once

// A one-line label that shows as much of its text as fits and ends it with "…" when it is cut.
// It asks for room for the whole text and makes do with less; text() stays the whole text.

#include <QLabel>

namespace vyo {

class ElidingLabel : public QLabel
{
    Q_OBJECT
public:
    explicit ElidingLabel(QWidget *parent = nullptr);

    QSize minimumSizeHint() const override;
    // The text as it shows at the current width.
    QString shownText() const;

protected:
    void paintEvent(QPaintEvent *event) override;
};

} // namespace vyo
