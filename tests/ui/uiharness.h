#pragma once

#include "nginxserver.h"

#include <QColor>
#include <QFile>
#include <QFont>
#include <QObject>
#include <QPalette>
#include <QPointer>
#include <QStringList>
#include <QTemporaryDir>
#include <QTranslator>
#include <QUrl>

#include <array>

class QQmlEngine;
class ReleaseManager;

// Sets up what the program's start-up would for the Qt Quick tests: the
// context objects of the pages with the real catalogue, fed from a local
// nginx, and the simulated drives of --testing. The tests reach it as
// `harness` to change what a test is about: the feed and its images, the
// language, the desktop's palette and font, the pace of the simulated drives,
// drives plugged in and pulled out, files of the user's own.
class UiHarness : public QObject
{
    Q_OBJECT

public:
    UiHarness();
    ~UiHarness() override;

    // A catalogue fed from the named file of the test feeds (served by nginx,
    // image links pointing there too), set as the pages' `releases`. A name
    // that is not served gives a catalogue that never becomes ready, until
    // serveFeed() makes it appear.
    Q_INVOKABLE QObject *newCatalogue(const QString &feed);
    Q_INVOKABLE bool serveFeed(const QString &feed, const QString &as);
    // The Russian catalogue for "ru_RU", the English source texts for "".
    Q_INVOKABLE bool setLanguage(const QString &locale);
    Q_INVOKABLE void setWindowColour(const QColor &colour);
    Q_INVOKABLE void setFontPixelSize(int pixelSize);
    // The palette and font the tests started with.
    Q_INVOKABLE void restoreDesktop();
    // What was handed to the desktop's web browser.
    Q_INVOKABLE QStringList openedUrls() const { return m_openedUrls; }
    Q_INVOKABLE QString downloadsFolder() const;
    Q_INVOKABLE bool fileExists(const QString &path) const { return QFile::exists(path); }
    // Empties the downloads folder, so that the next download starts afresh.
    Q_INVOKABLE bool clearDownloads();
    // Every image the feeds link to is served with this many bytes (64 KiB
    // unless told otherwise), at about 1 MiB per second.
    Q_INVOKABLE bool setImageSize(qint64 bytes);
    // A file of the user's own with the given path below a folder of the
    // harness; its URL.
    Q_INVOKABLE QString makeLocalFile(const QString &path, qint64 bytes);
    // An address on the harness's server, and the paths asked of it so far.
    Q_INVOKABLE QString serverUrl(const QString &path) const { return m_server.url(path).toString(); }
    Q_INVOKABLE QStringList requestedPaths() const;

    // The simulated drives' pace, in milliseconds: one write step, a
    // restore, how long a restored drive stays, and how long until the next
    // live drive comes. restoreDriveTimings() brings back the program's own.
    Q_INVOKABLE void setDriveTimings(int writeStep, int restore, int removeAfterRestore, int newRestoreable);
    Q_INVOKABLE void restoreDriveTimings();
    // A simulated drive pulled out, or a new one plugged in.
    Q_INVOKABLE void unplugDrive(QObject *drive);
    Q_INVOKABLE void plugDrive(const QString &name, qint64 bytes, bool containsLive);
    // What a drive reports of an image on its own; the simulated drives skip
    // verification, which the pages must still show.
    Q_INVOKABLE void setImageStatus(QObject *image, int status);

public slots:
    void applicationAvailable();
    void qmlEngineAvailable(QQmlEngine *engine);
    void cleanupTestCase();
    // QDesktopServices hands https addresses here instead of to a browser.
    void openUrl(const QUrl &url);

private:
    QTemporaryDir m_home;
    QTemporaryDir m_localFiles;
    qint64 m_imageSize = 65536;
    std::array<int, 4> m_driveTimings {};
    NginxServer m_server;
    QPointer<QQmlEngine> m_engine;
    QPointer<ReleaseManager> m_catalogue;
    QTranslator m_translator;
    bool m_translatorInstalled = false;
    QStringList m_openedUrls;
    QPalette m_palette;
    QFont m_font;
};
