#pragma once

#include <QAbstractListModel>
#include <QHash>
#include <QList>

struct FeedEntry;
class Release;
class ReleaseManager;

Q_MOC_INCLUDE("feedentry.h")
Q_MOC_INCLUDE("release.h")

// Every release of the catalogue in the order it was created: row 0 is the
// custom-image entry, the other rows come from the feed. Rows are only ever
// appended.
class ReleaseListModel : public QAbstractListModel
{
    Q_OBJECT

public:
    enum ItemRole { ReleaseRole = Qt::UserRole + 1, SourceIndexRole };
    Q_ENUM(ItemRole)

    explicit ReleaseListModel(ReleaseManager *parent);

    [[nodiscard]] ReleaseManager *manager() const;

    [[nodiscard]] int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    [[nodiscard]] QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    [[nodiscard]] QVariant headerData(int section, Qt::Orientation orientation,
                                      int role = Qt::DisplayRole) const override;
    [[nodiscard]] QHash<int, QByteArray> roleNames() const override;

    // Null outside the list.
    Q_INVOKABLE Release *get(int index) const;
    [[nodiscard]] QList<Release *> releases() const { return m_releases; }

    // Builds a release from one feed entry and appends it; the entry's image
    // is merged (through appendToModelFinished) before this returns.
    void appendRelease(const FeedEntry &entry);

    // The first feed release whose lower-cased subvariant equals subvariant;
    // null when there is none. The custom-image entry is never found.
    [[nodiscard]] Release *findSubvariant(const QString &subvariant) const;

signals:
    void appendToModelFinished(const FeedEntry &entry);

private:
    QList<Release *> m_releases;
    QHash<QString, Release *> m_bySubvariant;
};
