#pragma once

#include "downloadreceiver.h"

#include <QDateTime>
#include <QList>
#include <QSortFilterProxyModel>
#include <QString>
#include <QStringList>

class DriveBackend;
struct FeedEntry;
class QTimer;
class Release;
class ReleaseArchitecture;
class ReleaseListModel;
class ReleaseVariant;

Q_MOC_INCLUDE("feedentry.h")
Q_MOC_INCLUDE("release.h")
Q_MOC_INCLUDE("releasearchitecture.h")
Q_MOC_INCLUDE("releasevariant.h")

// The catalogue as the pages see it (`releases`): fetches the feed and turns
// it into releases, filters them by operating-system line, edition and
// architecture, and holds the selection and the user's own image.
class ReleaseManager : public QSortFilterProxyModel, public DownloadReceiver
{
    Q_OBJECT
    Q_PROPERTY(bool frontPage READ frontPage WRITE setFrontPage NOTIFY frontPageChanged)
    Q_PROPERTY(
        int filterArchitecture READ filterArchitecture WRITE setFilterArchitecture NOTIFY filterArchitectureChanged)
    Q_PROPERTY(int filterSource READ filterSource WRITE setFilterSource NOTIFY filterSourceChanged)
    Q_PROPERTY(int filterEdition READ filterEdition WRITE setFilterEdition NOTIFY filterEditionChanged)
    Q_PROPERTY(QString filterText READ filterText WRITE setFilterText NOTIFY filterTextChanged)
    Q_PROPERTY(Release *selected READ selected NOTIFY selectedChanged)
    Q_PROPERTY(int selectedIndex READ selectedIndex WRITE setSelectedIndex NOTIFY selectedChanged)
    Q_PROPERTY(ReleaseVariant *variant READ variant NOTIFY variantChanged)
    Q_PROPERTY(QStringList architectures READ architectures CONSTANT)
    Q_PROPERTY(QList<ReleaseArchitecture *> availableArchitectures READ availableArchitectures NOTIFY
                   availableArchitecturesChanged)
    Q_PROPERTY(ReleaseVariant *localFile READ localFile NOTIFY localFileChanged)
    Q_PROPERTY(int firstSource READ firstSource NOTIFY firstSourceChanged)
    Q_PROPERTY(int firstEdition READ firstEdition NOTIFY firstEditionChanged)
    Q_PROPERTY(bool isReady READ isReady NOTIFY isReadyChanged)

public:
    static constexpr int FetchInterval = 5000;
    static constexpr int RetryInterval = 10000;

    explicit ReleaseManager(QObject *parent = nullptr);
    ~ReleaseManager() override;

    [[nodiscard]] ReleaseListModel *releaseList() const { return m_list; }

    [[nodiscard]] bool frontPage() const { return m_frontPage; }
    void setFrontPage(bool frontPage);
    [[nodiscard]] QString filterText() const { return m_filterText; }
    void setFilterText(const QString &text);
    [[nodiscard]] int filterArchitecture() const { return m_filterArchitecture; }
    void setFilterArchitecture(int architecture);
    [[nodiscard]] int filterSource() const { return m_filterSource; }
    void setFilterSource(int source);
    [[nodiscard]] int filterEdition() const { return m_filterEdition; }
    void setFilterEdition(int edition);
    Q_INVOKABLE void filterEditionAndSource(int edition, int source);

    [[nodiscard]] Release *selected() const;
    [[nodiscard]] int selectedIndex() const { return m_selectedIndex; }
    void setSelectedIndex(int index);
    [[nodiscard]] ReleaseVariant *variant() const;

    [[nodiscard]] QStringList architectures() const;
    [[nodiscard]] QList<ReleaseArchitecture *> availableArchitectures() const;
    // Brings the architecture filter to one the current source and edition offer.
    void ensureValidFilterArchitecture();

    [[nodiscard]] ReleaseVariant *localFile() const;
    [[nodiscard]] int firstSource() const;
    [[nodiscard]] int firstEdition() const;
    [[nodiscard]] bool isReady() const { return m_isReady; }
    // From the start of a fetch until a reply was taken as a feed.
    [[nodiscard]] bool isBeingUpdated() const { return m_beingUpdated; }

    // Rows of the unfiltered list.
    Q_INVOKABLE Release *get(int index) const;
    Q_INVOKABLE void selectLocalFile(const QString &path);
    Q_INVOKABLE void selectLocalFile();
    Q_INVOKABLE bool isWindows() const;
    Q_INVOKABLE bool hasEdition(int edition) const;

    [[nodiscard]] bool filterAcceptsRow(int sourceRow, const QModelIndex &sourceParent) const override;

    // Merges one feed entry's image into the release of its subvariant;
    // false when nothing was merged, also when FeedEntry::checkImage refuses
    // the image.
    bool updateUrl(const QString &subvariant, int number, const QString &status, const QString &type,
                   const QDateTime &releaseDate, const QString &architecture, const QString &url, const QString &md5,
                   qint64 size);

    void onStringDownloaded(const QString &text) override;
    void onDownloadError(const QString &message) override;

    // The drive side, asked whether writing is possible at all; may be null.
    void setDriveBackend(DriveBackend *backend);
    [[nodiscard]] DriveBackend *driveBackend() const { return m_driveBackend; }

    // The fetch and retry intervals are fixed in the program; tests shorten them.
    [[nodiscard]] int fetchInterval() const;
    void setFetchInterval(int milliseconds);
    [[nodiscard]] int retryInterval() const;
    void setRetryInterval(int milliseconds);

public slots:
    void fetchReleases();
    void variantChangedFilter();
    // Ready images report differently while the back end is broken; tells
    // everyone who shows a status.
    void onDriveBackendChanged();

signals:
    void isReadyChanged();
    void beingUpdatedChanged();
    void frontPageChanged();
    void filterTextChanged();
    void filterArchitectureChanged();
    void filterSourceChanged();
    void filterEditionChanged();
    void selectedChanged();
    void firstSourceChanged();
    void firstEditionChanged();
    void variantChanged();
    void localFileChanged();
    void availableArchitecturesChanged();

private slots:
    void onAppendToModelFinished(const FeedEntry &entry);
    void onReleaseFetchTimerEvent();

private:
    // After new images or a new filter: every version selects its first image
    // of the filter architecture, every release its newest final version
    // that has one, so the image the user gets is the one the page shows.
    void selectForFilterArchitecture();
    // What follows merged images: a valid architecture, the selection, the filter.
    void catalogueChanged();

    ReleaseListModel *m_list = nullptr;
    bool m_frontPage = true;
    QString m_filterText;
    int m_filterArchitecture = 1;
    int m_filterSource = 0;
    int m_filterEdition = 0;
    int m_selectedIndex = 0;
    bool m_beingUpdated = false;
    bool m_isReady = false;
    QTimer *m_fetchTimer = nullptr;
    // One retry at a time, however many fetches fail meanwhile.
    QTimer *m_retryTimer = nullptr;
    DriveBackend *m_driveBackend = nullptr;
};
