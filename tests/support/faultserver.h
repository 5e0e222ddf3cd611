#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QTcpServer>
#include <QTimer>
#include <QUrl>

class QTcpSocket;

// A deliberately misbehaving HTTP server on a loopback port, for the failures
// a real server seldom shows on demand. It runs on the test's own event loop.
// Every mode but Endless answers with Content-Length set to the length of the
// body it sends.
class FaultServer : public QObject
{
    Q_OBJECT

public:
    enum Mode {
        Stall, // headers and the first stallAfter bytes, then silence
        Cut, // headers and the first cutAfter bytes, then the connection closes
        IgnoreRange, // always 200 with the whole body, whatever "Range" asks
        Status, // the status code given by setStatus, with a short body
        Trickle, // the body in small pieces every trickleInterval ms
        Endless, // 200 without Content-Length, the body again and again until the client leaves
        Ranges, // honours "Range" (206, or 416 past the end), starting rangeShift bytes off the asked start
        HugeLength, // as Ranges, but each 206 claims a Content-Length that ends near the largest offset
    };
    Q_ENUM(Mode)

    static constexpr int trickleInterval = 200;

    explicit FaultServer(QObject *parent = nullptr);

    bool start();
    void setMode(Mode mode) { m_mode = mode; }
    void setBody(const QByteArray &body) { m_body = body; }
    void setLimit(qint64 bytes) { m_limit = bytes; } // bytes sent before Stall/Cut
    void setStatus(int status) { m_status = status; }
    void setTricklePiece(int bytes) { m_tricklePiece = bytes; }
    void setRangeShift(qint64 bytes) { m_rangeShift = bytes; }

    [[nodiscard]] QUrl url(const QString &path) const;
    // Raw request heads received so far, oldest first.
    [[nodiscard]] QList<QByteArray> requests() const { return m_requests; }
    // The value of header name in request index, empty when absent.
    [[nodiscard]] QByteArray header(int index, const QByteArray &name) const;
    // Indexes of the requests for path (such as "/x.iso"), oldest first.
    [[nodiscard]] QList<int> requestsFor(const QByteArray &path) const;

private:
    void onConnection();
    void answer(QTcpSocket *socket);
    void answerRange(QTcpSocket *socket);
    void sendEndlessly(QTcpSocket *socket);

    QTcpServer m_server;
    Mode m_mode = Stall;
    QByteArray m_body;
    qint64 m_limit = 0;
    int m_status = 500;
    int m_tricklePiece = 1024;
    qint64 m_rangeShift = 0;
    QList<QByteArray> m_requests;
};
