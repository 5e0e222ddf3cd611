#include "progress.h"

#include <QSignalSpy>
#include <QTest>

#include <cmath>
#include <functional>

class TestProgress : public QObject
{
    Q_OBJECT

private slots:
    void signalsAndValues_data();
    void signalsAndValues();
    void ratioIsNotClamped();
};

using Steps = std::function<void(Progress &)>;
Q_DECLARE_METATYPE(Steps)

void TestProgress::signalsAndValues_data()
{
    QTest::addColumn<Steps>("steps");
    QTest::addColumn<int>("valueSignals");
    QTest::addColumn<int>("toSignals");
    QTest::addColumn<double>("value");
    QTest::addColumn<double>("ratio");

    QTest::newRow("same value twice") << Steps([](Progress &p) {
        p.setValue(10);
        p.setValue(10);
    }) << 1 << 0 << 10.0 << 0.01;
    QTest::newRow("update is setValue") << Steps([](Progress &p) {
        p.update(500);
        p.update(500);
    }) << 1 << 0 << 500.0 << 0.5;
    QTest::newRow("new bound") << Steps([](Progress &p) {
        p.setValue(500);
        p.setTo(2000);
    }) << 2 << 1 << 500.0 << 0.25;
    QTest::newRow("same bound") << Steps([](Progress &p) { p.setTo(1000); }) << 0 << 0 << 0.0 << 0.0;
    QTest::newRow("ratio") << Steps([](Progress &p) { p.setValue(250); }) << 1 << 0 << 250.0 << 0.25;
    QTest::newRow("count out of total") << Steps([](Progress &p) { p.setValue(1, 4); }) << 1 << 0 << 250.0 << 0.25;
    QTest::newRow("above the bound") << Steps([](Progress &p) { p.setValue(1500); }) << 1 << 0 << 1500.0 << 1.5;
    QTest::newRow("below the bound") << Steps([](Progress &p) { p.setValue(-100); }) << 1 << 0 << -100.0 << -0.1;
    QTest::newRow("reset after construction") << Steps([](Progress &p) { p.reset(); }) << 0 << 0 << 0.0 << 0.0;
    QTest::newRow("reset") << Steps([](Progress &p) {
        p.setValue(700);
        p.reset();
    }) << 2 << 0 << 0.0 << 0.0;
    QTest::newRow("NaN every time") << Steps([](Progress &p) {
        p.setValue(qQNaN());
        p.setValue(qQNaN());
        p.setValue(qQNaN());
    }) << 3 << 0 << qQNaN() << qQNaN();
    QTest::newRow("NaN bound every time") << Steps([](Progress &p) {
        p.setTo(qQNaN());
        p.setTo(qQNaN());
    }) << 2 << 2 << 0.0 << qQNaN();
}

void TestProgress::signalsAndValues()
{
    QFETCH(Steps, steps);
    QFETCH(int, valueSignals);
    QFETCH(int, toSignals);
    QFETCH(double, value);
    QFETCH(double, ratio);

    Progress progress(nullptr, 0.0, 1000.0);
    QSignalSpy valueSpy(&progress, &Progress::valueChanged);
    QSignalSpy toSpy(&progress, &Progress::toChanged);

    steps(progress);

    QCOMPARE(valueSpy.count(), valueSignals);
    QCOMPARE(toSpy.count(), toSignals);
    if (std::isnan(value))
        QVERIFY(std::isnan(progress.value()));
    else
        QCOMPARE(progress.value(), value);
    if (std::isnan(ratio))
        QVERIFY(std::isnan(progress.ratio()));
    else
        QCOMPARE(progress.property("ratio").toDouble(), ratio);
}

void TestProgress::ratioIsNotClamped()
{
    // A range that starts elsewhere than 0, and an empty one.
    Progress shifted(nullptr, 100.0, 300.0);
    QCOMPARE(shifted.value(), 100.0);
    shifted.setValue(1, 2);
    QCOMPARE(shifted.value(), 200.0);
    QCOMPARE(shifted.ratio(), 0.5);

    Progress empty(nullptr, 5.0, 5.0);
    QVERIFY(std::isnan(empty.ratio()));
    empty.setValue(6);
    QVERIFY(std::isinf(empty.ratio()));
}

QTEST_GUILESS_MAIN(TestProgress)
#include "tst_progress.moc"
