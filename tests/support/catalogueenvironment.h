#pragma once

#include "download.h"
#include "downloadmanager.h"
#include "options.h"
#include "testlocale.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

// What every catalogue test shares: a home (and so a downloads folder) of its
// own, a pinned locale, a feed address that reaches nobody unless the test
// serves one, and feed entries built the way the catalogue expects them.
namespace CatalogueEnvironment {

// A loopback port nobody listens on: managers that a test makes fetch from
// it and fail at once, without a name lookup or traffic off the machine.
inline QString unusedFeedUrl()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return QStringLiteral("http://127.0.0.1:%1/feed.json").arg(probe.serverPort());
}

inline bool setUp(QTemporaryDir &home)
{
    QStandardPaths::setTestModeEnabled(true);
    TestLocale::pinEnglish();
    if (!home.isValid())
        return false;
    // The downloads folder is not redirected by the test mode; a home of our own is.
    qputenv("HOME", QFile::encodeName(home.path()));
    options.releasesUrl = unusedFeedUrl();
    return true;
}

// Page fetches report to the manager that started them: a test lets them end
// before it deletes the manager.
inline bool fetchesEnded(int timeout = 30000)
{
    return QTest::qWaitFor(
        [] {
            DownloadManager *downloads = DownloadManager::instance();
            const QList<Download *> all = downloads->findChildren<Download *>(Qt::FindDirectChildrenOnly);
            for (const Download *download : all) {
                if (download != downloads->currentDownload())
                    return false;
            }
            return true;
        },
        timeout);
}

inline void deleteLaterNow()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// One feed entry; fields left empty are left out of the object.
struct Entry
{
    QString subvariant;
    QString arch = QStringLiteral("x86_64");
    QString version = QStringLiteral("8");
    QString link;
    QString variant = QStringLiteral("zv80");
    QString edition = QStringLiteral("standart");
    QString name;
    QString md5;
    QString size;
    QString releaseDate;

    [[nodiscard]] QJsonObject toObject() const
    {
        QJsonObject object;
        const auto put = [&object](const char *key, const QString &value) {
            if (!value.isEmpty())
                object.insert(QLatin1String(key), value);
        };
        put("SUBVARIANT", subvariant);
        put("ARCH", arch);
        put("VERSION", version);
        put("LINK",
            link.isEmpty() ? QStringLiteral("https://images.example/%1/%2/%3.iso").arg(subvariant, version, arch)
                           : link);
        put("VARIANT", variant);
        put("EDITION", edition);
        put("NAME", name.isEmpty() ? subvariant : name);
        put("MD5", md5);
        put("SIZE", size);
        put("releaseDate", releaseDate);
        return object;
    }
};

inline Entry entry(const QString &subvariant, const QString &arch = QStringLiteral("x86_64"),
                   const QString &version = QStringLiteral("8"), const QString &edition = QStringLiteral("standart"),
                   const QString &line = QStringLiteral("zv80"))
{
    Entry result;
    result.subvariant = subvariant;
    result.arch = arch;
    result.version = version;
    result.edition = edition;
    result.variant = line;
    return result;
}

inline QString feed(const QList<QJsonObject> &objects)
{
    QJsonArray array;
    for (const QJsonObject &object : objects)
        array.append(object);
    return QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Compact));
}

inline QString feed(const QList<Entry> &entries)
{
    QList<QJsonObject> objects;
    for (const Entry &entry : entries)
        objects.append(entry.toObject());
    return feed(objects);
}

} // namespace CatalogueEnvironment
