// A separate X client for drag-and-drop tests: it drags a file, receives drops or just holds the
// focus. It prints what happens on standard output, one line each:
//   vyo-test-dndpeer target X Y        a window at X,Y that accepts drops with the offered action
//   vyo-test-dndpeer focus X Y         a window at X,Y that makes itself the active window
//   vyo-test-dndpeer source X Y FILE   a window at X,Y whose press-and-move drags FILE

#include <QApplication>
#include <QDrag>
#include <QDragEnterEvent>
#include <QHash>
#include <QMimeData>
#include <QTimer>
#include <QUrl>
#include <QWidget>
#include <QWindow>

#include <cstdio>
#include <utility>

namespace {

void say(const QString &line)
{
    std::fputs(qPrintable(line + u'\n'), stdout);
    std::fflush(stdout);
}

const QHash<int, QString> actionNames{{Qt::CopyAction, "copy"}, {Qt::MoveAction, "move"}};

class Peer : public QWidget
{
public:
    Peer(QString mode, QString file)
        : m_mode(std::move(mode))
        , m_file(std::move(file))
    {
        setWindowTitle(QStringLiteral("vyo-test-dndpeer ") + m_mode);
        setAcceptDrops(m_mode == QLatin1String("target"));
    }

    void announce()
    {
        if (m_mode == QLatin1String("focus"))
            activateWindow();
        const QPoint origin = mapToGlobal(QPoint(0, 0));
        say(QString::asprintf("READY %d %d %d %d %llu", origin.x(), origin.y(), width(), height(),
                              qulonglong(winId())));
    }

protected:
    void mousePressEvent(QMouseEvent *) override { m_pressed = !m_file.isEmpty(); }

    void mouseMoveEvent(QMouseEvent *) override
    {
        if (!std::exchange(m_pressed, false))
            return;
        auto *drag = new QDrag(this);
        auto *data = new QMimeData;
        data->setUrls({QUrl::fromLocalFile(m_file)});
        drag->setMimeData(data);
        say(QStringLiteral("DRAGGED ") +
            actionNames.value(drag->exec(Qt::CopyAction | Qt::MoveAction), "none"));
    }

    void dragEnterEvent(QDragEnterEvent *event) override { event->acceptProposedAction(); }
    void dragMoveEvent(QDragMoveEvent *event) override { event->acceptProposedAction(); }

    void dropEvent(QDropEvent *event) override
    {
        event->acceptProposedAction();
        QStringList urls;
        for (const QUrl &url : event->mimeData()->urls())
            urls.append(url.toString());
        say(QStringLiteral("DROP %1 %2")
                .arg(actionNames.value(event->dropAction(), "none"), urls.join(u',')));
    }

private:
    QString m_mode;
    QString m_file;
    bool m_pressed = false;
};

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 4)
        return 2;
    Peer peer(args[1], args.value(4));
    peer.setGeometry(args[2].toInt(), args[3].toInt(), 300, 220);
    peer.show();
    // Announced once the window manager has placed the window and it shows.
    QTimer exposed;
    exposed.callOnTimeout([&] {
        if (peer.windowHandle()->isExposed()) {
            exposed.stop();
            peer.announce();
        }
    });
    exposed.start(20);
    return app.exec();
}
