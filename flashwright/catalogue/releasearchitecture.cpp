#include "releasearchitecture.h"

#include <QCoreApplication>

ReleaseArchitecture ReleaseArchitecture::m_all[] = {
    { { QStringLiteral("aarch64") },
      QT_TRANSLATE_NOOP("ReleaseArchitecture", "AArch64"),
      QT_TRANSLATE_NOOP("ReleaseArchitecture", "Image for for AArch64 machines") },
    { { QStringLiteral("x86_64") },
      QT_TRANSLATE_NOOP("ReleaseArchitecture", "x86_64"),
      QT_TRANSLATE_NOOP("ReleaseArchitecture", "Image for Intel, AMD and other compatible PCs (64-bit)") },
    { { QStringLiteral("x86"), QStringLiteral("i386"), QStringLiteral("i686") },
      QT_TRANSLATE_NOOP("ReleaseArchitecture", "x86"),
      QT_TRANSLATE_NOOP("ReleaseArchitecture", "Image for Intel, AMD and other compatible PCs (32-bit)") },
    { { QStringLiteral("armv7hl"), QStringLiteral("armhfp") },
      QT_TRANSLATE_NOOP("ReleaseArchitecture", "ARM v7"),
      QT_TRANSLATE_NOOP("ReleaseArchitecture",
                        "LZMA-compressed raw image for ARM v7-A machines like the Raspberry Pi 2 and 3") },
};

ReleaseArchitecture::ReleaseArchitecture(const QStringList &abbreviation, const char *description, const char *details)
    : m_abbreviation(abbreviation)
    , m_description(description)
    , m_details(details)
{ }

QString ReleaseArchitecture::description() const
{
    return QCoreApplication::translate("ReleaseArchitecture", m_description);
}

QString ReleaseArchitecture::details() const
{
    return QCoreApplication::translate("ReleaseArchitecture", m_details);
}

int ReleaseArchitecture::index() const
{
    return int(this - m_all);
}

ReleaseArchitecture *ReleaseArchitecture::fromId(Id id)
{
    if (id < 0 || id >= _ARCHCOUNT)
        return nullptr;
    return &m_all[id];
}

ReleaseArchitecture *ReleaseArchitecture::fromAbbreviation(const QString &abbreviation)
{
    for (ReleaseArchitecture &architecture : m_all) {
        if (architecture.m_abbreviation.contains(abbreviation))
            return &architecture;
    }
    return nullptr;
}

bool ReleaseArchitecture::isKnown(const QString &abbreviation)
{
    return fromAbbreviation(abbreviation) != nullptr;
}

QList<ReleaseArchitecture *> ReleaseArchitecture::listAll()
{
    QList<ReleaseArchitecture *> all;
    for (ReleaseArchitecture &architecture : m_all)
        all.append(&architecture);
    return all;
}

QStringList ReleaseArchitecture::listAllDescriptions()
{
    QStringList descriptions;
    for (const ReleaseArchitecture &architecture : m_all)
        descriptions.append(architecture.description());
    return descriptions;
}
