#include "portalfiledialog.h"

#include "messagehandler.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusReply>
#include <QDir>
#include <QGuiApplication>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QUrl>

namespace {

const QString portalService = QStringLiteral("org.freedesktop.portal.Desktop");

// Inside a sandbox the portal answers with paths in the sandbox's own
// document store, which the helper outside cannot open; the page's own
// dialog is used there instead.
bool checkSandboxEnvironment()
{
    const QString runtimeDir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (!runtimeDir.isEmpty() && QDir(runtimeDir).exists(QStringLiteral("flatpak-info")))
        return true;
    return qEnvironmentVariableIsSet("SNAP");
}

} // namespace

QDBusArgument &operator<<(QDBusArgument &argument, const PortalFileDialog::FilterCondition &condition)
{
    argument.beginStructure();
    argument << condition.kind << condition.pattern;
    argument.endStructure();
    return argument;
}

const QDBusArgument &operator>>(const QDBusArgument &argument, PortalFileDialog::FilterCondition &condition)
{
    argument.beginStructure();
    argument >> condition.kind >> condition.pattern;
    argument.endStructure();
    return argument;
}

QDBusArgument &operator<<(QDBusArgument &argument, const PortalFileDialog::Filter &filter)
{
    argument.beginStructure();
    argument << filter.name << filter.conditions;
    argument.endStructure();
    return argument;
}

const QDBusArgument &operator>>(const QDBusArgument &argument, PortalFileDialog::Filter &filter)
{
    argument.beginStructure();
    argument >> filter.name >> filter.conditions;
    argument.endStructure();
    return argument;
}

PortalFileDialog::PortalFileDialog(QObject *parent, quint64 parentWindowId)
    : QObject(parent)
    , m_parentWindowId(parentWindowId)
{
    bool portalRunning = false;
    if (QDBusConnectionInterface *bus = QDBusConnection::sessionBus().interface()) {
        const QDBusReply<bool> reply = bus->isServiceRegistered(portalService);
        portalRunning = reply.isValid() && reply.value();
    }
    m_isAvailable = portalRunning && !checkSandboxEnvironment();
}

void PortalFileDialog::registerDBusTypes()
{
    qDBusRegisterMetaType<FilterCondition>();
    qDBusRegisterMetaType<FilterConditionList>();
    qDBusRegisterMetaType<Filter>();
    qDBusRegisterMetaType<FilterList>();
}

void PortalFileDialog::open()
{
    if (!m_isAvailable)
        return;

    registerDBusTypes();

    QDBusMessage call = QDBusMessage::createMethodCall(portalService, QStringLiteral("/org/freedesktop/portal/desktop"),
                                                       QStringLiteral("org.freedesktop.portal.FileChooser"),
                                                       QStringLiteral("OpenFile"));

    FilterConditionList imageConditions;
    // Images and the compressed forms that the helper unpacks while writing;
    // the same patterns as the window's own file dialog (DrivePage.qml).
    for (const QString &pattern : { QStringLiteral("*.iso"), QStringLiteral("*.raw"), QStringLiteral("*.xz"),
                                    QStringLiteral("*.img"), QStringLiteral("*.gz"), QStringLiteral("*.bz2"),
                                    QStringLiteral("*.zst"), QStringLiteral("*.zip") })
        imageConditions.append({ 0, pattern });
    const FilterList filters { { tr("Image files"), imageConditions },
                               { tr("All files"), { { 0, QStringLiteral("*") } } } };

    QVariantMap portalOptions;
    portalOptions.insert(QStringLiteral("modal"), true);
    portalOptions.insert(QStringLiteral("handle_token"),
                         QStringLiteral("qt%1").arg(QRandomGenerator::global()->generate()));
    portalOptions.insert(QStringLiteral("multiple"), false);
    portalOptions.insert(QStringLiteral("filters"), QVariant::fromValue(filters));

    const QString parentWindow = QGuiApplication::platformName() == QLatin1String("xcb")
        ? QStringLiteral("x11:%1").arg(m_parentWindowId)
        : QStringLiteral("wayland:%1").arg(m_parentWindowId);

    call << parentWindow << tr("Open File") << portalOptions;

    auto *watcher = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *watcher) {
        watcher->deleteLater();
        const QDBusPendingReply<QDBusObjectPath> reply = *watcher;
        if (reply.isError()) {
            qCWarning(MessageHandler::category) << "Failed to open portal file dialog: " << reply.error().message();
            return;
        }
        // The answer comes as a signal on the request object the reply names;
        // every request keeps its own subscription.
        QDBusConnection::sessionBus().connect(QString(), reply.value().path(),
                                              QStringLiteral("org.freedesktop.portal.Request"),
                                              QStringLiteral("Response"), this, SLOT(gotResponse(uint, QVariantMap)));
    });
}

void PortalFileDialog::gotResponse(uint response, const QVariantMap &results)
{
    if (response != 0) {
        qCWarning(MessageHandler::category) << "Portal file dialog cancelled or failed to open";
        return;
    }
    if (!results.contains(QStringLiteral("uris")))
        return;

    const QStringList uris = results.value(QStringLiteral("uris")).toStringList();
    if (uris.isEmpty()) {
        // A successful answer without a file cannot be acted upon; the page
        // stays as it was, as after a cancelled chooser.
        qCWarning(MessageHandler::category) << "Portal file dialog answered without a file";
        return;
    }
    emit fileSelected(QUrl(uris.first(), QUrl::TolerantMode));
}
