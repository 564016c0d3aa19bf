#pragma once

// A small HTTP server on 127.0.0.1 for tests of downloads.

#include <QHash>
#include <QObject>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrl>

namespace vyo::test {

// Answers GET requests from a table of paths; a path without an answer (or with an empty status)
// never gets one.
class LoopbackHttpServer : public QObject
{
public:
    struct Answer
    {
        // `declaredLength` is the Content-Length sent; negative: the body's own length.
        Answer(const QByteArray &body = {}, const QByteArray &status = "200 OK",
               const QByteArray &headers = {}, qint64 declaredLength = -1)
            : body(body)
            , status(status)
            , headers(headers)
            , declaredLength(declaredLength)
        {}
        QByteArray body, status, headers;
        qint64 declaredLength;
    };

    LoopbackHttpServer()
    {
        m_server.listen(QHostAddress::LocalHost);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection()) {
                socket->setParent(this);
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { answer(socket); });
            }
        });
    }
    QUrl url(const QString &path) const
    {
        return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(m_server.serverPort()).arg(path));
    }
    void set(const QByteArray &path, const Answer &answer) { m_answers[path] = answer; }
    int requests = 0;

private:
    void answer(QTcpSocket *socket)
    {
        const QByteArray request = socket->property("request").toByteArray() + socket->readAll();
        socket->setProperty("request", request);
        if (!request.contains("\r\n\r\n"))
            return;
        ++requests;
        const Answer answer = m_answers.value(request.split(' ').value(1), Answer({}, {}));
        if (answer.status.isEmpty())
            return;
        const qint64 length =
            answer.declaredLength < 0 ? answer.body.size() : answer.declaredLength;
        socket->write("HTTP/1.1 " + answer.status +
                      "\r\nContent-Length: " + QByteArray::number(length) +
                      "\r\nConnection: close\r\n" + answer.headers + "\r\n" + answer.body);
        socket->disconnectFromHost();
    }

    QTcpServer m_server;
    QHash<QByteArray, Answer> m_answers;
};

} // namespace vyo::test
