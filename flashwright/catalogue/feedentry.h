#pragma once

#include "release.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

// One image of the catalogue feed, read and checked: what the catalogue needs
// to make the entry's release and to merge its image. The feed itself is
// untrusted input; parse() is the one place that reads it.
struct FeedEntry
{
    // Whether the image may be merged. A refused image still makes its
    // release; only the image is left out.
    enum class Image {
        Accepted,
        UnknownArchitecture,
        // Not http or https with a host: "file:///dev/zero" would fill the disk.
        NotWebAddress,
        // Anyone on the network path can replace what plain http brings; only
        // a digest from the catalogue makes such an image trustworthy.
        PlainHttpWithoutMd5,
    };

    QString subvariant; // as the feed writes it
    QString subvariantKey; // lower-cased: groups the entries into releases
    Release::Source source = Release::OTHER;
    Release::Edition edition = Release::NONE;
    QString name;
    QStringList description;
    QStringList screenshots;
    QString icon;
    QString architecture; // lower-cased
    QString url;
    QString md5;
    int versionNumber = 0;
    QString versionStatus; // "beta", "alpha", ... empty for a final version
    QDateTime releaseDate; // invalid when absent or malformed
    qint64 size = 0; // 0 when absent or not a decimal string

    // Whether this entry's image may be merged.
    [[nodiscard]] Image image() const { return checkImage(architecture, url, md5); }

    // The usable entries of a feed (those with "SUBVARIANT", "ARCH" and
    // "LINK"), in descending order of subvariantKey; entries of one key keep
    // the feed's order, so the same feed always gives the same catalogue.
    // When the feed is not a JSON array: no entries, and *error says why
    // (it is empty otherwise).
    static QList<FeedEntry> parse(const QByteArray &feed, QString *error = nullptr);
    // The one rule for which images are taken (architecture lower-cased).
    static Image checkImage(const QString &architecture, const QString &url, const QString &md5);
};
