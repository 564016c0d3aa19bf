#pragma once

// Draws a text as a QR code (error correction M) on a white card with rounded corners: every
// module is a sharp square of whole pixels, with a white margin around the code that cameras need
// to find it.

#include <QImage>
#include <QString>
#include <QWidget>

namespace vyo {

class QRCodeView : public QWidget
{
    Q_OBJECT
public:
    explicit QRCodeView(QWidget *parent = nullptr);

    const QString &text() const { return m_text; }
    void setText(const QString &text);

    // The code of the text's UTF-8 bytes, one pixel per module (black on white, no margin); a
    // null image when the text cannot be encoded.
    static QImage encode(const QString &text);

    // The smallest white margin around the code, in modules.
    static constexpr int quietModules = 2;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_text;
    QImage m_code;
};

} // namespace vyo
