// A catalogue image's road from nginx on loopback to the downloads folder:
// transfer, the announced and the implanted checksums, the final name, and
// every failure with what it leaves on disk.
#include "catalogueenvironment.h"
#include "filecontents.h"
#include "isoimage.h"
#include "nginxserver.h"
#include "progress.h"
#include "release.h"
#include "releasearchitecture.h"
#include "releasemanager.h"
#include "releasevariant.h"
#include "releaseversion.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QPointer>
#include <QRegularExpression>
#include <QSignalSpy>

namespace {

QString md5Of(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    QCryptographicHash hash(QCryptographicHash::Md5);
    hash.addData(&file);
    return QString::fromLatin1(hash.result().toHex());
}

} // namespace

class TestImageDownload : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void transfer_data();
    void transfer();
    void failedChecksLeaveNoTrap_data();
    void failedChecksLeaveNoTrap();
    void failsWithoutImage_data();
    void failsWithoutImage();
    void xzRealSize_data();
    void xzRealSize();
    void unreadableFile();
    void finalNameTaken();
    void existingFile_data();
    void existingFile();
    void readyAgainWithoutCheck();
    void staleImageCleared();
    void erase();
    void resetDuringCheck_data();
    void resetDuringCheck();
    void versionRemovedWhileDownloading();
    void deletedWhileDownloading();

private:
    ReleaseVariant *makeVariant(const QString &file, const QString &md5, qint64 size, const QString &version = "8");
    // Runs download() and waits for the end; returns the statuses passed through.
    QList<ReleaseVariant::Status> downloadAndWait(ReleaseVariant *variant);
    [[nodiscard]] int requestsFor(const QString &file) const;
    [[nodiscard]] QString downloads(const QString &name) const { return DownloadManager::dir() + '/' + name; }

    QTemporaryDir m_home;
    NginxServer m_http { NginxServer::Http };
    ReleaseManager *m_manager = nullptr;
    QString m_goodMd5;
    qint64 m_goodSize = 0;
    QByteArray m_raw;
    // Requests of earlier test functions.
    qsizetype m_requestsBefore = 0;
};

void TestImageDownload::initTestCase()
{
    QVERIFY(CatalogueEnvironment::setUp(m_home));
    QLoggingCategory::setFilterRules(QStringLiteral("default.warning=false"));
    if (!IsoImage::missingTools().isEmpty())
        QSKIP(qPrintable(QStringLiteral("missing ") + IsoImage::missingTools()));
    if (!m_http.start())
        QSKIP(qPrintable(QStringLiteral("no nginx to test against: ") + m_http.errorString()));

    // Above 688 KiB implantisomd5 writes as many fragment digits as the reader reads.
    const QString root = m_http.root();
    QVERIFY(IsoImage::make(root + QStringLiteral("/good.iso"), 2 * 1048576 + 4321, 1));
    QVERIFY(IsoImage::implant(root + QStringLiteral("/good.iso")));
    QVERIFY(QFile::copy(root + QStringLiteral("/good.iso"), root + QStringLiteral("/slow/good.iso")));
    QVERIFY(IsoImage::make(root + QStringLiteral("/plain.iso"), 1048576, 2));
    QVERIFY(QFile::copy(root + QStringLiteral("/good.iso"), root + QStringLiteral("/tampered.iso")));
    QVERIFY(IsoImage::flipByte(root + QStringLiteral("/tampered.iso"), 1048576));
    QCOMPARE(IsoImage::referenceVerdict(root + QStringLiteral("/tampered.iso")), IsoImage::Fail);
    QVERIFY(FileContents::write(root + QStringLiteral("/image.iso.part"), QByteArray(4096, 'p')));
    // A raw disk image, compressed: it unpacks to four times its announced size and more.
    m_raw = QByteArray(4 * 1048576, 'z') + QByteArray(4096, 'r');
    QVERIFY(FileContents::writeXz(root + QStringLiteral("/disk.img.xz"), m_raw));
    m_goodMd5 = md5Of(root + QStringLiteral("/good.iso"));
    m_goodSize = QFileInfo(root + QStringLiteral("/good.iso")).size();
}

void TestImageDownload::init()
{
    m_manager = new ReleaseManager();
    m_manager->setFetchInterval(3600000);
    QVERIFY(CatalogueEnvironment::fetchesEnded());
    QDir(DownloadManager::dir()).removeRecursively();
    m_requestsBefore = m_http.requests().size();
}

void TestImageDownload::cleanup()
{
    DownloadManager::instance()->cancel();
    CatalogueEnvironment::deleteLaterNow();
    QVERIFY(CatalogueEnvironment::fetchesEnded());
    delete m_manager;
    m_manager = nullptr;
}

ReleaseVariant *TestImageDownload::makeVariant(const QString &file, const QString &md5, qint64 size,
                                               const QString &version)
{
    auto *release = new Release(m_manager, 1, QStringLiteral("Zelvan"), QString(), {}, QStringLiteral("zv80"),
                                Release::ZV80, Release::STANDART, QString(), {});
    release->updateUrl(version.toInt(), QString(), QStringLiteral("live"), QDateTime(), QStringLiteral("x86_64"),
                       m_http.url(file).toString(), md5, size);
    return release->versionList().first()->variantList().first();
}

QList<ReleaseVariant::Status> TestImageDownload::downloadAndWait(ReleaseVariant *variant)
{
    QList<ReleaseVariant::Status> statuses;
    ReleaseVariant::Status last = variant->status();
    QMetaObject::Connection connection = connect(variant, &ReleaseVariant::statusChanged, this, [&]() {
        if (variant->status() != last)
            statuses.append(variant->status());
        last = variant->status();
    });
    variant->download();
    const bool ended = QTest::qWaitFor(
        [variant]() {
            return variant->status() == ReleaseVariant::READY || variant->status() == ReleaseVariant::FAILED_DOWNLOAD;
        },
        30000);
    disconnect(connection);
    if (!ended)
        statuses.append(ReleaseVariant::FAILED);
    return statuses;
}

int TestImageDownload::requestsFor(const QString &file) const
{
    int count = 0;
    const QList<NginxServer::Request> requests = m_http.requests();
    for (qsizetype i = m_requestsBefore; i < requests.size(); ++i)
        count += requests.at(i).uri == file ? 1 : 0;
    return count;
}

void TestImageDownload::transfer_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("md5");
    QTest::addColumn<bool>("announceSize");

    const QString good = QStringLiteral("/good.iso");
    QTest::newRow("implanted, digest announced") << good << "good" << true;
    QTest::newRow("digest in upper case, padded") << good << " GOOD\n" << true;
    QTest::newRow("no digest announced") << good << "" << false;
    QTest::newRow("no implanted digest") << QStringLiteral("/plain.iso") << "" << false;
}

void TestImageDownload::transfer()
{
    QFETCH(QString, file);
    QFETCH(QString, md5);
    QFETCH(bool, announceSize);

    if (md5.contains(QLatin1String("good"), Qt::CaseInsensitive))
        md5.replace(QRegularExpression(QStringLiteral("good"), QRegularExpression::CaseInsensitiveOption),
                    md5.contains(QLatin1String("GOOD")) ? m_goodMd5.toUpper() : m_goodMd5);
    const qint64 fileSize = QFileInfo(m_http.root() + file).size();
    ReleaseVariant *variant = makeVariant(file, md5, announceSize ? fileSize : 0);
    QSignalSpy sizeChanged(variant, &ReleaseVariant::sizeChanged);
    QSignalSpy realSizeChanged(variant, &ReleaseVariant::realSizeChanged);
    QSignalSpy isoChanged(variant, &ReleaseVariant::isoChanged);
    QList<double> progress;
    connect(variant->progress(), &Progress::valueChanged, this,
            [&]() { progress.append(variant->progress()->ratio()); });

    QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral("ReleaseVariant md5 check passed")));
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral("ReleaseVariant Image is ready")));
    const QList<ReleaseVariant::Status> statuses = downloadAndWait(variant);
    QCOMPARE(statuses,
             (QList<ReleaseVariant::Status> { ReleaseVariant::DOWNLOADING, ReleaseVariant::DOWNLOAD_VERIFYING,
                                              ReleaseVariant::READY }));
    QVERIFY(variant->errorString().isEmpty());
    const QString final = downloads(file.mid(1));
    QCOMPARE(variant->iso(), final);
    QCOMPARE(isoChanged.size(), 1);
    QVERIFY(variant->temporaryPath().isEmpty());
    QVERIFY(!QFile::exists(final + QStringLiteral(".part")));
    QCOMPARE(md5Of(final), md5Of(m_http.root() + file));
    // Without an announced size the file tells it.
    QCOMPARE(variant->size(), fileSize);
    QCOMPARE(sizeChanged.size(), announceSize ? 0 : 1);
    QCOMPARE(realSizeChanged.size(), sizeChanged.size());
    // The bar fills for the transfer, then starts again for the check.
    const qsizetype restart = progress.indexOf(0.0);
    QVERIFY(restart >= 0);
    if (announceSize)
        QCOMPARE(progress.at(restart - 1), 1.0);
    // An image without an implanted digest is not read at all.
    QCOMPARE(progress.last(), file == QLatin1String("/good.iso") ? 1.0 : 0.0);
}

void TestImageDownload::failedChecksLeaveNoTrap_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<bool>("wrongDigest");
    QTest::addColumn<QString>("log");

    QTest::newRow("announced digest differs") << "/good.iso" << true << "Computed md5 hash of";
    QTest::newRow("implanted digest wrong") << "/tampered.iso" << false << "Internal MD5 media check of";
}

void TestImageDownload::failedChecksLeaveNoTrap()
{
    QFETCH(QString, file);
    QFETCH(bool, wrongDigest);
    QFETCH(QString, log);

    ReleaseVariant *variant
        = makeVariant(file, wrongDigest ? QStringLiteral("0123456789abcdef0123456789abcdef") : QString(), 0);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^") + log));
    QCOMPARE(downloadAndWait(variant).last(), ReleaseVariant::FAILED_DOWNLOAD);
    QCOMPARE(variant->errorString(), QStringLiteral("The downloaded image is corrupted"));
    const QString final = downloads(file.mid(1));
    // A complete but bad part file would be resumed past its end for ever.
    QVERIFY(!QFile::exists(final + QStringLiteral(".part")));
    QVERIFY(!QFile::exists(final));
    QVERIFY(variant->iso().isEmpty());

    // Trying again fetches the whole file anew.
    const int before = requestsFor(file);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^") + log));
    QCOMPARE(downloadAndWait(variant).last(), ReleaseVariant::FAILED_DOWNLOAD);
    QCOMPARE(requestsFor(file), before + 1);
    QCOMPARE(m_http.requests().last().range, QStringLiteral("bytes=0-"));
}

void TestImageDownload::failsWithoutImage_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<qint64>("size");
    QTest::addColumn<bool>("requested");
    QTest::addColumn<QString>("error"); // contained in the error text
    QTest::addColumn<bool>("partPathKept"); // for a retry

    QTest::newRow("not on the server") << "/missing.iso" << qint64(0) << true << "Not Found" << true;
    // The catalogue's size bounds the transfer: what passes it is not kept.
    QTest::newRow("larger than announced")
        << "/good.iso" << m_goodSize - 1 << true
        << "The image on the server is larger than expected. The download was stopped and its partial file deleted."
        << false;
    QTest::newRow("named like a part file") << "/image.iso.part" << qint64(0) << false << "image.iso.part" << false;
}

void TestImageDownload::failsWithoutImage()
{
    QFETCH(QString, file);
    QFETCH(qint64, size);
    QFETCH(bool, requested);
    QFETCH(QString, error);
    QFETCH(bool, partPathKept);

    ReleaseVariant *variant = makeVariant(file, QString(), size);
    const QList<ReleaseVariant::Status> statuses = downloadAndWait(variant);
    QCOMPARE(statuses.last(), ReleaseVariant::FAILED_DOWNLOAD);
    if (requested)
        QCOMPARE(statuses,
                 (QList<ReleaseVariant::Status> { ReleaseVariant::DOWNLOADING, ReleaseVariant::FAILED_DOWNLOAD }));
    QVERIFY2(variant->errorString().contains(error), qPrintable(variant->errorString()));
    QCOMPARE(requestsFor(file), requested ? 1 : 0);
    const QString final = downloads(file.mid(1));
    // An empty part file goes, an oversized one is deleted.
    QVERIFY(!QFile::exists(final + QStringLiteral(".part")));
    if (partPathKept)
        QCOMPARE(variant->temporaryPath(), final + QStringLiteral(".part"));
    QVERIFY(!QFile::exists(final));
    QVERIFY(variant->iso().isEmpty());
    // From a failure the user starts over.
    variant->resetStatus();
    QCOMPARE(variant->status(), ReleaseVariant::PREPARING);
    QVERIFY(variant->errorString().isEmpty());
}

void TestImageDownload::xzRealSize_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<bool>("damaged");

    QTest::newRow("downloaded") << "download" << false;
    QTest::newRow("already downloaded") << "existing" << false;
    QTest::newRow("own file") << "local" << false;
    // The helper's own check at the drive's end stays the guard.
    QTest::newRow("own file without its index") << "local" << true;
}

void TestImageDownload::xzRealSize()
{
    QFETCH(QString, source);
    QFETCH(bool, damaged);
    const QString served = m_http.root() + QStringLiteral("/disk.img.xz");
    const qint64 compressed = QFileInfo(served).size();
    QByteArray file = FileContents::read(served);
    if (damaged)
        file.chop(12);

    ReleaseVariant *variant = nullptr;
    if (source == QLatin1String("local")) {
        const QString own = m_home.filePath(QStringLiteral("own.img.xz"));
        QVERIFY(FileContents::write(own, file));
        m_manager->selectLocalFile(QUrl::fromLocalFile(own).toString());
        variant = m_manager->localFile();
        QCOMPARE(variant->iso(), own);
    } else {
        if (source == QLatin1String("existing")) {
            QVERIFY(QDir().mkpath(DownloadManager::dir()));
            QVERIFY(FileContents::write(downloads(QStringLiteral("disk.img.xz")), file));
        }
        variant = makeVariant(QStringLiteral("/disk.img.xz"), QString(), compressed);
        QCOMPARE(downloadAndWait(variant).last(), ReleaseVariant::READY);
    }
    QCOMPARE(variant->size(), qint64(file.size()));
    QCOMPARE(variant->realSize(), damaged ? qint64(file.size()) : qint64(m_raw.size()));
}

void TestImageDownload::unreadableFile()
{
    // The transfer says the part file is complete, but it is gone by the time
    // it is checked.
    ReleaseVariant *variant = makeVariant(QStringLiteral("/gone.iso"), QString(), 0);
    variant->setStatus(ReleaseVariant::DOWNLOADING);
    variant->onFileDownloaded(downloads(QStringLiteral("gone.iso.part")),
                              QStringLiteral("d41d8cd98f00b204e9800998ecf8427e"));
    QCOMPARE(variant->status(), ReleaseVariant::DOWNLOAD_VERIFYING);
    QVERIFY(QTest::qWaitFor([variant]() { return variant->status() == ReleaseVariant::FAILED_DOWNLOAD; }, 10000));
    QCOMPARE(variant->errorString(), QStringLiteral("The downloaded file is not readable."));
}

void TestImageDownload::finalNameTaken()
{
    ReleaseVariant *variant = makeVariant(QStringLiteral("/slow/good.iso"), m_goodMd5, m_goodSize);
    const QString final = downloads(QStringLiteral("good.iso"));
    // Someone else's file appears under the final name while the transfer runs.
    connect(variant->progress(), &Progress::valueChanged, this, [&]() {
        if (variant->status() == ReleaseVariant::DOWNLOADING && variant->progress()->value() > 0
            && !QFile::exists(final))
            FileContents::write(final, "mine");
    });
    QCOMPARE(downloadAndWait(variant).last(), ReleaseVariant::FAILED_DOWNLOAD);
    QCOMPARE(variant->errorString(), QStringLiteral("Unable to rename the temporary file."));
    QCOMPARE(FileContents::read(final), QByteArray("mine"));
    QCOMPARE(md5Of(final + QStringLiteral(".part")), m_goodMd5);
    QVERIFY(variant->iso().isEmpty());
}

void TestImageDownload::existingFile_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("announceMd5");
    QTest::addColumn<bool>("announceSize");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<bool>("checked");

    QTest::newRow("the image") << QByteArray() << true << true << true << true;
    QTest::newRow("the image, digest only") << QByteArray() << true << false << true << true;
    QTest::newRow("another size") << QByteArray("my own notes") << true << true << false << false;
    QTest::newRow("another size, size only") << QByteArray("my own notes") << false << true << false << false;
    QTest::newRow("same size, other content") << QByteArray("X") << true << true << false << true;
    QTest::newRow("nothing announced") << QByteArray("my own notes") << false << false << true << false;
}

void TestImageDownload::existingFile()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, announceMd5);
    QFETCH(bool, announceSize);
    QFETCH(bool, accepted);
    QFETCH(bool, checked);

    const QString final = downloads(QStringLiteral("good.iso"));
    QByteArray bytes = FileContents::read(m_http.root() + QStringLiteral("/good.iso"));
    if (content == "X")
        bytes[100] = char(bytes.at(100) ^ 1);
    else if (!content.isEmpty())
        bytes = content;
    QVERIFY(QDir().mkpath(DownloadManager::dir()));
    QVERIFY(FileContents::write(final, bytes));

    ReleaseVariant *variant
        = makeVariant(QStringLiteral("/good.iso"), announceMd5 ? m_goodMd5 : QString(), announceSize ? m_goodSize : 0);
    if (accepted)
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral("is already downloaded")));
    const QList<ReleaseVariant::Status> statuses = downloadAndWait(variant);
    QCOMPARE(statuses.contains(ReleaseVariant::DOWNLOAD_VERIFYING), checked);
    QCOMPARE(requestsFor(QStringLiteral("/good.iso")), 0);
    // Whatever the verdict, the file is left as it was.
    QCOMPARE(FileContents::read(final), bytes);
    if (accepted) {
        QCOMPARE(statuses.last(), ReleaseVariant::READY);
        QCOMPARE(variant->iso(), final);
        QCOMPARE(variant->size(), qint64(bytes.size()));
        return;
    }
    QCOMPARE(statuses.last(), ReleaseVariant::FAILED_DOWNLOAD);
    QVERIFY2(variant->errorString().contains(QDir::toNativeSeparators(final)), qPrintable(variant->errorString()));
    QVERIFY(variant->iso().isEmpty());
    // Not ours: "delete download after writing" must not reach it.
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("An attempt to delete")));
    QVERIFY(!variant->erase());
    QVERIFY(QFile::exists(final));
}

void TestImageDownload::readyAgainWithoutCheck()
{
    ReleaseVariant *variant = makeVariant(QStringLiteral("/good.iso"), m_goodMd5, m_goodSize);
    QCOMPARE(downloadAndWait(variant).last(), ReleaseVariant::READY);
    // Retrying a write asks for the image again: the file this variant
    // checked needs no second reading.
    variant->setStatus(ReleaseVariant::FAILED);
    QSignalSpy statusChanged(variant, &ReleaseVariant::statusChanged);
    variant->download();
    QCOMPARE(variant->status(), ReleaseVariant::READY);
    QCOMPARE(requestsFor(QStringLiteral("/good.iso")), 1);

    // Once the file was changed it is checked again. Its time is set apart
    // from the checked one: a coarse clock could give the change the same.
    QFile file(variant->iso());
    const QDateTime checked = QFileInfo(file).lastModified();
    QVERIFY(file.open(QIODevice::ReadWrite));
    file.seek(200);
    file.write("tampered");
    QVERIFY(file.setFileTime(checked.addSecs(1), QFileDevice::FileModificationTime));
    file.close();
    QCOMPARE(downloadAndWait(variant).last(), ReleaseVariant::FAILED_DOWNLOAD);
    QVERIFY(QFile::exists(downloads(QStringLiteral("good.iso"))));
}

void TestImageDownload::staleImageCleared()
{
    ReleaseVariant *variant = makeVariant(QStringLiteral("/plain.iso"), QString(), 0);
    QCOMPARE(downloadAndWait(variant).last(), ReleaseVariant::READY);
    // The image goes (the user deleted it) and the server no longer has it.
    QVERIFY(QFile::remove(variant->iso()));
    QVERIFY(QFile::rename(m_http.root() + QStringLiteral("/plain.iso"), m_http.root() + QStringLiteral("/plain.bak")));
    const QList<ReleaseVariant::Status> statuses = downloadAndWait(variant);
    QVERIFY(QFile::rename(m_http.root() + QStringLiteral("/plain.bak"), m_http.root() + QStringLiteral("/plain.iso")));
    QCOMPARE(statuses.last(), ReleaseVariant::FAILED_DOWNLOAD);
    QVERIFY(variant->iso().isEmpty());
    variant->resetStatus();
    QCOMPARE(variant->status(), ReleaseVariant::PREPARING);
}

void TestImageDownload::erase()
{
    ReleaseVariant *variant = makeVariant(QStringLiteral("/plain.iso"), QString(), 0);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("An attempt to delete \"\" failed!")));
    QVERIFY(!variant->erase());

    QCOMPARE(downloadAndWait(variant).last(), ReleaseVariant::READY);
    const QString iso = variant->iso();
    QSignalSpy isoChanged(variant, &ReleaseVariant::isoChanged);
    QVERIFY(variant->erase());
    QVERIFY(!QFile::exists(iso));
    QVERIFY(variant->iso().isEmpty());
    QCOMPARE(isoChanged.size(), 1);
    QCOMPARE(variant->status(), ReleaseVariant::READY);
    variant->resetStatus();
    QCOMPARE(variant->status(), ReleaseVariant::PREPARING);
}

void TestImageDownload::resetDuringCheck_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<bool>("continueAfterReset");
    QTest::addColumn<ReleaseVariant::Status>("status");
    QTest::addColumn<bool>("finalKept");

    QTest::newRow("abort, continue") << "/good.iso" << true << ReleaseVariant::READY << true;
    QTest::newRow("abort only") << "/good.iso" << false << ReleaseVariant::PREPARING << true;
    QTest::newRow("abort, bad image") << "/tampered.iso" << false << ReleaseVariant::PREPARING << false;
    QTest::newRow("abort, continue, bad image") << "/tampered.iso" << true << ReleaseVariant::FAILED_DOWNLOAD << false;
}

void TestImageDownload::resetDuringCheck()
{
    QFETCH(QString, file);
    QFETCH(bool, continueAfterReset);
    QFETCH(ReleaseVariant::Status, status);
    QFETCH(bool, finalKept);

    ReleaseVariant *variant = makeVariant(file, QString(), 0);
    bool interrupted = false;
    int requestsAfter = -1;
    // The first progress of the check reaches the window while it still
    // runs: the user aborts and, maybe, continues.
    connect(variant->progress(), &Progress::valueChanged, this, [&]() {
        if (interrupted || variant->status() != ReleaseVariant::DOWNLOAD_VERIFYING)
            return;
        interrupted = true;
        variant->resetStatus();
        DownloadManager::instance()->cancel();
        if (continueAfterReset) {
            variant->download();
            QCOMPARE(variant->status(), ReleaseVariant::DOWNLOAD_VERIFYING);
        }
        requestsAfter = requestsFor(file);
    });
    if (!finalKept)
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^Internal MD5 media check of")));
    variant->download();
    QVERIFY(
        QTest::qWaitFor([&]() { return interrupted && variant->status() != ReleaseVariant::DOWNLOAD_VERIFYING; }, 30000)
        || !continueAfterReset);
    // Let the check end.
    QVERIFY(QTest::qWaitFor(
        [&]() {
            return QFile::exists(downloads(file.mid(1))) == finalKept
                && !QFile::exists(downloads(file.mid(1)) + QStringLiteral(".part"));
        },
        30000));
    QTRY_VERIFY_WITH_TIMEOUT(!variant->isBusy(), 30000);
    QVERIFY(interrupted);
    QCOMPARE(variant->status(), status);
    // Nothing new was fetched, and nothing fetches into the checked file.
    QCOMPARE(requestsFor(file), 1);
    QCOMPARE(requestsAfter, 1);
    QCOMPARE(variant->iso(), finalKept ? downloads(file.mid(1)) : QString());
}

void TestImageDownload::versionRemovedWhileDownloading()
{
    ReleaseVariant *seven = makeVariant(QStringLiteral("/slow/good.iso"), m_goodMd5, m_goodSize, QStringLiteral("7"));
    QPointer<ReleaseVariant> guard(seven);
    Release *release = seven->release();
    seven->download();
    QCOMPARE(seven->status(), ReleaseVariant::DOWNLOADING);
    // A later reply brings two newer final versions: version 7 leaves the catalogue.
    for (int number : { 8, 9 }) {
        release->updateUrl(number, QString(), QStringLiteral("live"), QDateTime(), QStringLiteral("x86_64"),
                           m_http.url(QStringLiteral("/plain.iso")).toString(), QString(), 0);
    }
    QCOMPARE(release->versionNames(), (QStringList { "9", "8" }));
    QString readyImage;
    connect(seven, &ReleaseVariant::statusChanged, this, [&]() {
        if (guard && guard->status() == ReleaseVariant::READY)
            readyImage = guard->iso();
    });
    // Idle once the image is ready: then it goes.
    QVERIFY(QTest::qWaitFor([&]() { return !guard; }, 30000));
    QCOMPARE(readyImage, downloads(QStringLiteral("good.iso")));
}

void TestImageDownload::deletedWhileDownloading()
{
    ReleaseVariant *variant = makeVariant(QStringLiteral("/slow/good.iso"), m_goodMd5, m_goodSize);
    variant->download();
    QVERIFY(QTest::qWaitFor([&]() { return variant->progress()->value() > 0; }, 10000));
    // Whoever deletes a downloading image (the program's end) takes its transfer along.
    delete variant->release();
    QVERIFY(DownloadManager::instance()->currentDownload() == nullptr);
    // Once the transfer is gone nothing can touch its part file.
    QTRY_VERIFY(DownloadManager::instance()->findChildren<Download *>().isEmpty());
    QVERIFY(QFile::exists(downloads(QStringLiteral("good.iso.part"))));
}

QTEST_GUILESS_MAIN(TestImageDownload)
#include "tst_imagedownload.moc"
