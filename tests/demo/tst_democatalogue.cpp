// The demo catalogue that a first start shows: served by the real demo
// server, read by the real catalogue, every page's choice filled, the images
// real and as announced, and the start script's server gone when the
// program ends, also on Ctrl-C.
#include "catalogueenvironment.h"
#include "democatalogue.h"
#include "filecontents.h"
#include "isoimage.h"
#include "release.h"
#include "releasearchitecture.h"
#include "releaselistmodel.h"
#include "releasemanager.h"
#include "releasevariant.h"
#include "releaseversion.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QSet>
#include <QSignalSpy>
#include <QTcpSocket>

#include <csignal>
#include <unistd.h>

class TestDemoCatalogue : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void everyChoiceHasImages_data();
    void everyChoiceHasImages();
    void imagesAreAsAnnounced();
    void imagesAreReal();
    void catalogueImageDownloads();
    void scriptStopsServer_data();
    void scriptStopsServer();

private:
    // Every image of the catalogue, by its address.
    [[nodiscard]] QList<ReleaseVariant *> variants() const;
    QByteArray fetch(const QUrl &url);

    QTemporaryDir m_home;
    QTemporaryDir m_files;
    QProcess m_server;
    ReleaseManager *m_manager = nullptr;
    QNetworkAccessManager m_network;
};

void TestDemoCatalogue::initTestCase()
{
    QVERIFY(CatalogueEnvironment::setUp(m_home));
    QVERIFY(m_files.isValid());
    const QString missing = DemoCatalogue::missingTools();
    if (!missing.isEmpty())
        QSKIP(qPrintable(QStringLiteral("missing tools: ") + missing));

    m_server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_server.start(QStringLiteral(FLASHWRIGHT_DEMO_SERVER), QStringList());
    QVERIFY(m_server.waitForStarted());
    QVERIFY2(
        QTest::qWaitFor([this] { return m_server.canReadLine() || m_server.state() != QProcess::Running; }, 120000),
        "the demo server printed no address");
    options.releasesUrl = QString::fromUtf8(m_server.readLine().trimmed());
    QVERIFY2(options.releasesUrl.startsWith(QLatin1String("http://127.0.0.1:")), qPrintable(options.releasesUrl));

    m_manager = new ReleaseManager();
    QVERIFY(QTest::qWaitFor([this] { return m_manager->isReady() && !m_manager->isBeingUpdated(); }, 30000));
}

void TestDemoCatalogue::cleanupTestCase()
{
    if (m_manager) {
        QVERIFY(CatalogueEnvironment::fetchesEnded());
        delete m_manager;
    }
    if (m_server.state() == QProcess::Running) {
        m_server.terminate();
        QVERIFY(m_server.waitForFinished());
        QCOMPARE(m_server.exitCode(), 0);
    }
}

QList<ReleaseVariant *> TestDemoCatalogue::variants() const
{
    QList<ReleaseVariant *> all;
    for (Release *release : m_manager->releaseList()->releases()) {
        if (release->isLocal())
            continue;
        for (ReleaseVersion *version : release->versionList())
            all += version->variantList();
    }
    return all;
}

QByteArray TestDemoCatalogue::fetch(const QUrl &url)
{
    QNetworkReply *reply = m_network.get(QNetworkRequest(url));
    QSignalSpy finished(reply, &QNetworkReply::finished);
    if (!finished.wait(30000) || reply->error() != QNetworkReply::NoError) {
        reply->deleteLater();
        return {};
    }
    reply->deleteLater();
    return reply->readAll();
}

void TestDemoCatalogue::everyChoiceHasImages_data()
{
    QTest::addColumn<int>("source");
    QTest::addColumn<int>("edition");

    // The education edition is offered for the current line only.
    QTest::newRow("8.0 standard") << int(Release::ZV80) << int(Release::STANDART);
    QTest::newRow("8.0 certified") << int(Release::ZV80) << int(Release::CERT);
    QTest::newRow("8.0 home") << int(Release::ZV80) << int(Release::HOME);
    QTest::newRow("8.0 education") << int(Release::ZV80) << int(Release::EDUCATION);
    QTest::newRow("7.3 standard") << int(Release::ZV73) << int(Release::STANDART);
    QTest::newRow("7.3 certified") << int(Release::ZV73) << int(Release::CERT);
    QTest::newRow("7.3 home") << int(Release::ZV73) << int(Release::HOME);
}

void TestDemoCatalogue::everyChoiceHasImages()
{
    QFETCH(int, source);
    QFETCH(int, edition);

    QVERIFY(m_manager->hasEdition(edition));
    m_manager->filterEditionAndSource(edition, source);
    QCOMPARE(m_manager->rowCount(), 1);

    // Both architectures, each with two versions to choose from, and each
    // choice leads to an image with a size and a digest.
    QStringList architectures;
    for (ReleaseArchitecture *architecture : m_manager->availableArchitectures())
        architectures << architecture->abbreviation().constFirst();
    architectures.sort();
    QCOMPARE(architectures, (QStringList { QStringLiteral("aarch64"), QStringLiteral("x86_64") }));
    for (ReleaseArchitecture *architecture : m_manager->availableArchitectures()) {
        m_manager->setFilterArchitecture(architecture->index());
        QCOMPARE(m_manager->rowCount(), 1);
        m_manager->setSelectedIndex(m_manager->data(m_manager->index(0, 0), ReleaseListModel::SourceIndexRole).toInt());
        Release *release = m_manager->selected();
        QVERIFY(release);
        QCOMPARE(release->versionList().size(), 2);
        ReleaseVariant *variant = m_manager->variant();
        QVERIFY(variant);
        QCOMPARE(variant->arch(), architecture);
        QVERIFY(variant->size() > 0);
        QCOMPARE(variant->mdHash().size(), 32);
    }
}

void TestDemoCatalogue::imagesAreAsAnnounced()
{
    const QList<ReleaseVariant *> all = variants();
    QCOMPARE(all.size(), 28);
    QSet<QString> names;
    for (ReleaseVariant *variant : all) {
        const QByteArray image = fetch(QUrl(variant->url()));
        QVERIFY2(!image.isEmpty(), qPrintable(variant->url()));
        QCOMPARE(double(image.size()), variant->size());
        QCOMPARE(QString::fromLatin1(QCryptographicHash::hash(image, QCryptographicHash::Md5).toHex()),
                 variant->mdHash());
        // Downloads are stored under their file name: one each.
        names.insert(QUrl(variant->url()).fileName());
    }
    QCOMPARE(names.size(), all.size());
}

void TestDemoCatalogue::imagesAreReal()
{
    // One file of each kind, judged by the system's own tools.
    QHash<QString, QString> files;
    for (ReleaseVariant *variant : variants()) {
        const QString name = QUrl(variant->url()).fileName();
        const QString kind = name.startsWith(QLatin1String("zelvan-8.0")) && name.endsWith(QLatin1String(".iso"))
            ? QStringLiteral("implanted")
            : name.endsWith(QLatin1String(".iso")) ? QStringLiteral("plain")
                                                   : QStringLiteral("disk");
        if (files.contains(kind))
            continue;
        const QString path = m_files.filePath(name);
        QVERIFY(FileContents::write(path, fetch(QUrl(variant->url()))));
        files.insert(kind, path);
    }
    QCOMPARE(files.size(), 3);

    QCOMPARE(IsoImage::referenceVerdict(files.value(QStringLiteral("implanted"))), IsoImage::Pass);
    QCOMPARE(IsoImage::referenceVerdict(files.value(QStringLiteral("plain"))), IsoImage::NoInfo);

    const QByteArray disk = FileContents::readXz(files.value(QStringLiteral("disk")));
    QCOMPARE(disk.size(), 8 << 20);
    // A GPT header behind the protective MBR, and ext2's magic in the
    // superblock of the partition at 1 MiB.
    QCOMPARE(disk.mid(512, 8), QByteArray("EFI PART"));
    QCOMPARE(disk.mid((1 << 20) + 1024 + 56, 2), QByteArray("\x53\xef"));
}

void TestDemoCatalogue::catalogueImageDownloads()
{
    // The road a first start takes: the current line's standard image for PCs.
    m_manager->filterEditionAndSource(Release::STANDART, Release::ZV80);
    m_manager->setFilterArchitecture(ReleaseArchitecture::fromAbbreviation(QStringLiteral("x86_64"))->index());
    QCOMPARE(m_manager->rowCount(), 1);
    m_manager->setSelectedIndex(m_manager->data(m_manager->index(0, 0), ReleaseListModel::SourceIndexRole).toInt());
    ReleaseVariant *variant = m_manager->variant();
    QVERIFY(variant);

    variant->download();
    QVERIFY2(QTest::qWaitFor(
                 [variant] {
                     return variant->status() == ReleaseVariant::READY
                         || variant->status() >= ReleaseVariant::FAILED_VERIFICATION;
                 },
                 60000),
             qPrintable(variant->errorString()));
    QCOMPARE(variant->status(), ReleaseVariant::READY);
    QCOMPARE(QFileInfo(variant->iso()).size(), qint64(variant->size()));
}

void TestDemoCatalogue::scriptStopsServer_data()
{
    QTest::addColumn<QString>("platform");
    QTest::addColumn<bool>("interrupt");
    QTest::addColumn<int>("status");

    // A program that cannot start ends at once with status 1.
    QTest::newRow("program ends") << QStringLiteral("nosuchplatform") << false << 1;
    // Ctrl-C in a terminal reaches the script, the program and the server.
    QTest::newRow("Ctrl-C") << QStringLiteral("offscreen") << true << 130;
}

void TestDemoCatalogue::scriptStopsServer()
{
    QFETCH(QString, platform);
    QFETCH(bool, interrupt);
    QFETCH(int, status);

    QTemporaryDir scratch;
    QVERIFY(scratch.isValid());
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), platform);
    environment.insert(QStringLiteral("HOME"), m_home.path());
    // Qt takes a runtime folder only when it is the user's alone.
    QVERIFY(QDir(m_home.path()).mkpath(QStringLiteral("runtime")));
    QVERIFY(QFile::setPermissions(m_home.filePath(QStringLiteral("runtime")),
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_home.filePath(QStringLiteral("runtime")));
    // The server's folder lands here, so that its removal can be seen.
    environment.insert(QStringLiteral("TMPDIR"), scratch.path());

    QProcess script;
    script.setProcessEnvironment(environment);
    // A process group of its own, as a terminal's foreground job has.
    script.setChildProcessModifier([] { ::setpgid(0, 0); });
    script.start(QStringLiteral("bash"),
                 { QStringLiteral(FLASHWRIGHT_SOURCE_DIR "/scripts/demo.sh"), QStringLiteral(FLASHWRIGHT_BUILD_DIR),
                   QStringLiteral("-v") });
    QVERIFY(script.waitForStarted());

    QByteArray output;
    QByteArray errors;
    const auto read = [&] {
        output += script.readAllStandardOutput();
        errors += script.readAllStandardError();
    };
    QVERIFY2(QTest::qWaitFor(
                 [&] {
                     read();
                     return output.contains('\n') || script.state() != QProcess::Running;
                 },
                 120000),
             errors.constData());
    const QUrl feed(QString::fromUtf8(output).section(QLatin1Char('\n'), 0, 0).section(QLatin1Char(' '), -1));
    QVERIFY2(feed.port() > 0, output.constData());

    if (interrupt) {
        // The program reads the demo's feed before it is interrupted.
        QVERIFY2(QTest::qWaitFor(
                     [&] {
                         read();
                         return errors.contains("Received a metadata json") || script.state() != QProcess::Running;
                     },
                     60000),
                 errors.constData());
        QCOMPARE(script.state(), QProcess::Running);
        ::kill(-pid_t(script.processId()), SIGINT);
    }
    QVERIFY(script.waitForFinished(60000));
    read();
    QCOMPARE(script.exitStatus(), QProcess::NormalExit);
    QCOMPARE(script.exitCode(), status);

    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, quint16(feed.port()));
    QVERIFY2(!socket.waitForConnected(2000), "nginx still serves the demo");
    QDirIterator left(scratch.path(), QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                      QDirIterator::Subdirectories);
    QStringList leftOver;
    while (left.hasNext())
        leftOver << left.next();
    QVERIFY2(leftOver.isEmpty(), qPrintable(leftOver.join(QLatin1Char('\n'))));
}

QTEST_GUILESS_MAIN(TestDemoCatalogue)
#include "tst_democatalogue.moc"
