#include "fakeudisks2.h"

#include "filecontents.h"
#include "udisks2names.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QFile>
#include <QJsonDocument>
#include <QTest>

FakeUDisks2::FakeUDisks2()
{
    m_service.process().setProcessChannelMode(QProcess::SeparateChannels);
}

FakeUDisks2::~FakeUDisks2()
{
    stop();
}

bool FakeUDisks2::isAvailable(QString *why)
{
    const QString reason = PythonService::unavailableReason(
        QStringLiteral("import dbus, dbus.mainloop.glib; from gi.repository import GLib"),
        QStringLiteral("python3-dbus and python3-gi are needed for the fake UDisks2 service"));
    if (why)
        *why = reason;
    return reason.isEmpty();
}

QString FakeUDisks2::blockPath(const QString &name)
{
    return Udisks2::blockDevicesPath() + QLatin1Char('/') + name;
}

QString FakeUDisks2::drivePath(const QString &name)
{
    return Udisks2::drivesPath() + QLatin1Char('/') + name;
}

bool FakeUDisks2::start(const QJsonObject &config)
{
    stop();
    if (!m_dir.isValid()) {
        m_errorString = QStringLiteral("cannot create a temporary directory");
        return false;
    }
    if (qEnvironmentVariableIsEmpty("DBUS_SYSTEM_BUS_ADDRESS")) {
        m_errorString = QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS is not set: start a private bus first");
        return false;
    }

    const QString configPath = m_dir.filePath(QStringLiteral("config.json"));
    if (!FileContents::write(configPath, QJsonDocument(config).toJson())) {
        m_errorString = QStringLiteral("cannot write ") + configPath;
        return false;
    }
    m_logPath = m_dir.filePath(QStringLiteral("calls.jsonl"));
    QFile::remove(m_logPath);

    if (!m_service.start({ QStringLiteral(FLASHWRIGHT_TEST_SUPPORT_DIR "/fakeudisks2.py"), configPath, m_logPath })) {
        m_errorString = m_service.errorString();
        return false;
    }
    QProcess &process = m_service.process();
    while (!process.canReadLine()) {
        if (!process.waitForReadyRead(20000)) {
            m_errorString = QStringLiteral("the fake UDisks2 service did not get ready: ")
                + QString::fromLocal8Bit(process.readAllStandardError());
            stop();
            return false;
        }
    }
    const QByteArray line = process.readLine().trimmed();
    if (line != "READY") {
        m_errorString = QStringLiteral("the fake UDisks2 service said: ") + QString::fromUtf8(line);
        stop();
        return false;
    }
    return true;
}

void FakeUDisks2::stop()
{
    m_service.stop();
}

QList<QJsonObject> FakeUDisks2::calls(const QString &method) const
{
    QList<QJsonObject> result;
    QFile file(m_logPath);
    if (!file.open(QIODevice::ReadOnly))
        return result;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine();
        // A line still being written has no line feed yet; it is read next time.
        if (!line.endsWith('\n'))
            break;
        const QJsonObject call = QJsonDocument::fromJson(line).object();
        if (method.isEmpty() || call.value(QStringLiteral("method")).toString() == method)
            result.append(call);
    }
    return result;
}

QStringList FakeUDisks2::callObjects(const QString &method) const
{
    QStringList objects;
    for (const QJsonObject &call : calls(method))
        objects.append(call.value(QStringLiteral("object")).toString());
    return objects;
}

bool FakeUDisks2::waitForCall(const QString &method, int timeoutMs) const
{
    return QTest::qWaitFor([&] { return !calls(method).isEmpty(); }, timeoutMs);
}

bool FakeUDisks2::control(const QString &method, const QVariantList &arguments, QVariant *result)
{
    QDBusMessage call = QDBusMessage::createMethodCall(Udisks2::service(), Udisks2::rootPath(),
                                                       QStringLiteral("org.flashwright.FakeUDisks2.Control"), method);
    call.setArguments(arguments);
    const QDBusMessage reply = QDBusConnection::systemBus().call(call);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        m_errorString = method + QStringLiteral(": ") + reply.errorMessage();
        return false;
    }
    if (result)
        *result = reply.arguments().value(0);
    return true;
}

bool FakeUDisks2::addObject(const QString &path, const QJsonObject &config)
{
    return control(QStringLiteral("AddObject"),
                   { path, QString::fromUtf8(QJsonDocument(config).toJson(QJsonDocument::Compact)) });
}

bool FakeUDisks2::removeObject(const QString &path)
{
    return control(QStringLiteral("RemoveObject"), { path });
}

bool FakeUDisks2::updateObject(const QString &path, const QJsonObject &changes)
{
    return control(QStringLiteral("UpdateObject"),
                   { path, QString::fromUtf8(QJsonDocument(changes).toJson(QJsonDocument::Compact)) });
}

bool FakeUDisks2::holdManagedObjects(bool hold)
{
    return control(QStringLiteral("HoldManagedObjects"), { hold });
}

int FakeUDisks2::releaseManagedObjects()
{
    QVariant count;
    if (!control(QStringLiteral("ReleaseManagedObjects"), {}, &count))
        return -1;
    return count.toInt();
}
