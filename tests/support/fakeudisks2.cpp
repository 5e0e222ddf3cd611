#include "fakeudisks2.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QStandardPaths>
#include <QTest>

FakeUDisks2::FakeUDisks2()
{
    m_process.setProcessChannelMode(QProcess::SeparateChannels);
}

FakeUDisks2::~FakeUDisks2()
{
    stop();
}

QString FakeUDisks2::python()
{
    // The distribution's interpreter carries python3-dbus; one earlier on PATH
    // (a virtual environment, pyenv) often does not.
    if (QFileInfo::exists(QStringLiteral("/usr/bin/python3")))
        return QStringLiteral("/usr/bin/python3");
    return QStandardPaths::findExecutable(QStringLiteral("python3"));
}

bool FakeUDisks2::isAvailable(QString *why)
{
    const QString interpreter = python();
    if (interpreter.isEmpty()) {
        if (why)
            *why = QStringLiteral("python3 is not installed");
        return false;
    }
    QProcess probe;
    probe.start(
        interpreter,
        { QStringLiteral("-c"), QStringLiteral("import dbus, dbus.mainloop.glib; from gi.repository import GLib") });
    if (!probe.waitForFinished(20000) || probe.exitStatus() != QProcess::NormalExit || probe.exitCode() != 0) {
        if (why)
            *why = QStringLiteral("python3-dbus and python3-gi are needed for the fake UDisks2 service");
        return false;
    }
    return true;
}

QString FakeUDisks2::blockPath(const QString &name)
{
    return QStringLiteral("/org/freedesktop/UDisks2/block_devices/") + name;
}

QString FakeUDisks2::drivePath(const QString &name)
{
    return QStringLiteral("/org/freedesktop/UDisks2/drives/") + name;
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
    QFile file(configPath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        m_errorString = file.errorString();
        return false;
    }
    file.write(QJsonDocument(config).toJson());
    file.close();
    m_logPath = m_dir.filePath(QStringLiteral("calls.jsonl"));
    QFile::remove(m_logPath);

    m_process.start(python(),
                    { QStringLiteral(FLASHWRIGHT_TEST_SUPPORT_DIR "/fakeudisks2.py"), configPath, m_logPath });
    if (!m_process.waitForStarted(10000)) {
        m_errorString = QStringLiteral("the fake UDisks2 service did not start: ") + m_process.errorString();
        return false;
    }
    while (!m_process.canReadLine()) {
        if (!m_process.waitForReadyRead(20000)) {
            m_errorString = QStringLiteral("the fake UDisks2 service did not get ready: ")
                + QString::fromLocal8Bit(m_process.readAllStandardError());
            stop();
            return false;
        }
    }
    const QByteArray line = m_process.readLine().trimmed();
    if (line != "READY") {
        m_errorString = QStringLiteral("the fake UDisks2 service said: ") + QString::fromUtf8(line);
        stop();
        return false;
    }
    return true;
}

void FakeUDisks2::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(5000)) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
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
    QDeadlineTimer deadline(timeoutMs);
    while (calls(method).isEmpty()) {
        if (deadline.hasExpired())
            return false;
        QTest::qWait(20);
    }
    return true;
}
