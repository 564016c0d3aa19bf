// A separate X client for drag-and-drop tests: it starts a real drag of a file, receives drops,
// or just holds the keyboard focus. It prints what happens on standard output, one line each:
//   vyo-test-dndpeer source FILE X Y   a window at X,Y whose press-and-move drags FILE
//   vyo-test-dndpeer target X Y        a window at X,Y that accepts drops with the offered action
//   vyo-test-dndpeer focus X Y         a window at X,Y with a focused text field

#include <QApplication>
#include <QDrag>
#include <QDragEnterEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QMouseEvent>
#include <QTextStream>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>
#include <QWidget>

#include <cstdio>

namespace {

void say(const QString &line)
{
    std::fputs(qPrintable(line + u'\n'), stdout);
    std::fflush(stdout);
}

QString actionName(Qt::DropAction action)
{
    switch (action) {
    case Qt::CopyAction:
        return QStringLiteral("copy");
    case Qt::MoveAction:
        return QStringLiteral("move");
    case Qt::LinkAction:
        return QStringLiteral("link");
    default:
        return QStringLiteral("none");
    }
}

class Peer : public QWidget
{
public:
    Peer(QString mode, QString file)
        : m_mode(std::move(mode))
        , m_file(std::move(file))
    {
        setWindowTitle(QStringLiteral("vyo-test-dndpeer ") + m_mode);
        setAcceptDrops(m_mode == QLatin1String("target"));
        if (m_mode == QLatin1String("focus")) {
            auto *layout = new QVBoxLayout(this);
            m_field = new QLineEdit(this);
            layout->addWidget(m_field);
        }
    }

    void announce()
    {
        if (m_field) {
            activateWindow();
            m_field->setFocus();
        }
        const QRect frame(mapToGlobal(QPoint(0, 0)), size());
        say(QStringLiteral("READY %1 %2 %3 %4 %5")
                .arg(frame.x())
                .arg(frame.y())
                .arg(frame.width())
                .arg(frame.height())
                .arg(winId()));
    }

protected:
    void mousePressEvent(QMouseEvent *event) override { m_press = event->position().toPoint(); }

    void mouseMoveEvent(QMouseEvent *event) override
    {
        if (m_mode != QLatin1String("source") || m_press.isNull() ||
            (event->position().toPoint() - m_press).manhattanLength() < 4)
            return;
        m_press = {};
        auto *data = new QMimeData;
        data->setUrls({QUrl::fromLocalFile(m_file)});
        auto *drag = new QDrag(this);
        drag->setMimeData(data);
        const Qt::DropAction result = drag->exec(Qt::CopyAction | Qt::MoveAction);
        say(QStringLiteral("DRAGRESULT ") + actionName(result));
    }

    void dragEnterEvent(QDragEnterEvent *event) override { event->acceptProposedAction(); }
    void dragMoveEvent(QDragMoveEvent *event) override { event->acceptProposedAction(); }

    void dropEvent(QDropEvent *event) override
    {
        event->acceptProposedAction();
        QStringList urls;
        for (const QUrl &url : event->mimeData()->urls())
            urls.append(url.toString());
        say(QStringLiteral("DROP %1 %2 %3")
                .arg(actionName(event->dropAction()), urls.join(u','),
                     event->mimeData()->text().replace(u'\n', u'|')));
    }

private:
    QString m_mode;
    QString m_file;
    QPoint m_press;
    QLineEdit *m_field = nullptr;
};

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 4)
        return 2;
    const QString mode = args[1];
    const bool source = mode == QLatin1String("source");
    const QString file = source ? args[2] : QString();
    const int x = args[source ? 3 : 2].toInt();
    const int y = args[source ? 4 : 3].toInt();
    Peer peer(mode, file);
    peer.setGeometry(x, y, 300, 220);
    peer.show();
    QTimer::singleShot(300, &peer, [&peer] { peer.announce(); });
    return app.exec();
}
