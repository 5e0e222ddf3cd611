#pragma once

#include "nginxserver.h"

#include <QColor>
#include <QFont>
#include <QObject>
#include <QPalette>
#include <QPointer>
#include <QStringList>
#include <QTemporaryDir>
#include <QTranslator>
#include <QUrl>

class QQmlEngine;
class ReleaseManager;

// Sets up what the program's start-up would for the Qt Quick tests: the
// context objects of the pages with the real catalogue, fed from a local
// nginx, and the simulated drives of --testing. The tests reach it as
// `harness` to change what a test is about: the feed, the language, the
// desktop's palette and font.
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

public slots:
    void applicationAvailable();
    void qmlEngineAvailable(QQmlEngine *engine);
    void cleanupTestCase();
    // QDesktopServices hands https addresses here instead of to a browser.
    void openUrl(const QUrl &url);

private:
    QString feedText(const QString &feed) const;

    QTemporaryDir m_home;
    NginxServer m_server;
    QPointer<QQmlEngine> m_engine;
    QPointer<ReleaseManager> m_catalogue;
    QTranslator m_translator;
    bool m_translatorInstalled = false;
    QStringList m_openedUrls;
    QPalette m_palette;
    QFont m_font;
};
