#include "helperfixture.h"

#include "buildpaths.h"
#include "helperprocess.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

HelperFixture::HelperFixture(const QString &scratchTemplate)
    : m_dir(scratchTemplate.isEmpty()
                ? QDir::tempPath() + QLatin1Char('/') + QCoreApplication::applicationName() + QStringLiteral("-XXXXXX")
                : scratchTemplate)
{ }

HelperFixture::Outcome HelperFixture::start(Tools tools, QString *why)
{
    if (!QFileInfo(BuildPaths::helper()).isExecutable()) {
        *why = QStringLiteral("the helper has not been built");
        return Broken;
    }
    if (!FakeUDisks2::isAvailable(why))
        return Unavailable;
    if (QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty()) {
        *why = QStringLiteral("dbus-daemon is not installed");
        return Unavailable;
    }
    if (tools == NeedsXz && QStandardPaths::findExecutable(QStringLiteral("xz")).isEmpty()) {
        *why = QStringLiteral("xz (xz-utils) is needed to make the compressed images");
        return Unavailable;
    }
    if (!m_bus.start()) {
        *why = m_bus.errorString();
        return Broken;
    }
    if (!m_dir.isValid()) {
        *why = QStringLiteral("cannot create the scratch folder: ") + m_dir.errorString();
        return Broken;
    }
    return Ready;
}

bool HelperFixture::startFake(const QString &deviceFile, QJsonObject targetKeys)
{
    targetKeys.insert(QStringLiteral("drive"), FakeUDisks2::drivePath(QStringLiteral("d1")));
    targetKeys.insert(QStringLiteral("open"), QJsonObject { { QStringLiteral("file"), deviceFile } });
    return m_fake.start({ { QStringLiteral("blocks"), QJsonObject { { target(), targetKeys } } } });
}

QString HelperFixture::target()
{
    return FakeUDisks2::blockPath(QStringLiteral("sdb"));
}
