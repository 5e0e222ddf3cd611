#pragma once

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QQmlListProperty>
#include <QString>

class Release;
class ReleaseVariant;

Q_MOC_INCLUDE("releasevariant.h")
Q_MOC_INCLUDE("release.h")

// One numbered version of a release, with its images (variants) in the order
// they were added.
class ReleaseVersion : public QObject
{
    Q_OBJECT
    Q_PROPERTY(int number READ number CONSTANT)
    Q_PROPERTY(QString name READ name CONSTANT)
    Q_PROPERTY(Status status READ status NOTIFY statusChanged)
    Q_PROPERTY(QDateTime releaseDate READ releaseDate NOTIFY releaseDateChanged)
    Q_PROPERTY(QQmlListProperty<ReleaseVariant> variants READ variants NOTIFY variantsChanged)
    Q_PROPERTY(ReleaseVariant *variant READ selectedVariant NOTIFY selectedVariantChanged)
    Q_PROPERTY(int variantIndex READ selectedVariantIndex WRITE setSelectedVariantIndex NOTIFY selectedVariantChanged)

public:
    // From the most final to the least final; merging compares these numbers.
    enum Status { FINAL = 0, RELEASE_CANDIDATE = 1, BETA = 2, ALPHA = 3 };
    Q_ENUM(Status)

    ReleaseVersion(Release *parent, int number, Status status, const QDateTime &releaseDate);
    // The custom image: version 0 with one image, the user's file.
    ReleaseVersion(Release *parent, const QString &file, qint64 size);

    [[nodiscard]] Release *release() const;
    [[nodiscard]] int number() const { return m_number; }
    [[nodiscard]] QString name() const;
    [[nodiscard]] Status status() const { return m_status; }
    [[nodiscard]] QDateTime releaseDate() const { return m_releaseDate; }

    [[nodiscard]] QQmlListProperty<ReleaseVariant> variants();
    [[nodiscard]] QList<ReleaseVariant *> variantList() const { return m_variants; }
    void addVariant(ReleaseVariant *variant);

    [[nodiscard]] ReleaseVariant *selectedVariant() const;
    [[nodiscard]] int selectedVariantIndex() const { return m_selectedVariant; }
    void setSelectedVariantIndex(int index);

    // Merges one catalogue entry into this version; false when the entry is
    // less final than the version and so is refused.
    bool updateUrl(const QString &status, const QString &type, const QDateTime &releaseDate,
                   const QString &architecture, const QString &url, const QString &md5, qint64 size);

    // "alpha" and "beta" give those; any other word is a final version.
    static Status statusFromWord(const QString &word);

signals:
    void variantsChanged();
    void selectedVariantChanged();
    void statusChanged();
    void releaseDateChanged();

private:
    void connectToManager();

    const int m_number;
    Status m_status;
    QDateTime m_releaseDate;
    QList<ReleaseVariant *> m_variants;
    int m_selectedVariant = 0;
};
