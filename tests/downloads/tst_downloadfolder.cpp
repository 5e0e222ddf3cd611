// Showing a downloaded file: which file manager is started, with which
// arguments, decided by stand-in programs on PATH.
#include "downloadmanager.h"

#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

class TestDownloadFolder : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void openDownloadFolder_data();
    void openDownloadFolder();

private:
    void writeScript(const QString &name, const QByteArray &body);

    QTemporaryDir m_bin;
    QByteArray m_oldPath;
};

void TestDownloadFolder::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QVERIFY(m_bin.isValid());
    m_oldPath = qgetenv("PATH");
    // Only the stand-ins: the machine's own xdg-mime or file manager must not answer.
    qputenv("PATH", QFile::encodeName(m_bin.path()));
    for (const char *opener : { "dolphin", "nautilus", "caja", "dde-file-manager", "xdg-open" })
        writeScript(QLatin1String(opener), "echo \"${0##*/} $*\" >> \"$0.log\"\n");
}

void TestDownloadFolder::cleanupTestCase()
{
    qputenv("PATH", m_oldPath);
}

void TestDownloadFolder::writeScript(const QString &name, const QByteArray &body)
{
    QFile script(m_bin.filePath(name));
    QVERIFY(script.open(QIODevice::WriteOnly | QIODevice::Truncate));
    script.write("#!/bin/sh\n" + body);
    script.close();
    QVERIFY(script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
}

void TestDownloadFolder::openDownloadFolder_data()
{
    QTest::addColumn<QByteArray>("xdgMime"); // body of the stand-in, empty: no xdg-mime at all
    QTest::addColumn<QString>("expected"); // empty: nothing started

    const QString file = QStringLiteral("/home/user/Downloads/Zelvan 5.iso");
    QTest::newRow("dolphin in any case") << QByteArray("echo org.kde.Dolphin.desktop")
                                         << QStringLiteral("dolphin --select ") + file;
    QTest::newRow("nautilus") << QByteArray("echo '  nautilus  '") << QStringLiteral("nautilus --select ") + file;
    QTest::newRow("caja") << QByteArray("echo caja-folder-handler.desktop") << QStringLiteral("caja --select ") + file;
    QTest::newRow("dde") << QByteArray("echo dde-file-manager.desktop")
                         << QStringLiteral("dde-file-manager --show-item ") + file;
    QTest::newRow("another file manager")
        << QByteArray("echo pcmanfm.desktop") << QStringLiteral("xdg-open /home/user/Downloads");
    QTest::newRow("no answer") << QByteArray("true") << QStringLiteral("xdg-open /home/user/Downloads");
    QTest::newRow("no xdg-mime") << QByteArray() << QStringLiteral("xdg-open /home/user/Downloads");
    QTest::newRow("error output") << QByteArray("echo 'no default' >&2") << QString();
    QTest::newRow("error output beside an answer") << QByteArray("echo dolphin.desktop; echo warning >&2") << QString();
}

void TestDownloadFolder::openDownloadFolder()
{
    QFETCH(QByteArray, xdgMime);
    QFETCH(QString, expected);

    QFile::remove(m_bin.filePath(QStringLiteral("xdg-mime")));
    if (!xdgMime.isEmpty())
        writeScript(QStringLiteral("xdg-mime"),
                    "[ \"$*\" = 'query default inode/directory' ] || exit 3\n" + xdgMime + "\n");
    for (const char *opener : { "dolphin", "nautilus", "caja", "dde-file-manager", "xdg-open" })
        QFile::remove(m_bin.filePath(QLatin1String(opener) + QStringLiteral(".log")));

    DownloadManager::instance()->openDownloadFolder(QStringLiteral("/home/user/Downloads/Zelvan 5.iso"));

    if (expected.isEmpty()) {
        // An opener would start detached, with nothing to wait on: only a
        // quiet while shows that none did.
        QTest::qWait(300);
        for (const char *opener : { "dolphin", "nautilus", "caja", "dde-file-manager", "xdg-open" })
            QVERIFY(!QFileInfo::exists(m_bin.filePath(QLatin1String(opener) + QStringLiteral(".log"))));
        return;
    }
    const QString log = m_bin.filePath(expected.section(QLatin1Char(' '), 0, 0) + QStringLiteral(".log"));
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(log).size() > 0, 10000);
    QFile file(log);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromUtf8(file.readAll()).trimmed(), expected);
}

QTEST_GUILESS_MAIN(TestDownloadFolder)
#include "tst_downloadfolder.moc"
