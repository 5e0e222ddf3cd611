// The check of an image file on disk: the MD5 of an existing download and
// the implanted checksum (the fallback when a download could not be checked
// as it arrived), with its verdicts on the owner's thread.
#include "filecontents.h"
#include "imagecheck.h"
#include "isoimage.h"

#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

class TestImageCheck : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void verdict_data();
    void verdict();
    void deletedWhileReading();

private:
    QTemporaryDir m_dir;
    QString m_good;
    QString m_goodMd5;
};

void TestImageCheck::initTestCase()
{
    if (!IsoImage::missingTools().isEmpty())
        QSKIP(qPrintable(QStringLiteral("missing ") + IsoImage::missingTools()));
    m_good = m_dir.filePath(QStringLiteral("good.iso"));
    QVERIFY(IsoImage::make(m_good, 3 * 1048576 + 100, 2));
    QVERIFY(IsoImage::implant(m_good));
    m_goodMd5 = FileContents::md5(m_good);
    const QString tampered = m_dir.filePath(QStringLiteral("tampered.iso"));
    QVERIFY(QFile::copy(m_good, tampered));
    QVERIFY(IsoImage::flipByte(tampered, 1048576));
    QVERIFY(FileContents::write(m_dir.filePath(QStringLiteral("plain.img")), FileContents::random(100000, 3)));
    QVERIFY(QDir(m_dir.path()).mkpath(QStringLiteral("folder.iso")));
}

void TestImageCheck::verdict_data()
{
    QTest::addColumn<bool>("implanted");
    QTest::addColumn<QString>("file");
    QTest::addColumn<ImageCheck::Result>("result");

    using R = ImageCheck::Result;
    QTest::newRow("digest of the image") << false << "good.iso" << R::Match;
    QTest::newRow("digest of a changed image") << false << "tampered.iso" << R::Mismatch;
    QTest::newRow("digest of a missing file") << false << "missing.iso" << R::Unreadable;
    QTest::newRow("digest of a folder") << false << "folder.iso" << R::Unreadable;
    QTest::newRow("implanted, intact") << true << "good.iso" << R::Match;
    QTest::newRow("implanted, changed") << true << "tampered.iso" << R::Mismatch;
    QTest::newRow("implanted, none in a raw image") << true << "plain.img" << R::NoChecksum;
    QTest::newRow("implanted, missing file") << true << "missing.iso" << R::Unreadable;
}

void TestImageCheck::verdict()
{
    QFETCH(bool, implanted);
    QFETCH(QString, file);
    QFETCH(ImageCheck::Result, result);

    ImageCheck check;
    QSignalSpy finished(&check, &ImageCheck::finished);
    QSignalSpy progressed(&check, &ImageCheck::progressed);
    if (implanted)
        check.checkImplanted(m_dir.filePath(file));
    else
        check.checkDigest(m_dir.filePath(file), m_goodMd5);
    QVERIFY(check.isRunning());
    QVERIFY(finished.wait(20000));
    QCOMPARE(finished.size(), 1);
    QCOMPARE(finished.first().first().value<ImageCheck::Result>(), result);
    QVERIFY(!check.isRunning());
    if (result == ImageCheck::Result::Match)
        QVERIFY(!progressed.isEmpty());
}

// Deleting a check stops its reading and reports nothing.
void TestImageCheck::deletedWhileReading()
{
    auto *check = new ImageCheck;
    QSignalSpy finished(check, &ImageCheck::finished);
    check->checkImplanted(m_good);
    delete check;
    QCOMPARE(finished.size(), 0);
}

QTEST_GUILESS_MAIN(TestImageCheck)
#include "tst_imagecheck.moc"
