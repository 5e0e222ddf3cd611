// The drive list: order, selection, the restore candidate and the back-end
// state, driven through the provider boundary; and the Drive base class.
#include "progress.h"
#include "scripteddrives.h"
#include "testlocale.h"

#include <QAbstractItemModelTester>
#include <QQmlComponent>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQmlExpression>
#include <QSignalSpy>
#include <QTest>

namespace {
QStringList rawNames(const DriveManager &manager)
{
    QStringList names;
    for (int row = 0; row < manager.rowCount(); ++row)
        names.append(manager.data(manager.index(row), DriveManager::DriveRole).value<Drive *>()->rawName());
    return names;
}

QString rawNameOf(const Drive *drive)
{
    return drive ? drive->rawName() : QStringLiteral("none");
}
} // namespace

class TestDriveManager : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void hotplug_data();
    void hotplug();
    void selectionSetterIgnoresWhatIsNotARow();
    void restoreCandidateFollowsStatuses();
    void modelRolesAndHeaders();
    void sizeChangeKeepsOrderAndSelection();
    void backendBroken();
    void pagesSeeTheList();
    void readableSize_data();
    void readableSize();
    void updateDriveKeepsRestoreOutcomes_data();
    void updateDriveKeepsRestoreOutcomes();
    void cancelAndDelayedWrite();
};

void TestDriveManager::initTestCase()
{
    TestLocale::pinEnglish();
}

// Steps, separated by spaces: "+A:100" plugs drive A of 100 bytes ("+A:100:live"
// with a live image, "+A:100:layout" with another unusual layout, such as an
// ext4 partition), "-A" unplugs it, "init" ends the first scan,
// "select=A" selects it, "busy=A" / "idle=A" starts or ends its write.
void TestDriveManager::hotplug_data()
{
    QTest::addColumn<QString>("steps");
    QTest::addColumn<QStringList>("order");
    QTest::addColumn<QString>("selected");
    QTest::addColumn<QString>("restoreable");
    // The order of the list as names separated by spaces.
    const auto row
        = [](const char *tag, const char *steps, const char *order, const char *selected, const char *restoreable) {
              QTest::newRow(tag) << QString::fromLatin1(steps)
                                 << QString::fromLatin1(order).split(QLatin1Char(' '), Qt::SkipEmptyParts)
                                 << QString::fromLatin1(selected) << QString::fromLatin1(restoreable);
          };

    row("first scan: smallest selected", "+B:200 +A:100 +C:300 init", "A B C", "A", "none");
    row("equal sizes in order of arrival", "+X:100 +Y:100 init +Z:100", "X Y Z", "Z", "none");
    row("after the scan a new drive is selected", "+A:100 +C:300 init +B:200", "A B C", "B", "none");
    row("unplugged before the selection: same drive", "+A:100 +B:200 +C:300 init select=C -A", "B C", "C", "none");
    row("unplugged selection: first row", "+A:100 +B:200 +C:300 init select=B -B", "A C", "A", "none");
    row("unplugged after the selection", "+A:100 +B:200 +C:300 init select=A -C", "A B", "A", "none");
    row("all unplugged", "+A:100 init -A", "", "none", "none");
    row("live drive becomes the candidate", "+A:100 +L:300:live init", "A L", "A", "L");
    row("newest live drive takes the role", "+L:300:live init +M:100:live", "M L", "M", "M");
    row("candidate unplugged: largest live drive left", "+L:100:live +M:200:live +A:300 +N:250:live init -N", "L M A",
        "L", "M");
    row("candidate unplugged: none left", "+L:100:live +A:300 init -L", "A", "A", "none");
    // A backup disk is no written stick: it is offered only when asked for.
    row("plugged disk without a live image: not the candidate", "+L:100:live init +E:300:layout", "L E", "E", "L");
    row("candidate unplugged: not to a disk without a live image", "+E:300:layout +L:100:live init -L", "E", "E",
        "none");

    // While a drive is written, plugging does not move what the user confirmed.
    row("busy: plugged drive not selected", "+A:100 +B:200 init select=B busy=B +C:300", "A B C", "B", "none");
    row("busy: plugged before the selection, same drive", "+A:100 +B:200 init select=B busy=B +C:150", "A C B", "B",
        "none");
    row("busy: plugged live drive not the candidate", "+A:100 +L:200:live init busy=A +M:300:live", "A L M", "A", "L");
    row("busy: unplugged candidate not replaced", "+A:100 +L:200:live +M:300:live init busy=A -M", "A L", "A", "none");
    row("busy drive itself unplugged", "+A:100 +B:200 init select=B busy=B -B +C:300", "A C", "C", "none");
    row("idle again: plugged drive selected", "+A:100 +B:200 init select=A busy=B idle=B +C:300", "A B C", "C", "none");
}

void TestDriveManager::hotplug()
{
    QFETCH(QString, steps);
    QFETCH(QStringList, order);
    QFETCH(QString, selected);
    QFETCH(QString, restoreable);

    ScriptedManager scripted;
    DriveManager &manager = scripted.manager;
    QAbstractItemModelTester tester(&manager, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QHash<QString, StubDrive *> drives;
    const auto drive = [&](const QString &name) {
        StubDrive *d = drives.value(name);
        if (!d)
            qFatal("no drive %s in the steps", qPrintable(name));
        return d;
    };
    for (const QString &step : steps.split(QLatin1Char(' '))) {
        if (step.startsWith(QLatin1Char('+'))) {
            const QStringList parts = step.mid(1).split(QLatin1Char(':'));
            drives.insert(parts.at(0),
                          scripted.provider->plug(parts.at(0), parts.at(1).toULongLong(), parts.size() > 2,
                                                  parts.value(2) == QLatin1String("live")));
        } else if (step.startsWith(QLatin1Char('-'))) {
            scripted.provider->unplug(drive(step.mid(1)));
        } else if (step == QLatin1String("init")) {
            scripted.provider->finishScan();
        } else if (step.startsWith(QLatin1String("select="))) {
            manager.setSelectedIndex(int(rawNames(manager).indexOf(step.mid(7))));
        } else if (step.startsWith(QLatin1String("busy="))) {
            drive(step.mid(5))->setBusyNow(true);
        } else if (step.startsWith(QLatin1String("idle="))) {
            drive(step.mid(5))->setBusyNow(false);
        }
    }

    QCOMPARE(rawNames(manager), order);
    QCOMPARE(manager.length(), order.size());
    QCOMPARE(rawNameOf(manager.selected()), selected);
    if (order.isEmpty())
        QCOMPARE(manager.selectedIndex(), 0);
    QCOMPARE(rawNameOf(manager.lastRestoreable()), restoreable);
    for (StubDrive *d : std::as_const(drives))
        QCOMPARE(manager.contains(d), order.contains(d->rawName()));
    QVERIFY(!manager.contains(nullptr));
}

void TestDriveManager::selectionSetterIgnoresWhatIsNotARow()
{
    ScriptedManager scripted;
    DriveManager &manager = scripted.manager;
    scripted.provider->plug(QStringLiteral("A"), 100);
    scripted.provider->plug(QStringLiteral("B"), 200);
    QSignalSpy selectedChanged(&manager, &DriveManager::selectedChanged);
    QVERIFY(selectedChanged.isValid());

    for (int ignored : { -1, 2, 0 })
        manager.setSelectedIndex(ignored);
    QCOMPARE(selectedChanged.size(), 0);
    QCOMPARE(manager.selectedIndex(), 0);

    manager.setSelectedIndex(1);
    QCOMPARE(selectedChanged.size(), 1);
    QCOMPARE(rawNameOf(manager.selected()), QStringLiteral("B"));
}

void TestDriveManager::restoreCandidateFollowsStatuses()
{
    ScriptedManager scripted;
    DriveManager &manager = scripted.manager;
    scripted.provider->finishScan();
    StubDrive *small = scripted.provider->plug(QStringLiteral("small"), 100, true);
    StubDrive *large = scripted.provider->plug(QStringLiteral("large"), 300, true);
    StubDrive *clean = scripted.provider->plug(QStringLiteral("clean"), 200);
    QCOMPARE(manager.lastRestoreable(), large);
    QSignalSpy changed(&manager, &DriveManager::restoreableDriveChanged);
    QVERIFY(changed.isValid());

    // A restore starting on the candidate hands the role on.
    large->setRestoreStatus(Drive::RESTORING);
    QCOMPARE(manager.lastRestoreable(), small);
    QCOMPARE(changed.size(), 1);
    // A write finished on a clean drive makes it the candidate (as the page does).
    clean->setRestoreStatus(Drive::CONTAINS_LIVE);
    QCOMPARE(manager.lastRestoreable(), clean);
    // Assigning the same drive again, or one that is not listed, changes nothing or clears.
    manager.setLastRestoreable(clean);
    QCOMPARE(changed.size(), 2);
    StubDrive stray(scripted.provider, QStringLiteral("stray"), 50, true);
    manager.setLastRestoreable(&stray);
    QCOMPARE(manager.lastRestoreable(), nullptr);
    QCOMPARE(changed.size(), 3);
    // The page clears it after a restore.
    manager.setLastRestoreable(small);
    manager.setLastRestoreable(nullptr);
    QCOMPARE(manager.lastRestoreable(), nullptr);
    QCOMPARE(changed.size(), 5);
}

void TestDriveManager::modelRolesAndHeaders()
{
    ScriptedManager scripted;
    DriveManager &manager = scripted.manager;
    QAbstractItemModelTester tester(&manager, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QSignalSpy drivesChanged(&manager, &DriveManager::drivesChanged);
    QVERIFY(drivesChanged.isValid());
    StubDrive *drive = scripted.provider->plug(QStringLiteral("SanDisk Cruzer"), 16008609792ULL);
    QCOMPARE(drivesChanged.size(), 1);

    const QHash<int, QByteArray> roles { { 257, "drive" }, { 258, "display" } };
    QCOMPARE(manager.roleNames(), roles);
    const QModelIndex row = manager.index(0);
    QCOMPARE(manager.data(row, 257).value<Drive *>(), drive);
    QCOMPARE(manager.data(row, 258).toString(), QStringLiteral("SanDisk Cruzer (16.0 GB)"));
    QVERIFY(!manager.data(row, Qt::DisplayRole).isValid());
    QVERIFY(!manager.data(QModelIndex(), 258).isValid());
    QCOMPARE(manager.headerData(5, Qt::Vertical, 257).toString(), QStringLiteral("drive"));
    QCOMPARE(manager.headerData(0, Qt::Horizontal, 258).toString(), QStringLiteral("display"));
    QVERIFY(!manager.headerData(0, Qt::Horizontal, Qt::DisplayRole).isValid());
}

void TestDriveManager::sizeChangeKeepsOrderAndSelection()
{
    ScriptedManager scripted;
    DriveManager &manager = scripted.manager;
    QAbstractItemModelTester tester(&manager, QAbstractItemModelTester::FailureReportingMode::QtTest);
    StubDrive *reader = scripted.provider->plug(QStringLiteral("Reader"), 100);
    scripted.provider->plug(QStringLiteral("B"), 200);
    scripted.provider->plug(QStringLiteral("C"), 300);
    manager.setSelectedIndex(2);
    QSignalSpy dataChanged(&manager, &DriveManager::dataChanged);
    QVERIFY(dataChanged.isValid());

    // Another card in the same reader: the object stays, the size changes.
    reader->updateDrive(QStringLiteral("Reader"), 250, false);
    QCOMPARE(rawNames(manager), (QStringList { "B", "Reader", "C" }));
    QCOMPARE(rawNameOf(manager.selected()), QStringLiteral("C"));
    QCOMPARE(dataChanged.size(), 1);
    QCOMPARE(manager.data(dataChanged.constFirst().at(0).toModelIndex(), 258).toString(),
             QStringLiteral("Reader (250 B)"));

    manager.setSelectedIndex(1);
    reader->updateDrive(QStringLiteral("Reader"), 50, false);
    QCOMPARE(rawNames(manager), (QStringList { "Reader", "B", "C" }));
    QCOMPARE(rawNameOf(manager.selected()), QStringLiteral("Reader"));
}

void TestDriveManager::backendBroken()
{
    ScriptedManager scripted;
    DriveManager &manager = scripted.manager;
    scripted.provider->plug(QStringLiteral("A"), 100);
    QSignalSpy broken(&manager, &DriveManager::isBackendBrokenChanged);
    QVERIFY(broken.isValid());
    QVERIFY(!manager.isBackendBroken());

    scripted.provider->breakBackend(QStringLiteral("UDisks2 is gone"));
    QCOMPARE(broken.size(), 1);
    QVERIFY(manager.isBackendBroken());
    QCOMPARE(manager.property("isBroken").toBool(), true);
    QCOMPARE(manager.errorString(), QStringLiteral("UDisks2 is gone"));
    // Drives already listed stay.
    QCOMPARE(manager.length(), 1);
}

// The names the pages use, evaluated as the pages evaluate them.
void TestDriveManager::pagesSeeTheList()
{
    ScriptedManager scripted;
    DriveManager &manager = scripted.manager;
    scripted.provider->finishScan();
    scripted.provider->plug(QStringLiteral("Stick"), 8000000000ULL);
    StubDrive *live = scripted.provider->plug(QStringLiteral("Live"), 16000000000ULL, true);
    live->progress()->setValue(0.25);

    QQmlEngine engine;
    engine.rootContext()->setContextProperty(QStringLiteral("drives"), &manager);
    const auto evaluate = [&engine](const char *expression) {
        QQmlExpression qml(engine.rootContext(), nullptr, QString::fromLatin1(expression));
        const QVariant value = qml.evaluate();
        return qml.hasError() ? QStringLiteral("error: ") + qml.error().toString() : value.toString();
    };
    QCOMPARE(evaluate("drives.length"), QStringLiteral("2"));
    QCOMPARE(evaluate("drives.selected.name"), QStringLiteral("Live (16.0 GB)"));
    QCOMPARE(evaluate("drives.selected.readableSize"), QStringLiteral("16.0 GB"));
    QCOMPARE(evaluate("drives.selected.size === 16000000000"), QStringLiteral("true"));
    QCOMPARE(evaluate("drives.selected.progress.ratio"), QStringLiteral("0.25"));
    QCOMPARE(evaluate("drives.lastRestoreable.restoreStatus"), QStringLiteral("1"));
    QCOMPARE(evaluate("drives.isBroken"), QStringLiteral("false"));
    QCOMPARE(evaluate("drives.contains(drives.selected)"), QStringLiteral("true"));
    // The pages write the selection and the restore candidate.
    evaluate("drives.selectedIndex = 0");
    QCOMPARE(manager.selectedIndex(), 0);
    evaluate("drives.lastRestoreable = null");
    QCOMPARE(manager.lastRestoreable(), nullptr);
    evaluate("drives.selected.setRestoreStatus(1)");
    QCOMPARE(manager.selected()->restoreStatus(), Drive::CONTAINS_LIVE);

    QQmlComponent component(&engine);
    component.setData("import QtQml\nimport Flashwright 1.0\nQtObject {\n"
                      "property var values: [Drive.CLEAN, Drive.CONTAINS_LIVE, Drive.RESTORING, Drive.RESTORE_ERROR,\n"
                      "Drive.RESTORED]\n}",
                      QUrl());
    QScopedPointer<QObject> object(component.create());
    QVERIFY2(object, qPrintable(component.errorString()));
    QCOMPARE(object->property("values").toList(), (QVariantList { 0, 1, 2, 3, 4 }));
    QQmlComponent drive(&engine);
    drive.setData("import Flashwright 1.0\nDrive {}", QUrl());
    QVERIFY(drive.isError());
}

void TestDriveManager::readableSize_data()
{
    QTest::addColumn<quint64>("bytes");
    QTest::addColumn<QString>("text");
    QTest::newRow("0") << quint64(0) << "0 B";
    QTest::newRow("999") << quint64(999) << "999 B";
    QTest::newRow("1000") << quint64(1000) << "1.0 KB";
    QTest::newRow("999999, not 1.0 MB") << quint64(999999) << "1000.0 KB";
    QTest::newRow("1000000") << quint64(1000000) << "1.0 MB";
    QTest::newRow("16 GB stick") << quint64(16008609792ULL) << "16.0 GB";
    QTest::newRow("2 TB disk") << quint64(2000398934016ULL) << "2.0 TB";
    QTest::newRow("above TB keeps the 10^15 divisor") << quint64(3000000000000000ULL) << "3.0 EB";
}

void TestDriveManager::readableSize()
{
    QFETCH(quint64, bytes);
    QFETCH(QString, text);
    ScriptedManager scripted;
    StubDrive drive(scripted.provider, QStringLiteral("Stick"), bytes, false);
    QCOMPARE(drive.readableSize(), text);
    QCOMPARE(drive.name(), QStringLiteral("Stick (%1)").arg(text));
    QCOMPARE(drive.size(), double(bytes));
}

void TestDriveManager::updateDriveKeepsRestoreOutcomes_data()
{
    QTest::addColumn<Drive::RestoreStatus>("before");
    QTest::addColumn<bool>("containsLive");
    QTest::addColumn<Drive::RestoreStatus>("after");
    QTest::newRow("clean becomes live") << Drive::CLEAN << true << Drive::CONTAINS_LIVE;
    QTest::newRow("live becomes clean") << Drive::CONTAINS_LIVE << false << Drive::CLEAN;
    QTest::newRow("restored stays") << Drive::RESTORED << true << Drive::RESTORED;
    QTest::newRow("restore error stays") << Drive::RESTORE_ERROR << true << Drive::RESTORE_ERROR;
    QTest::newRow("restoring stays") << Drive::RESTORING << false << Drive::RESTORING;
}

void TestDriveManager::updateDriveKeepsRestoreOutcomes()
{
    QFETCH(Drive::RestoreStatus, before);
    QFETCH(bool, containsLive);
    QFETCH(Drive::RestoreStatus, after);
    ScriptedManager scripted;
    StubDrive drive(scripted.provider, QStringLiteral("Stick"), 1000, false);
    drive.setRestoreStatus(before);
    QSignalSpy info(&drive, &Drive::infoChanged);
    QVERIFY(info.isValid());

    drive.updateDrive(QStringLiteral("Stick"), 1000, containsLive);
    QCOMPARE(drive.restoreStatus(), after);
    QCOMPARE(info.size(), 0);
    drive.updateDrive(QStringLiteral("Stick"), 2000, containsLive);
    QCOMPARE(info.size(), 1);
}

void TestDriveManager::cancelAndDelayedWrite()
{
    ScriptedManager scripted;
    StubDrive drive(scripted.provider, QStringLiteral("Stick"), 1000, true);
    QSignalSpy restore(&drive, &Drive::restoreStatusChanged);
    QSignalSpy delayed(&drive, &Drive::delayedWriteChanged);
    QVERIFY(restore.isValid() && delayed.isValid());

    // The reset announces both, changed or not.
    drive.cancel();
    drive.cancel();
    QCOMPARE(drive.restoreStatus(), Drive::CLEAN);
    QCOMPARE(restore.size(), 2);
    QCOMPARE(delayed.size(), 2);

    // Switching delayed writing on writes the stored image: with none there
    // is nothing to write, and nothing breaks.
    drive.setDelayedWrite(true);
    QVERIFY(drive.delayedWrite());
    QVERIFY(!drive.write(nullptr));
    drive.setDelayedWrite(true);
    QCOMPARE(delayed.size(), 3);
    drive.setDelayedWrite(false);
    QVERIFY(!drive.delayedWrite());
}

QTEST_GUILESS_MAIN(TestDriveManager)
#include "tst_drivemanager.moc"
