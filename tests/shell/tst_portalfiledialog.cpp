#include "dbusmock.h"
#include "logcapture.h"
#include "portalfiledialog.h"
#include "privatebus.h"
#include "testlocale.h"

#include <QDBusArgument>
#include <QDBusObjectPath>
#include <QGuiApplication>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <memory>
#include <optional>

namespace {

const QString requestPrefix = QStringLiteral("/org/freedesktop/portal/desktop/request/test/");

// Like the real portal, the stand-in names the request object after the
// caller's handle token and answers later with a signal on that object.
const QString answeringCode = QStringLiteral("path = '%1' + args[2]['handle_token']\n"
                                             "self.AddObject(path, 'org.freedesktop.portal.Request', {}, [])\n"
                                             "ret = path\n")
                                  .arg(requestPrefix);

} // namespace

class TestPortalFileDialog : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void unavailableWithoutPortal();
    void sandboxHidesPortal_data();
    void sandboxHidesPortal();
    void sendsOpenFile_data();
    void sendsOpenFile();
    void answers_data();
    void answers();
    void separateRequests();
    void rejectedCall();

private:
    bool startPortal(const QString &openFileCode);
    // The handle token of each OpenFile call so far, oldest first.
    [[nodiscard]] QStringList handleTokens() const;
    void respond(const QString &token, uint response, const QVariantMap &results);
    // Makes sure everything the portal sent before now has been delivered.
    void sync();

    PrivateBus m_bus { PrivateBus::Session };
    std::unique_ptr<DBusMock> m_portal;
    QTemporaryDir m_runtimeDir;
    // What each test function logged.
    std::optional<LogCapture> m_log;
};

void TestPortalFileDialog::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    TestLocale::pinEnglish();
    QVERIFY(m_runtimeDir.isValid());
    qputenv("XDG_RUNTIME_DIR", m_runtimeDir.path().toLocal8Bit());
    qunsetenv("SNAP");
    if (!m_bus.start())
        QSKIP(qPrintable(QStringLiteral("no private session bus: ") + m_bus.errorString()));
}

void TestPortalFileDialog::init()
{
    m_log.emplace();
}

void TestPortalFileDialog::cleanup()
{
    m_log.reset();
    m_portal.reset();
    QFile::remove(m_runtimeDir.filePath(QStringLiteral("flatpak-info")));
    qunsetenv("SNAP");
}

bool TestPortalFileDialog::startPortal(const QString &openFileCode)
{
    const QString reason = DBusMock::unavailableReason();
    if (!reason.isEmpty()) {
        QTest::qSkip(qPrintable(reason), __FILE__, __LINE__);
        return false;
    }
    m_portal = std::make_unique<DBusMock>(QStringLiteral("org.freedesktop.portal.Desktop"),
                                          QStringLiteral("/org/freedesktop/portal/desktop"));
    if (!m_portal->start({ QStringLiteral("org.freedesktop.portal.Desktop"),
                           QStringLiteral("/org/freedesktop/portal/desktop"),
                           QStringLiteral("org.freedesktop.portal.FileChooser") })) {
        QTest::qFail(qPrintable(m_portal->errorString()), __FILE__, __LINE__);
        return false;
    }
    const QDBusMessage added = m_portal->control(
        QStringLiteral("AddMethod"),
        { QString(), QStringLiteral("OpenFile"), QStringLiteral("ssa{sv}"), QStringLiteral("o"), openFileCode });
    if (added.type() != QDBusMessage::ReplyMessage) {
        QTest::qFail(qPrintable(added.errorMessage()), __FILE__, __LINE__);
        return false;
    }
    return true;
}

QStringList TestPortalFileDialog::handleTokens() const
{
    QStringList tokens;
    for (const QVariantList &call : m_portal->calls(QStringLiteral("OpenFile")))
        tokens.append(qdbus_cast<QVariantMap>(call.at(2)).value(QStringLiteral("handle_token")).toString());
    return tokens;
}

void TestPortalFileDialog::respond(const QString &token, uint response, const QVariantMap &results)
{
    const QDBusMessage emitted
        = m_portal->control(QStringLiteral("EmitSignal"),
                            { QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Response"),
                              QStringLiteral("ua{sv}"), QVariantList { response, results } },
                            requestPrefix + token);
    QVERIFY2(emitted.type() == QDBusMessage::ReplyMessage, qPrintable(emitted.errorMessage()));
}

void TestPortalFileDialog::sync()
{
    // A round trip to the portal: its earlier messages arrive before the reply.
    // What they set off in this thread may take a few queued hops (a reply
    // that came before its watcher existed is announced twice removed).
    m_portal->control(QStringLiteral("GetCalls"), {});
    for (int hop = 0; hop < 4; ++hop)
        QCoreApplication::processEvents();
}

void TestPortalFileDialog::unavailableWithoutPortal()
{
    PortalFileDialog dialog(nullptr, 0);
    QVERIFY(!dialog.isAvailable());
    QVERIFY(!dialog.property("isAvailable").toBool());
}

void TestPortalFileDialog::sandboxHidesPortal_data()
{
    QTest::addColumn<bool>("flatpak");
    QTest::addColumn<QByteArray>("snap");
    QTest::addColumn<bool>("available");

    QTest::newRow("no sandbox") << false << QByteArray() << true;
    QTest::newRow("flatpak") << true << QByteArray() << false;
    QTest::newRow("snap") << false << QByteArray("/snap/flashwright/12") << false;
    QTest::newRow("snap set empty") << false << QByteArray("") << false;
}

void TestPortalFileDialog::sandboxHidesPortal()
{
    QFETCH(bool, flatpak);
    QFETCH(QByteArray, snap);
    QFETCH(bool, available);

    if (!startPortal(answeringCode))
        return;
    if (flatpak) {
        QFile marker(m_runtimeDir.filePath(QStringLiteral("flatpak-info")));
        QVERIFY(marker.open(QIODevice::WriteOnly));
    }
    if (!snap.isNull())
        qputenv("SNAP", snap);

    PortalFileDialog dialog(nullptr, 0);
    QCOMPARE(dialog.isAvailable(), available);

    dialog.open();
    if (available)
        QTRY_COMPARE(m_portal->calls(QStringLiteral("OpenFile")).size(), 1);
    else
        QCOMPARE(m_portal->calls(QStringLiteral("OpenFile")).size(), 0);
}

void TestPortalFileDialog::sendsOpenFile_data()
{
    QTest::addColumn<quint64>("windowId");
    QTest::newRow("start-up window") << quint64(0);
    QTest::newRow("native window") << quint64(0x2a00005);
}

void TestPortalFileDialog::sendsOpenFile()
{
    QFETCH(quint64, windowId);
    if (!startPortal(answeringCode))
        return;

    PortalFileDialog dialog(nullptr, windowId);
    QVERIFY(dialog.isAvailable());
    dialog.open();
    QTRY_COMPARE(m_portal->calls(QStringLiteral("OpenFile")).size(), 1);
    const QVariantList arguments = m_portal->calls(QStringLiteral("OpenFile")).constFirst();
    QCOMPARE(arguments.size(), 3);

    // Run once on offscreen (Wayland naming) and once under Xvfb on xcb.
    const QString platform
        = QGuiApplication::platformName() == QLatin1String("xcb") ? QStringLiteral("x11") : QStringLiteral("wayland");
    QCOMPARE(arguments.at(0).toString(), QStringLiteral("%1:%2").arg(platform).arg(windowId));
    QCOMPARE(arguments.at(1).toString(), QStringLiteral("Open File"));

    const QVariantMap options = qdbus_cast<QVariantMap>(arguments.at(2));
    QCOMPARE(options.keys(),
             (QStringList { QStringLiteral("filters"), QStringLiteral("handle_token"), QStringLiteral("modal"),
                            QStringLiteral("multiple") }));
    QCOMPARE(options.value(QStringLiteral("modal")), QVariant(true));
    QCOMPARE(options.value(QStringLiteral("multiple")), QVariant(false));
    QVERIFY2(QRegularExpression(QStringLiteral("^qt\\d+$"))
                 .match(options.value(QStringLiteral("handle_token")).toString())
                 .hasMatch(),
             qPrintable(options.value(QStringLiteral("handle_token")).toString()));

    const auto filtersArgument = options.value(QStringLiteral("filters")).value<QDBusArgument>();
    QCOMPARE(filtersArgument.currentSignature(), QStringLiteral("a(sa(us))"));
    const auto filters = qdbus_cast<PortalFileDialog::FilterList>(filtersArgument);
    QCOMPARE(filters.size(), 2);
    QCOMPARE(filters.at(0).name, QStringLiteral("Image files"));
    QStringList patterns;
    for (const auto &condition : filters.at(0).conditions) {
        QCOMPARE(condition.kind, 0u);
        patterns.append(condition.pattern);
    }
    QCOMPARE(patterns,
             (QStringList { QStringLiteral("*.iso"), QStringLiteral("*.raw"), QStringLiteral("*.xz"),
                            QStringLiteral("*.img") }));
    QCOMPARE(filters.at(1).name, QStringLiteral("All files"));
    QCOMPARE(filters.at(1).conditions.size(), 1);
    QCOMPARE(filters.at(1).conditions.at(0).kind, 0u);
    QCOMPARE(filters.at(1).conditions.at(0).pattern, QStringLiteral("*"));
}

void TestPortalFileDialog::answers_data()
{
    QTest::addColumn<uint>("response");
    QTest::addColumn<QVariantMap>("results");
    QTest::addColumn<QUrl>("selected"); // empty: nothing may be emitted
    QTest::addColumn<QString>("warning");

    const QString first = QStringLiteral("file:///home/user/Downloads/zelvan%20live.iso");
    const QString second = QStringLiteral("file:///home/user/Downloads/other.img");
    QTest::newRow("one file") << 0u << QVariantMap { { QStringLiteral("uris"), QStringList { first } } }
                              << QUrl(QStringLiteral("file:///home/user/Downloads/zelvan live.iso")) << QString();
    QTest::newRow("two files select the first")
        << 0u << QVariantMap { { QStringLiteral("uris"), QStringList { first, second } } } << QUrl(first) << QString();
    QTest::newRow("cancelled") << 1u << QVariantMap { { QStringLiteral("uris"), QStringList { first } } } << QUrl()
                               << QStringLiteral("Portal file dialog cancelled or failed to open");
    QTest::newRow("ended otherwise") << 2u << QVariantMap() << QUrl()
                                     << QStringLiteral("Portal file dialog cancelled or failed to open");
    QTest::newRow("no uris") << 0u << QVariantMap { { QStringLiteral("choices"), QStringList() } } << QUrl()
                             << QString();
    QTest::newRow("empty uris") << 0u << QVariantMap { { QStringLiteral("uris"), QStringList() } } << QUrl()
                                << QStringLiteral("Portal file dialog answered without a file");
}

void TestPortalFileDialog::answers()
{
    QFETCH(uint, response);
    QFETCH(QVariantMap, results);
    QFETCH(QUrl, selected);
    QFETCH(QString, warning);
    if (!startPortal(answeringCode))
        return;

    PortalFileDialog dialog(nullptr, 0);
    QSignalSpy spy(&dialog, &PortalFileDialog::fileSelected);
    dialog.open();
    QTRY_COMPARE(m_portal->calls(QStringLiteral("OpenFile")).size(), 1);
    sync(); // the reply to OpenFile, and so the subscription

    respond(handleTokens().constFirst(), response, results);

    if (selected.isEmpty()) {
        if (warning.isEmpty())
            sync();
        else
            QTRY_VERIFY2(m_log->messages().contains(warning), qPrintable(m_log->messages().join(QLatin1Char('\n'))));
        sync();
        QCOMPARE(spy.size(), 0);
    } else {
        QVERIFY(spy.wait());
        QCOMPARE(spy.size(), 1);
        QCOMPARE(spy.constFirst().constFirst().toUrl(), selected);
    }
}

void TestPortalFileDialog::separateRequests()
{
    if (!startPortal(answeringCode))
        return;

    PortalFileDialog dialog(nullptr, 0);
    QSignalSpy spy(&dialog, &PortalFileDialog::fileSelected);
    dialog.open();
    dialog.open();
    QTRY_COMPARE(m_portal->calls(QStringLiteral("OpenFile")).size(), 2);
    sync();

    const QStringList tokens = handleTokens();
    QVERIFY2(tokens.at(0) != tokens.at(1), qPrintable(tokens.join(QLatin1Char(' '))));

    respond(tokens.at(1), 0, { { QStringLiteral("uris"), QStringList { QStringLiteral("file:///b.iso") } } });
    QVERIFY(spy.wait());
    sync();
    QCOMPARE(spy.size(), 1);
    respond(tokens.at(0), 0, { { QStringLiteral("uris"), QStringList { QStringLiteral("file:///a.iso") } } });
    QVERIFY(spy.wait());
    sync();
    QCOMPARE(spy.size(), 2);
    QCOMPARE(spy.at(0).at(0).toUrl(), QUrl(QStringLiteral("file:///b.iso")));
    QCOMPARE(spy.at(1).at(0).toUrl(), QUrl(QStringLiteral("file:///a.iso")));
}

void TestPortalFileDialog::rejectedCall()
{
    if (!startPortal(QStringLiteral("raise dbus.exceptions.DBusException('no chooser here', "
                                    "name='org.freedesktop.portal.Error.Failed')")))
        return;

    PortalFileDialog dialog(nullptr, 0);
    QSignalSpy spy(&dialog, &PortalFileDialog::fileSelected);
    dialog.open();
    QTRY_VERIFY2(m_log->messages().contains(QStringLiteral("Failed to open portal file dialog:  \"no chooser here\"")),
                 qPrintable(m_log->messages().join(QLatin1Char('\n'))));
    QCOMPARE(spy.size(), 0);
}

QTEST_MAIN(TestPortalFileDialog)
#include "tst_portalfiledialog.moc"
