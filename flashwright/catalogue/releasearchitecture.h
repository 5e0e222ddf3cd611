#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

// One entry of the fixed table of processor architectures that images are
// built for. The four entries are statics of the program; their position in
// the table is their id, which the pages and the filter use.
class ReleaseArchitecture : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QStringList abbreviation READ abbreviation CONSTANT)
    Q_PROPERTY(QString description READ description CONSTANT)
    Q_PROPERTY(QString details READ details CONSTANT)
    Q_PROPERTY(Id id READ id CONSTANT)

public:
    enum Id { AARCH64 = 0, X86_64, X86, ARM, _ARCHCOUNT };
    Q_ENUM(Id)

    [[nodiscard]] QStringList abbreviation() const { return m_abbreviation; }
    // Translated on every read.
    [[nodiscard]] QString description() const;
    [[nodiscard]] QString details() const;
    [[nodiscard]] int index() const;
    [[nodiscard]] Id id() const { return Id(index()); }

    // Null outside the table.
    static ReleaseArchitecture *fromId(Id id);
    // Exact, case-sensitive match on one of the abbreviations; null when none matches.
    static ReleaseArchitecture *fromAbbreviation(const QString &abbreviation);
    static bool isKnown(const QString &abbreviation);
    static QList<ReleaseArchitecture *> listAll();
    static QStringList listAllDescriptions();

private:
    ReleaseArchitecture(const QStringList &abbreviation, const char *description, const char *details);

    QStringList m_abbreviation;
    const char *m_description;
    const char *m_details;

    static ReleaseArchitecture m_all[];
};
