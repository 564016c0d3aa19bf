// A small application of its own for the end-to-end tests: one window that starts a real XDND drag
// of a file (and its path as text) when the left button is pressed on it and the pointer moves.
// It prints "ready X Y" (the window's centre in global coordinates) once it is on screen,
// "drag action N" whenever the window under the pointer accepts another action (1: a copy), and
// "drag finished N" (the drop action) when a drag ends.
//
// usage: vyo_shake_source FILE [LEFT TOP]

#include <QApplication>
#include <QDrag>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QTimer>
#include <QUrl>
#include <QWidget>

#include <cstdio>

namespace {

class DragSource : public QWidget
{
public:
    explicit DragSource(const QString &file)
        : m_file(file)
    {
        setWindowTitle(QStringLiteral("vyo-shake-source"));
        resize(240, 160);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), QColor(70, 140, 90));
        painter.drawText(rect(), Qt::AlignCenter, QStringLiteral("drag me"));
        if (!m_announced) {
            m_announced = true;
            // Announce once the window has been painted, i.e. mapped where the window manager put
            // it; a moment later, so that the window manager has finished placing it.
            QTimer::singleShot(150, this, [this] {
                const QPoint centre = mapToGlobal(rect().center());
                std::printf("ready %d %d\n", centre.x(), centre.y());
                std::fflush(stdout);
            });
        }
    }
    void mousePressEvent(QMouseEvent *event) override
    {
        m_pressed = event->button() == Qt::LeftButton;
        m_pressPosition = event->position().toPoint();
    }
    void mouseReleaseEvent(QMouseEvent *) override { m_pressed = false; }
    void mouseMoveEvent(QMouseEvent *event) override
    {
        if (!m_pressed || (event->position().toPoint() - m_pressPosition).manhattanLength() <
                              QApplication::startDragDistance())
            return;
        m_pressed = false;
        auto *data = new QMimeData;
        data->setUrls({QUrl::fromLocalFile(m_file)});
        data->setText(m_file);
        auto *drag = new QDrag(this);
        drag->setMimeData(data);
        QObject::connect(drag, &QDrag::actionChanged, [](Qt::DropAction action) {
            std::printf("drag action %d\n", int(action));
            std::fflush(stdout);
        });
        std::printf("drag started\n");
        std::fflush(stdout);
        const Qt::DropAction action = drag->exec(Qt::CopyAction | Qt::MoveAction, Qt::CopyAction);
        std::printf("drag finished %d\n", int(action));
        std::fflush(stdout);
    }

private:
    QString m_file;
    bool m_pressed = false;
    bool m_announced = false;
    QPoint m_pressPosition;
};

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    // The window class the exclusion list names.
    QApplication::setApplicationName(QStringLiteral("vyoshakesource"));
    if (argc < 2) {
        std::fprintf(stderr, "usage: vyo_shake_source FILE [LEFT TOP]\n");
        return 2;
    }
    DragSource window(QString::fromLocal8Bit(argv[1]));
    window.move(argc > 3 ? QString::fromLocal8Bit(argv[2]).toInt() : 100,
                argc > 3 ? QString::fromLocal8Bit(argv[3]).toInt() : 300);
    window.show();
    // Never outlives a test that forgot it.
    QTimer::singleShot(120000, &app, &QApplication::quit);
    return app.exec();
}
