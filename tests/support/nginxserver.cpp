#include "nginxserver.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

NginxServer::NginxServer(Scheme scheme)
    : m_scheme(scheme)
{ }

NginxServer::~NginxServer()
{
    stop();
}

QString NginxServer::program()
{
    return QStringLiteral("/usr/sbin/nginx");
}

QString NginxServer::root() const
{
    return m_dir.filePath(QStringLiteral("root"));
}

QUrl NginxServer::url(const QString &path) const
{
    QUrl url;
    url.setScheme(m_scheme == Https ? QStringLiteral("https") : QStringLiteral("http"));
    url.setHost(QStringLiteral("127.0.0.1"));
    url.setPort(m_port);
    url.setPath(path.startsWith(QLatin1Char('/')) ? path : QLatin1Char('/') + path);
    return url;
}

static quint16 freePort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    return probe.serverPort();
}

bool NginxServer::makeCertificate()
{
    QProcess openssl;
    openssl.start(QStringLiteral("openssl"),
                  { QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
                    QStringLiteral("rsa:2048"), QStringLiteral("-nodes"), QStringLiteral("-days"), QStringLiteral("1"),
                    QStringLiteral("-subj"), QStringLiteral("/CN=127.0.0.1"), QStringLiteral("-keyout"),
                    m_dir.filePath(QStringLiteral("key.pem")), QStringLiteral("-out"),
                    m_dir.filePath(QStringLiteral("cert.pem")) });
    if (!openssl.waitForFinished(60000) || openssl.exitStatus() != QProcess::NormalExit || openssl.exitCode() != 0) {
        m_errorString = QStringLiteral("openssl could not make a certificate: %1 %2")
                            .arg(openssl.errorString(), QString::fromLocal8Bit(openssl.readAllStandardError()));
        return false;
    }
    return true;
}

bool NginxServer::start()
{
    if (!QFileInfo(program()).isExecutable()) {
        m_errorString = QStringLiteral("%1 is not installed (package nginx-light)").arg(program());
        return false;
    }
    if (!m_dir.isValid()) {
        m_errorString = QStringLiteral("no temporary folder");
        return false;
    }
    QDir dir(m_dir.path());
    for (const char *sub : { "root/slow", "logs", "temp" })
        dir.mkpath(QLatin1String(sub));
    if (m_scheme == Https && !makeCertificate())
        return false;

    m_port = freePort();
    const QString base = m_dir.path();
    QString listen = QStringLiteral("listen 127.0.0.1:%1;").arg(m_port);
    if (m_scheme == Https) {
        listen = QStringLiteral("listen 127.0.0.1:%1 ssl;\n        ssl_certificate %2/cert.pem;\n        "
                                "ssl_certificate_key %2/key.pem;")
                     .arg(m_port)
                     .arg(base);
    }
    const QString config = QStringLiteral(R"(daemon off;
master_process off;
worker_processes 1;
pid %1/nginx.pid;
error_log %1/logs/error.log;
events { worker_connections 64; }
http {
    client_body_temp_path %1/temp/body;
    proxy_temp_path %1/temp/proxy;
    fastcgi_temp_path %1/temp/fastcgi;
    uwsgi_temp_path %1/temp/uwsgi;
    scgi_temp_path %1/temp/scgi;
    default_type application/octet-stream;
    sendfile on;
    log_format requests "$status\t$request_uri\t$http_range\t$http_user_agent";
    access_log %1/logs/access.log requests;
    server {
        %2
        root %1/root;
        location /slow/ { limit_rate %3; }
    }
}
)")
                               .arg(base, listen)
                               .arg(slowRate);
    QFile file(dir.filePath(QStringLiteral("nginx.conf")));
    if (!file.open(QIODevice::WriteOnly) || file.write(config.toUtf8()) < 0) {
        m_errorString = QStringLiteral("cannot write the nginx configuration");
        return false;
    }
    file.close();

    m_nginx.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_nginx.start(program(),
                  { QStringLiteral("-p"), base, QStringLiteral("-e"), base + QStringLiteral("/logs/error.log"),
                    QStringLiteral("-c"), file.fileName() });
    if (!m_nginx.waitForStarted(10000)) {
        m_errorString = QStringLiteral("nginx did not start: %1").arg(m_nginx.errorString());
        return false;
    }
    return waitUntilListening();
}

bool NginxServer::waitUntilListening()
{
    QDeadlineTimer deadline(10000);
    while (!deadline.hasExpired()) {
        if (m_nginx.state() != QProcess::Running) {
            QFile log(m_dir.filePath(QStringLiteral("logs/error.log")));
            log.open(QIODevice::ReadOnly);
            m_errorString = QStringLiteral("nginx ended: %1").arg(QString::fromLocal8Bit(log.readAll()));
            return false;
        }
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, m_port);
        if (socket.waitForConnected(500))
            return true;
        QThread::msleep(50);
    }
    m_errorString = QStringLiteral("nginx did not listen on port %1").arg(m_port);
    return false;
}

void NginxServer::stop()
{
    if (m_nginx.state() == QProcess::NotRunning)
        return;
    m_nginx.terminate();
    if (!m_nginx.waitForFinished(5000)) {
        m_nginx.kill();
        m_nginx.waitForFinished(5000);
    }
}

QList<NginxServer::Request> NginxServer::requests() const
{
    QList<Request> result;
    QFile log(m_dir.filePath(QStringLiteral("logs/access.log")));
    if (!log.open(QIODevice::ReadOnly))
        return result;
    while (!log.atEnd()) {
        const QStringList fields = QString::fromUtf8(log.readLine()).chopped(1).split(QLatin1Char('\t'));
        if (fields.size() < 4)
            continue;
        result.append({ fields.at(1), fields.at(2), fields.at(3), fields.at(0).toInt() });
    }
    return result;
}

bool NginxServer::serveFeed(const QString &feed, const QString &as, qint64 imageSize)
{
    QFile source(QStringLiteral(FLASHWRIGHT_TEST_SUPPORT_DIR "/feeds/") + feed);
    if (!source.open(QIODevice::ReadOnly))
        return false;
    const QString images = url(QStringLiteral("/slow/images/")).toString();
    QJsonArray entries
        = QJsonDocument::fromJson(source.readAll().replace("https://images.zelvan.example/", images.toUtf8())).array();
    QCryptographicHash zeros(QCryptographicHash::Md5);
    const QByteArray piece(qMin<qint64>(imageSize, 1 << 20), '\0');
    for (qint64 left = imageSize; left > 0; left -= piece.size())
        zeros.addData(QByteArrayView(piece).first(qMin<qint64>(left, piece.size())));
    const QString digest = QString::fromLatin1(zeros.result().toHex());
    for (auto entry = entries.begin(); entry != entries.end(); ++entry) {
        QJsonObject object = entry->toObject();
        const QString link = object.value(QStringLiteral("LINK")).toString();
        if (!link.startsWith(images))
            continue;
        if (!object.contains(QStringLiteral("MD5"))) {
            object.insert(QStringLiteral("MD5"), digest);
            *entry = object;
        }
        const QString path = root() + QStringLiteral("/slow/images/") + link.mid(images.size());
        QFile image(path);
        if (!image.exists()
            && (!QDir().mkpath(QFileInfo(path).path()) || !image.open(QIODevice::WriteOnly)
                || !image.resize(imageSize)))
            return false;
    }
    QFile file(root() + QStringLiteral("/feeds/") + as);
    return QDir(root()).mkpath(QStringLiteral("feeds")) && file.open(QIODevice::WriteOnly)
        && file.write(QJsonDocument(entries).toJson()) > 0;
}
