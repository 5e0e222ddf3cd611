#pragma once

#include <QList>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <QUrl>

// A real nginx of the test's own on a free loopback port, serving files from
// root(), over plain HTTP or over HTTPS with a freshly made self-signed
// certificate (which Qt refuses). Everything it writes stays in a temporary
// folder. Files under root()/slow/ are sent at slowRate bytes per second.
// The access log records each request's Range and User-Agent headers.
class NginxServer
{
public:
    enum Scheme { Http, Https };

    struct Request
    {
        QString uri;
        QString range; // "-" when the request had none
        QString userAgent; // "-" when the request had none
        int status = 0;
    };

    static constexpr int slowRate = 1048576;

    explicit NginxServer(Scheme scheme = Http);
    ~NginxServer();

    NginxServer(const NginxServer &) = delete;
    NginxServer &operator=(const NginxServer &) = delete;

    // False, with errorString() saying why, when nginx is missing or did not come up.
    bool start();
    void stop();

    [[nodiscard]] QString root() const;
    [[nodiscard]] QUrl url(const QString &path) const;
    [[nodiscard]] quint16 port() const { return m_port; }
    // The requests logged so far, oldest first.
    [[nodiscard]] QList<Request> requests() const;
    [[nodiscard]] QString errorString() const { return m_errorString; }

    // A feed of the test feeds (tests/support/feeds) served as /feeds/<as>,
    // its image links pointing here under /slow/images/, so that a download
    // stays on this machine and can be watched and stopped. Each image is a
    // file of imageSize zero bytes (made unless it is there), with the MD5
    // that an image over plain http needs. False when a file cannot be made.
    bool serveFeed(const QString &feed, const QString &as, qint64 imageSize);

    static QString program();

private:
    bool makeCertificate();
    bool waitUntilListening();

    Scheme m_scheme;
    QTemporaryDir m_dir;
    QProcess m_nginx;
    quint16 m_port = 0;
    QString m_errorString;
};
