#include "faultserver.h"

#include <QPointer>
#include <QTcpSocket>

#include <limits>

FaultServer::FaultServer(QObject *parent)
    : QObject(parent)
{
    connect(&m_server, &QTcpServer::newConnection, this, &FaultServer::onConnection);
}

bool FaultServer::start()
{
    return m_server.listen(QHostAddress::LocalHost, 0);
}

QUrl FaultServer::url(const QString &path) const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1/%2").arg(m_server.serverPort()).arg(path));
}

QByteArray FaultServer::header(int index, const QByteArray &name) const
{
    if (index < 0 || index >= m_requests.size())
        return {};
    const QList<QByteArray> lines = m_requests.at(index).split('\n');
    for (const QByteArray &line : lines) {
        const int colon = line.indexOf(':');
        if (colon > 0 && line.left(colon).trimmed().toLower() == name.toLower())
            return line.mid(colon + 1).trimmed();
    }
    return {};
}

QList<int> FaultServer::requestsFor(const QByteArray &path) const
{
    QList<int> result;
    for (int i = 0; i < m_requests.size(); ++i) {
        const QList<QByteArray> words = m_requests.at(i).left(m_requests.at(i).indexOf('\r')).split(' ');
        if (words.size() >= 2 && words.at(1) == path)
            result.append(i);
    }
    return result;
}

void FaultServer::onConnection()
{
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        auto *head = new QByteArray;
        connect(socket, &QObject::destroyed, this, [head]() { delete head; });
        connect(socket, &QTcpSocket::readyRead, this, [this, socket, head]() {
            if (head->contains("\r\n\r\n"))
                return;
            head->append(socket->readAll());
            if (head->contains("\r\n\r\n")) {
                m_requests.append(head->left(head->indexOf("\r\n\r\n")));
                answer(socket);
            }
        });
    }
}

static QByteArray statusLine(int status)
{
    switch (status) {
    case 200:
        return "HTTP/1.1 200 OK\r\n";
    case 404:
        return "HTTP/1.1 404 Not Found\r\n";
    case 206:
        return "HTTP/1.1 206 Partial Content\r\n";
    case 416:
        return "HTTP/1.1 416 Range Not Satisfiable\r\n";
    case 503:
        return "HTTP/1.1 503 Service Unavailable\r\n";
    default:
        return "HTTP/1.1 " + QByteArray::number(status) + " Failure\r\n";
    }
}

void FaultServer::answer(QTcpSocket *socket)
{
    if (m_mode == Ranges || m_mode == HugeLength) {
        answerRange(socket);
        return;
    }
    if (m_mode == Endless) {
        socket->write(statusLine(200) + "Content-Type: application/octet-stream\r\nConnection: close\r\n\r\n");
        sendEndlessly(socket);
        return;
    }
    QByteArray body = m_body;
    int status = 200;
    if (m_mode == Status) {
        status = m_status;
        body = "<html><body>failure</body></html>\n";
    }
    socket->write(statusLine(status) + "Content-Type: application/octet-stream\r\nContent-Length: "
                  + QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n");

    switch (m_mode) {
    case Stall:
        socket->write(body.left(m_limit));
        break;
    case Cut:
        socket->write(body.left(m_limit));
        socket->flush();
        socket->disconnectFromHost();
        break;
    case IgnoreRange:
    case Status:
        socket->write(body);
        socket->disconnectFromHost();
        break;
    case Trickle: {
        auto *timer = new QTimer(socket);
        auto *sent = new qint64(0);
        connect(timer, &QObject::destroyed, [sent]() { delete sent; });
        QPointer<QTcpSocket> guard(socket);
        connect(timer, &QTimer::timeout, socket, [this, guard, timer, sent, body]() {
            if (!guard)
                return;
            guard->write(body.mid(*sent, m_tricklePiece));
            *sent += m_tricklePiece;
            if (*sent >= body.size()) {
                timer->stop();
                guard->disconnectFromHost();
            }
        });
        timer->start(trickleInterval);
        break;
    }
    case Endless:
    case Ranges:
    case HugeLength:
        break;
    }
}

void FaultServer::answerRange(QTcpSocket *socket)
{
    const QByteArray range = header(int(m_requests.size()) - 1, "Range");
    const qint64 size = m_body.size();
    const qint64 asked = range.startsWith("bytes=") ? range.mid(6).chopped(1).toLongLong() : 0;
    QByteArray head;
    QByteArray body;
    if (asked >= size) {
        head = statusLine(416) + "Content-Range: bytes */" + QByteArray::number(size) + "\r\n";
    } else {
        const qint64 start = qBound(qint64(0), asked + m_rangeShift, size - 1);
        body = m_body.mid(start);
        head = statusLine(206) + "Content-Range: bytes " + QByteArray::number(start) + '-'
            + QByteArray::number(size - 1) + '/' + QByteArray::number(size) + "\r\n";
    }
    const qint64 length = m_mode == HugeLength && !body.isEmpty() ? std::numeric_limits<qint64>::max() - 10 : body.size();
    socket->write(head + "Content-Length: " + QByteArray::number(length) + "\r\nConnection: close\r\n\r\n" + body);
    socket->disconnectFromHost();
}

void FaultServer::sendEndlessly(QTcpSocket *socket)
{
    // A few MiB ahead of the client, however long it reads.
    const auto more = [this, socket]() {
        while (!m_body.isEmpty() && socket->state() == QAbstractSocket::ConnectedState
               && socket->bytesToWrite() < 4 * 1048576)
            socket->write(m_body);
    };
    connect(socket, &QTcpSocket::bytesWritten, socket, more);
    more();
}
