// The download's MD5 worker: the digest of exactly the chunks added, in
// order, whatever their sizes and however far ahead of the worker the caller is.
#include "filecontents.h"
#include "hashworker.h"
#include "isoimage.h"
#include "testfiles.h"

#include <QTemporaryDir>
#include <QTest>

using namespace TestFiles;

class TestHashWorker : public QObject
{
    Q_OBJECT

private slots:
    void digest_data();
    void digest();
    void chunkChangedAfterAdding();
    void resetStartsAfresh();
    void implantedVerdict_data();
    void implantedVerdict();
};

void TestHashWorker::digest_data()
{
    QTest::addColumn<QList<qsizetype>>("chunkSizes");
    QTest::newRow("nothing") << QList<qsizetype> {};
    QTest::newRow("one byte") << QList<qsizetype> { 1 };
    QTest::newRow("empty chunks among others") << QList<qsizetype> { 0, 100, 0, 5000, 0 };
    // Far more than the bound: add() must wait for the worker, not drop or reorder.
    QTest::newRow("320 network chunks") << QList<qsizetype>(320, 65536);
    QTest::newRow("chunk larger than the bound")
        << QList<qsizetype> { 1000, 2 * HashWorker::MaxPending + 3, 65536, HashWorker::MaxPending };
    QTest::newRow("uneven sizes") << QList<qsizetype> { 63, 64, 65, 1048576, 7, 4 << 20, 1 };
}

void TestHashWorker::digest()
{
    QFETCH(QList<qsizetype>, chunkSizes);
    QByteArray all;
    HashWorker worker;
    quint32 seed = 1;
    for (const qsizetype size : chunkSizes) {
        const QByteArray chunk = randomBytes(size, seed++);
        all += chunk;
        worker.add(chunk);
    }
    QCOMPARE(QString::fromLatin1(worker.result()), md5(all));
    // Taking the result does not end the stream.
    const QByteArray more = randomBytes(3000, 99);
    worker.add(more);
    QCOMPARE(QString::fromLatin1(worker.result()), md5(all + more));
}

// The worker shares the caller's data; a caller reusing its buffer must not
// change what is hashed.
void TestHashWorker::chunkChangedAfterAdding()
{
    HashWorker worker;
    const QByteArray original = randomBytes(2 << 20, 5);
    QByteArray buffer = original;
    for (int i = 0; i < 8; ++i) {
        worker.add(buffer);
        buffer.fill(char(i));
    }
    QCOMPARE(QString::fromLatin1(worker.result()),
             md5(original + QByteArray(2 << 20, 0) + QByteArray(2 << 20, 1) + QByteArray(2 << 20, 2)
                 + QByteArray(2 << 20, 3) + QByteArray(2 << 20, 4) + QByteArray(2 << 20, 5) + QByteArray(2 << 20, 6)));
}

// A server that ignores the range sends the whole file again: the part file
// and its digest start over, and nothing hashed before counts.
void TestHashWorker::resetStartsAfresh()
{
    HashWorker worker;
    for (int i = 0; i < 100; ++i)
        worker.add(randomBytes(65536, quint32(i)));
    worker.reset();
    const QByteArray after = randomBytes(100000, 1000);
    worker.add(after);
    QCOMPARE(QString::fromLatin1(worker.result()), md5(after));
}

void TestHashWorker::implantedVerdict_data()
{
    QTest::addColumn<QString>("image");
    QTest::addColumn<qsizetype>("firstChunk");
    QTest::addColumn<qsizetype>("before");
    QTest::addColumn<qsizetype>("cut");
    QTest::addColumn<ImplantedChecksum::Result>("verdict");

    using R = ImplantedChecksum::Result;
    QTest::newRow("network chunks") << "good" << qsizetype(65536) << qsizetype(0) << qsizetype(0) << R::Match;
    QTest::newRow("a resumed part, then network chunks")
        << "good" << qsizetype(1048576 + 777) << qsizetype(0) << qsizetype(0) << R::Match;
    QTest::newRow("changed after the descriptor")
        << "tampered" << qsizetype(65536) << qsizetype(0) << qsizetype(0) << R::Mismatch;
    QTest::newRow("ends before the volume does")
        << "good" << qsizetype(65536) << qsizetype(0) << qsizetype(100000) << R::Mismatch;
    QTest::newRow("not an ISO image") << "random" << qsizetype(65536) << qsizetype(0) << qsizetype(0) << R::NoChecksum;
    // The part file of something else, emptied when the server sends the
    // whole file: what it said of the image must not count.
    QTest::newRow("started again after another file")
        << "good" << qsizetype(65536) << qsizetype(300000) << qsizetype(0) << R::Match;
    QTest::newRow("started again after the start of the image")
        << "good" << qsizetype(65536) << qsizetype(-1) << qsizetype(0) << R::Match;
}

// The implanted checksum of an ISO image, checked over the stream as it
// comes, gives checkisomd5's verdict.
void TestHashWorker::implantedVerdict()
{
    QFETCH(QString, image);
    QFETCH(qsizetype, firstChunk);
    QFETCH(qsizetype, before);
    QFETCH(qsizetype, cut);
    QFETCH(ImplantedChecksum::Result, verdict);
    if (!IsoImage::missingTools().isEmpty())
        QSKIP(qPrintable(QStringLiteral("missing ") + IsoImage::missingTools()));

    static QTemporaryDir dir;
    const QString good = dir.filePath(QStringLiteral("good.iso"));
    const QString tampered = dir.filePath(QStringLiteral("tampered.iso"));
    if (!QFile::exists(tampered)) {
        QVERIFY(IsoImage::make(good, 2 * 1048576 + 4321, 1));
        QVERIFY(IsoImage::implant(good));
        QVERIFY(QFile::copy(good, tampered));
        QVERIFY(IsoImage::flipByte(tampered, 1048576));
    }
    QByteArray bytes = image == QLatin1String("random") ? randomBytes(2 << 20, 3)
                                                        : FileContents::read(image == QLatin1String("good") ? good : tampered);
    bytes.chop(cut);

    HashWorker worker;
    if (before != 0) {
        worker.add(before > 0 ? randomBytes(before, 4) : FileContents::read(good).left(1048576 + 4096));
        worker.reset();
    }
    worker.add(bytes.left(firstChunk));
    for (qsizetype offset = firstChunk; offset < bytes.size(); offset += 65536)
        worker.add(bytes.mid(offset, 65536));
    QCOMPARE(worker.implantedResult(), verdict);
    QCOMPARE(QString::fromLatin1(worker.result()), md5(bytes));
}

QTEST_GUILESS_MAIN(TestHashWorker)
#include "tst_hashworker.moc"
