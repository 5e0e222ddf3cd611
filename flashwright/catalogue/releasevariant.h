#pragma once

#include "downloadreceiver.h"
#include "imagecheck.h"

#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class Download;
class Progress;
class Release;
class ReleaseArchitecture;
class ReleaseVersion;

Q_MOC_INCLUDE("progress.h")
Q_MOC_INCLUDE("release.h")
Q_MOC_INCLUDE("releasearchitecture.h")
Q_MOC_INCLUDE("releaseversion.h")

// One image of the catalogue (one architecture and image type of a version),
// or the user's own file. It carries the image's whole life: download, the
// checks of the downloaded file, and the statuses the drives set while they
// write it. An image goes with its version (a newer catalogue, another own
// file), though never while it is downloaded, checked or written: whoever
// keeps a pointer to one holds it in a QPointer.
class ReleaseVariant : public QObject, public DownloadReceiver
{
    Q_OBJECT
    Q_PROPERTY(ReleaseArchitecture *arch READ arch CONSTANT)
    Q_PROPERTY(Type type READ type CONSTANT)
    Q_PROPERTY(QString name READ name CONSTANT)
    Q_PROPERTY(QString url READ url NOTIFY urlChanged)
    Q_PROPERTY(QString mdHash READ mdHash NOTIFY mdHashChanged)
    Q_PROPERTY(QString iso READ iso NOTIFY isoChanged)
    Q_PROPERTY(double size READ size NOTIFY sizeChanged)
    Q_PROPERTY(double realSize READ realSize NOTIFY realSizeChanged)
    Q_PROPERTY(Progress *progress READ progress CONSTANT)
    Q_PROPERTY(Status status READ status NOTIFY statusChanged)
    Q_PROPERTY(QString statusString READ statusString NOTIFY statusChanged)
    Q_PROPERTY(QString errorString READ errorString WRITE setErrorString NOTIFY errorStringChanged)

public:
    enum Type { LIVE = 0, NETINSTALL = 1, FULL = 2, ATOMIC = 3 };
    Q_ENUM(Type)

    // The pages mirror these numbers; renumbering breaks them.
    enum Status {
        PREPARING = 0,
        DOWNLOADING,
        DOWNLOAD_VERIFYING,
        READY,
        WRITING_NOT_POSSIBLE,
        WRITING,
        WRITE_VERIFYING,
        FINISHED,
        FAILED_VERIFICATION,
        FAILED_DOWNLOAD,
        FAILED,
    };
    Q_ENUM(Status)

    ReleaseVariant(ReleaseVersion *parent, const QString &url, const QString &md5, qint64 size,
                   ReleaseArchitecture *arch, Type type);
    // The custom image: the user's file, ready from the start.
    ReleaseVariant(ReleaseVersion *parent, const QString &file, qint64 size);
    ~ReleaseVariant() override;

    [[nodiscard]] ReleaseVersion *releaseVersion() const;
    [[nodiscard]] Release *release() const;

    [[nodiscard]] ReleaseArchitecture *arch() const { return m_arch; }
    [[nodiscard]] Type type() const { return m_type; }
    [[nodiscard]] QString name() const;
    // "<release> <version> <variant>", or the file name of the user's own image.
    [[nodiscard]] QString fullName() const;
    [[nodiscard]] QString url() const { return m_url; }
    [[nodiscard]] QString mdHash() const { return m_md5; }
    [[nodiscard]] QString iso() const { return m_iso; }
    [[nodiscard]] QString temporaryPath() const { return m_temporaryPath; }
    // The announced size in bytes, 0 when none was announced.
    [[nodiscard]] qint64 size() const { return m_size; }
    [[nodiscard]] qint64 realSize() const { return m_realSize > 0 ? m_realSize : m_size; }
    void setRealSize(qint64 size);
    // Created on first use, ranging from 0 to the size at that moment.
    [[nodiscard]] Progress *progress();

    // The stored status, except that a ready image reports
    // WRITING_NOT_POSSIBLE while the drive back end is broken.
    [[nodiscard]] Status status() const;
    [[nodiscard]] QString statusString() const;
    void setStatus(Status status);
    [[nodiscard]] QString errorString() const { return m_errorString; }
    void setErrorString(const QString &errorString);

    // Merges a catalogue entry's address, digest and size; true when anything changed.
    bool updateUrl(const QString &url, const QString &md5, qint64 size);

    // Whether a download, a check of the downloaded file or a write is going
    // on; such an image must not be deleted.
    [[nodiscard]] bool isBusy() const;

    // Announces the reported status again when it depends on the drive back end.
    void announceBackendChange();

    void onFileDownloaded(const QString &path, const QString &hash) override;
    // The transfer checked the implanted checksum as the file arrived: its
    // verdict stands in for reading the file once more.
    void onFileChecked(const QString &path, const QString &hash, ImplantedChecksum::Result implanted) override;
    void onDownloadError(const QString &message) override;

    Q_INVOKABLE bool erase();

    // Shows the position of a check of the file; never stops it (returns 0).
    int onMediaCheckAdvanced(long long offset, long long total);

public slots:
    void download();
    void resetStatus();

signals:
    void isoChanged();
    void statusChanged();
    void errorStringChanged();
    void urlChanged();
    void sizeChanged();
    void realSizeChanged();
    void mdHashChanged();

private:
    // A file that this variant has checked and found to be its image, so that
    // asking for it again does not read it once more.
    struct VerifiedFile
    {
        QString path;
        qint64 size = -1;
        QDateTime modified;
    };

    void initStatusTexts();
    // Takes an .xz image's real size from its index.
    void setIso(const QString &iso);
    void updateRealSize(const QString &path);
    void updateSizeFromFile(const QString &path);
    bool matchesVerifiedFile(const QString &path) const;
    void rememberVerifiedFile(const QString &path);
    void fail(const QString &message);

    // The final file already exists: check it against what the catalogue
    // announced before taking it as the image.
    void takeExistingFile(const QString &path);
    void onExistingFileChecked(const QString &path, ImageCheck::Result result);
    // The announced digest passed: the implanted one decides, read from the
    // file, or as the transfer found it (implanted set).
    void checkDownloadedFile(const QString &path, const QString &hash,
                             const std::optional<ImplantedChecksum::Result> &implanted);
    void onImplantedDigestChecked(const QString &path, ImageCheck::Result result);

    // Starts a check of the file (through start, given the check); done gets
    // its verdict on the main thread.
    void runCheck(const std::function<void(ImageCheck *)> &start,
                  const std::function<void(ImageCheck::Result)> &done);
    [[nodiscard]] bool isChecking() const { return m_check && m_check->isRunning(); }
    void abortCheck();
    // Whether the check's outcome may still set the status: not after the
    // status was reset meanwhile.
    [[nodiscard]] bool checkOwnsStatus() const { return m_checkGeneration == m_statusGeneration; }

    QStringList m_statusTexts;
    QString m_temporaryPath;
    QString m_iso;
    ReleaseArchitecture *m_arch;
    Type m_type;
    QString m_url;
    QString m_md5;
    qint64 m_size;
    // The size the catalogue gave, which the file's own size does not replace.
    qint64 m_announcedSize = 0;
    qint64 m_realSize = 0;
    Status m_status = PREPARING;
    QString m_errorString;
    Progress *m_progress = nullptr;

    // The transfer this variant receives from, until it has reported.
    QPointer<Download> m_transfer;
    VerifiedFile m_verified;

    ImageCheck *m_check = nullptr;
    // resetStatus() moves the status generation on; a check started in an
    // older generation keeps its effect on the file but leaves the status alone.
    quint64 m_statusGeneration = 0;
    quint64 m_checkGeneration = 0;
};
