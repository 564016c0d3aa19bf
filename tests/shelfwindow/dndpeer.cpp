// A separate X client for drag-and-drop tests: it receives drops or just holds the focus. It
// prints what happens on standard output, one line each:
//   vyo-test-dndpeer target X Y   a window at X,Y that accepts drops with the offered action
//   vyo-test-dndpeer focus X Y    a window at X,Y that makes itself the active window

#include <QApplication>
#include <QDragEnterEvent>
#include <QHash>
#include <QMimeData>
#include <QTimer>
#include <QUrl>
#include <QWidget>
#include <QWindow>

#include <cstdio>

namespace {

void say(const QString &line)
{
    std::fputs(qPrintable(line + u'\n'), stdout);
    std::fflush(stdout);
}

class Peer : public QWidget
{
public:
    explicit Peer(QString mode)
        : m_mode(std::move(mode))
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
    void dragEnterEvent(QDragEnterEvent *event) override { event->acceptProposedAction(); }
    void dragMoveEvent(QDragMoveEvent *event) override { event->acceptProposedAction(); }

    void dropEvent(QDropEvent *event) override
    {
        event->acceptProposedAction();
        const QHash<int, QString> names{{Qt::CopyAction, "copy"}, {Qt::MoveAction, "move"}};
        QStringList urls;
        for (const QUrl &url : event->mimeData()->urls())
            urls.append(url.toString());
        say(QStringLiteral("DROP %1 %2")
                .arg(names.value(event->dropAction(), "none"), urls.join(u',')));
    }

private:
    QString m_mode;
};

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 4)
        return 2;
    Peer peer(args[1]);
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
