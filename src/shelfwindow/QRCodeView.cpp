#include "shelfwindow/QRCodeView.h"

#include <QPainter>
#include <QPainterPath>

#include <qrencode.h>

#include <memory>

namespace vyo {

QRCodeView::QRCodeView(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("qrCode"));
    setAccessibleName(QStringLiteral("공유 주소 QR 코드"));
}

void QRCodeView::setText(const QString &text)
{
    if (text == m_text)
        return;
    m_text = text;
    m_code = encode(text);
    update();
}

QImage QRCodeView::encode(const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    if (bytes.isEmpty())
        return QImage();
    const std::unique_ptr<QRcode, decltype(&QRcode_free)> code(
        QRcode_encodeData(int(bytes.size()), reinterpret_cast<const unsigned char *>(bytes.data()),
                          0, QR_ECLEVEL_M),
        &QRcode_free);
    if (!code)
        return QImage();
    const int width = code->width;
    QImage image(width, width, QImage::Format_Grayscale8);
    for (int y = 0; y < width; ++y) {
        uchar *line = image.scanLine(y);
        for (int x = 0; x < width; ++x)
            // The lowest bit of a module's byte says whether it is dark.
            line[x] = code->data[y * width + x] & 1 ? 0 : 255;
    }
    return image;
}

void QRCodeView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath card;
    card.addRoundedRect(QRectF(rect()), 10, 10);
    painter.fillPath(card, Qt::white);
    if (m_code.isNull())
        return;
    // Whole pixels per module, so that every module stays a sharp square; what is left over
    // widens the white margin.
    const int side = std::min(width(), height());
    const int module = std::max(1, side / (m_code.width() + 2 * quietModules));
    const int extent = module * m_code.width();
    const QRect target((width() - extent) / 2, (height() - extent) / 2, extent, extent);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter.drawImage(target, m_code);
}

} // namespace vyo
