#pragma once

#include "fakeudisks2.h"
#include "privatebus.h"

#include <QJsonObject>
#include <QString>
#include <QTemporaryDir>

// What every fake helper test runs in: a private system bus with the fake
// UDisks2 service on it, and a scratch folder holding the ordinary file that
// the fake hands out as the device.
class HelperFixture
{
public:
    enum Tools { NoXz, NeedsXz };
    enum Outcome { Ready, Unavailable, Broken };

    // Scratch folder from a QTemporaryDir template; empty for the default.
    explicit HelperFixture(const QString &scratchTemplate = QString());

    // The checks of initTestCase(): the helper must have been built (Broken
    // when not); a missing tool means Unavailable (the tests skip); then the
    // bus is started. `why` says what went wrong.
    [[nodiscard]] Outcome start(Tools tools, QString *why);

    // Starts the fake with the target block object on drive "d1", opened as
    // `deviceFile`, with more keys of the fake's configuration.
    bool startFake(const QString &deviceFile, QJsonObject targetKeys = QJsonObject());

    [[nodiscard]] static QString target();
    [[nodiscard]] FakeUDisks2 &fake() { return m_fake; }
    [[nodiscard]] const FakeUDisks2 &fake() const { return m_fake; }
    [[nodiscard]] QString path() const { return m_dir.path(); }
    [[nodiscard]] QString filePath(const QString &name) const { return m_dir.filePath(name); }
    [[nodiscard]] QString device() const { return m_dir.filePath(QStringLiteral("device")); }

private:
    PrivateBus m_bus { PrivateBus::System };
    FakeUDisks2 m_fake;
    QTemporaryDir m_dir;
};

// initTestCase()'s start of the fixture: skips when a tool is missing, fails
// when the fixture is broken.
#define HELPER_FIXTURE_START(fixture, tools)                                                                           \
    do {                                                                                                               \
        QString why_;                                                                                                  \
        const HelperFixture::Outcome outcome_ = (fixture).start(tools, &why_);                                         \
        if (outcome_ == HelperFixture::Unavailable)                                                                    \
            QSKIP(qPrintable(why_));                                                                                   \
        QVERIFY2(outcome_ == HelperFixture::Ready, qPrintable(why_));                                                  \
    } while (false)
