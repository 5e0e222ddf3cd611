#pragma once

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QQmlListProperty>
#include <QString>
#include <QStringList>

class ReleaseManager;
class ReleaseVersion;

Q_MOC_INCLUDE("releaseversion.h")
Q_MOC_INCLUDE("releasemanager.h")

// One offer of the catalogue: an edition of one operating-system line, or the
// fixed custom-image entry for a file from the user's disk. It holds its
// versions in descending order of version number.
class Release : public QObject
{
    Q_OBJECT
    Q_PROPERTY(int index READ index CONSTANT)
    Q_PROPERTY(QString name READ name CONSTANT)
    Q_PROPERTY(QString summary READ summary CONSTANT)
    Q_PROPERTY(QString description READ description CONSTANT)
    Q_PROPERTY(Source source READ source CONSTANT)
    Q_PROPERTY(Edition edition READ edition CONSTANT)
    Q_PROPERTY(bool isLocal READ isLocal CONSTANT)
    Q_PROPERTY(QString category READ sourceString CONSTANT)
    Q_PROPERTY(QString icon READ icon CONSTANT)
    Q_PROPERTY(QStringList screenshots READ screenshots CONSTANT)
    Q_PROPERTY(QString prerelease READ prerelease NOTIFY prereleaseChanged)
    Q_PROPERTY(QQmlListProperty<ReleaseVersion> versions READ versions NOTIFY versionsChanged)
    Q_PROPERTY(QStringList versionNames READ versionNames NOTIFY versionsChanged)
    Q_PROPERTY(ReleaseVersion *version READ selectedVersion NOTIFY selectedVersionChanged)
    Q_PROPERTY(int versionIndex READ selectedVersionIndex WRITE setSelectedVersionIndex NOTIFY selectedVersionChanged)

public:
    // The pages mirror these numbers; renumbering breaks them.
    enum Source { ZV80 = 0, ZV73 = 1, LOCAL = 2, OTHER = 3 };
    Q_ENUM(Source)
    enum Edition { STANDART = 0, CERT = 1, HOME = 2, EDUCATION = 3, NONE = 4 };
    Q_ENUM(Edition)

    Release(ReleaseManager *parent, int index, const QString &name, const QString &summary,
            const QStringList &description, const QString &subvariant, Source source, Edition edition,
            const QString &icon, const QStringList &screenshots);

    [[nodiscard]] ReleaseManager *manager() const;

    [[nodiscard]] int index() const { return m_index; }
    [[nodiscard]] QString name() const { return m_name; }
    [[nodiscard]] QString summary() const;
    [[nodiscard]] QString description() const;
    [[nodiscard]] QString subvariant() const { return m_subvariant; }
    [[nodiscard]] Source source() const { return m_source; }
    [[nodiscard]] Edition edition() const { return m_edition; }
    [[nodiscard]] bool isLocal() const { return m_source == LOCAL; }
    [[nodiscard]] QString icon() const { return m_icon; }
    [[nodiscard]] QStringList screenshots() const { return m_screenshots; }
    [[nodiscard]] QString prerelease() const;

    Q_INVOKABLE QString sourceString() const;
    Q_INVOKABLE QString editionString() const;
    static Edition getEditionEnum(const QString &edition);

    [[nodiscard]] QQmlListProperty<ReleaseVersion> versions();
    [[nodiscard]] QStringList versionNames() const;
    [[nodiscard]] QList<ReleaseVersion *> versionList() const { return m_versions; }

    // Keeps the list in descending order of number; equal numbers keep the
    // order they came in.
    void addVersion(ReleaseVersion *version);
    // Takes the version out of the list. Its objects are deleted later, and
    // not before none of its images is being downloaded, checked or written:
    // a transfer or a drive may still be working on one of them.
    void removeVersion(ReleaseVersion *version);

    [[nodiscard]] ReleaseVersion *selectedVersion() const;
    [[nodiscard]] int selectedVersionIndex() const { return m_selectedVersion; }
    void setSelectedVersionIndex(int index);

    // Merges one catalogue entry; true when the tree changed.
    bool updateUrl(int number, const QString &status, const QString &type, const QDateTime &releaseDate,
                   const QString &architecture, const QString &url, const QString &md5, qint64 size);

    // The user's own image, for the custom-image entry only; path is a URL
    // text as the file dialogs give it, or empty.
    void setLocalFile(const QString &path);

signals:
    void versionsChanged();
    void selectedVersionChanged();
    void prereleaseChanged();

private:
    // Deletes the version as soon as none of its images is busy.
    void retire(ReleaseVersion *version);

    const int m_index;
    QString m_name;
    QString m_summary;
    QStringList m_description;
    QString m_subvariant;
    Source m_source;
    Edition m_edition;
    QString m_icon;
    QStringList m_screenshots;
    QList<ReleaseVersion *> m_versions;
    int m_selectedVersion = 0;
};
