#include "appinfo.h"
#include "crashhandler.h"
#include "downloadmanager.h"
#include "drivemanager.h"
#include "messagehandler.h"
#include "options.h"
#include "portalfiledialog.h"
#include "releasemanager.h"

#include <QApplication>
#include <QIcon>
#include <QLibraryInfo>
#include <QLocale>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QTranslator>

int main(int argc, char **argv)
{
    MessageHandler::install();
    CrashHandler::install();

    qputenv("QML_DISABLE_DISK_CACHE", "1");
    if (qEnvironmentVariableIsEmpty("QSG_RENDER_LOOP"))
        qputenv("QSG_RENDER_LOOP", "basic");

    QApplication::setOrganizationDomain(AppInfo::makerDomain);
    QApplication::setOrganizationName(AppInfo::makerDomain);
    QApplication::setApplicationName(AppInfo::applicationName);

    auto *app = new QApplication(argc, argv);

    // Before any singleton exists, so every reader sees the final values.
    options.parse(app->arguments());

    qCDebug(MessageHandler::category) << "Application constructed";

    const QLocale system = QLocale::system();
    auto *locale = new QLocale(system.language(), system.script(), system.territory());
    auto *translator = new QTranslator();
    // Qt's own texts (the file dialog's buttons, a text field's context menu)
    // come from Qt's catalogues, installed with Qt. They follow the program's
    // own language and only that, so that the window speaks one language:
    // where the program stays English, so do Qt's dialogs.
    QList<QTranslator *> qtTranslators;
    if (translator->load(*locale, QString(), QString(), QStringLiteral(":/translations"))) {
        qCDebug(MessageHandler::category) << "Localization " << *locale;
        const QString qtFolder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
        for (const QString &catalogue : { QStringLiteral("qtbase"), QStringLiteral("qtdeclarative") }) {
            auto *qtTranslator = new QTranslator();
            if (qtTranslator->load(*locale, catalogue, QStringLiteral("_"), qtFolder)) {
                qCDebug(MessageHandler::category) << "Qt's catalogue" << qtTranslator->filePath();
                QApplication::installTranslator(qtTranslator);
                qtTranslators.append(qtTranslator);
            } else {
                qCDebug(MessageHandler::category) << "No Qt catalogue" << catalogue << "in" << qtFolder;
                delete qtTranslator;
            }
        }
        QApplication::installTranslator(translator);
    }

    QApplication::setDesktopFileName(AppInfo::applicationId);

    auto *icon = new QIcon();
    for (int size : { 16, 22, 24, 32, 48, 64, 128, 256 })
        icon->addFile(QStringLiteral(":/appicon/%1.png").arg(size), QSize(size, size));
    QApplication::setWindowIcon(*icon);

    qCDebug(MessageHandler::category) << "Injecting QML context properties";
    auto *engine = new QQmlApplicationEngine();
    QQmlContext *context = engine->rootContext();
    // The pages know these objects only by name; keep the order: downloadManager,
    // drives, portalFileDialog, flashwrightVersion, releases. The singletons come
    // into being here, after the command line has been read.
    context->setContextProperty(QStringLiteral("downloadManager"), DownloadManager::instance());
    // The drive provider is chosen here, from the --testing option.
    DriveManager *drives = DriveManager::instance();
    context->setContextProperty(QStringLiteral("drives"), drives);
    context->setContextProperty(QStringLiteral("portalFileDialog"), new PortalFileDialog(app, 0));
    context->setContextProperty(QStringLiteral("flashwrightVersion"), AppInfo::version);
    // Lives until the process ends: its catalogue fetches report back to it.
    auto *releases = new ReleaseManager();
    // A ready image cannot be written while no drive can be listed.
    releases->setDriveBackend(drives);
    QObject::connect(drives, &DriveManager::isBackendBrokenChanged, releases, &ReleaseManager::onDriveBackendChanged);
    context->setContextProperty(QStringLiteral("releases"), releases);

    qCDebug(MessageHandler::category) << "Loading the QML source code";
    engine->load(QUrl(QStringLiteral("qrc:/qml/main.qml")));

    int status = 1;
    if (engine->rootObjects().isEmpty()) {
        // Without its window the program could only linger unseen until killed.
        qCCritical(MessageHandler::category) << "The main window could not be loaded";
    } else {
        qCDebug(MessageHandler::category) << "Starting the application";
        status = QApplication::exec();
    }
    qCDebug(MessageHandler::category) << "Quitting with status" << status;

    delete engine;
    delete icon;
    delete locale;
    delete translator;
    qDeleteAll(qtTranslators);
    delete app;
    return status;
}
