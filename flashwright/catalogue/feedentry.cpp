#include "feedentry.h"

#include "releasearchitecture.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QRegularExpression>
#include <QUrl>

#include <algorithm>

namespace {

// ASCII digits within the range of qint64; anything else is no size.
qint64 sizeFromFeed(const QJsonValue &value)
{
    if (!value.isString())
        return 0;
    const QString text = value.toString();
    if (text.isEmpty())
        return 0;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return 0;
    }
    bool ok = false;
    const qint64 size = text.toLongLong(&ok);
    return ok ? size : 0;
}

// A calendar date "yyyy-MM-dd" at UTC midnight, so that no time-zone gap can
// make it invalid. Read by hand: QDate::fromString parses its format anew for
// every entry, which shows in a large feed.
QDateTime dateFromFeed(const QJsonValue &value)
{
    const QString text = value.toString();
    if (text.size() != 10 || text.at(4) != QLatin1Char('-') || text.at(7) != QLatin1Char('-'))
        return QDateTime();
    int fields[3] = {};
    const int starts[3] = { 0, 5, 8 };
    const int lengths[3] = { 4, 2, 2 };
    for (int f = 0; f < 3; ++f) {
        for (int i = starts[f]; i < starts[f] + lengths[f]; ++i) {
            const QChar c = text.at(i);
            if (c < QLatin1Char('0') || c > QLatin1Char('9'))
                return QDateTime();
            fields[f] = fields[f] * 10 + (c.unicode() - '0');
        }
    }
    const QDate date(fields[0], fields[1], fields[2]);
    return date.isValid() ? QDateTime(date, QTime(0, 0), Qt::UTC) : QDateTime();
}

QStringList stringList(const QJsonValue &value)
{
    QStringList list;
    const QJsonArray array = value.toArray();
    for (const QJsonValue &element : array)
        list.append(element.toString());
    return list;
}

} // namespace

QList<FeedEntry> FeedEntry::parse(const QByteArray &feed, QString *error)
{
    QJsonParseError parseError {};
    const QJsonDocument document = QJsonDocument::fromJson(feed, &parseError);
    if (error) {
        error->clear();
        if (!document.isArray()) {
            *error = parseError.error == QJsonParseError::NoError ? QStringLiteral("not an array")
                                                                  : parseError.errorString();
        }
    }
    if (!document.isArray())
        return {};

    static const QRegularExpression versionPattern(QStringLiteral("(\\d+)\\s?(\\S+)?"));
    const QJsonArray array = document.array();
    QList<FeedEntry> entries;
    entries.reserve(array.size());
    for (const QJsonValue &value : array) {
        const QJsonObject object = value.toObject();
        FeedEntry entry;
        entry.subvariant = object.value(QLatin1String("SUBVARIANT")).toString();
        entry.subvariantKey = entry.subvariant.toLower();
        entry.architecture = object.value(QLatin1String("ARCH")).toString().toLower();
        entry.url = object.value(QLatin1String("LINK")).toString();
        if (entry.subvariantKey.isEmpty() || entry.architecture.isEmpty() || entry.url.isEmpty())
            continue;

        const QString line = object.value(QLatin1String("VARIANT")).toString();
        if (line == QLatin1String("zv80"))
            entry.source = Release::ZV80;
        else if (line == QLatin1String("zv73"))
            entry.source = Release::ZV73;
        entry.edition = Release::getEditionEnum(object.value(QLatin1String("EDITION")).toString());
        entry.name = object.value(QLatin1String("NAME")).toString();
        entry.description = stringList(object.value(QLatin1String("DESCRIPTION")));
        entry.screenshots = stringList(object.value(QLatin1String("SCREENSHOTS")));
        entry.icon = object.contains(QLatin1String("ICON")) ? object.value(QLatin1String("ICON")).toString()
                                                            : QStringLiteral("qrc:/logos/placeholder");
        entry.md5 = object.value(QLatin1String("MD5")).toString();
        const QRegularExpressionMatch version
            = versionPattern.match(object.value(QLatin1String("VERSION")).toString().toLower());
        if (version.hasMatch()) {
            entry.versionNumber = version.captured(1).toInt();
            entry.versionStatus = version.captured(2);
        }
        entry.releaseDate = dateFromFeed(object.value(QLatin1String("releaseDate")));
        entry.size = sizeFromFeed(object.value(QLatin1String("SIZE")));
        entries.append(std::move(entry));
    }
    std::stable_sort(entries.begin(), entries.end(),
                     [](const FeedEntry &a, const FeedEntry &b) { return a.subvariantKey > b.subvariantKey; });
    return entries;
}

FeedEntry::Image FeedEntry::checkImage(const QString &architecture, const QString &link, const QString &md5)
{
    if (!ReleaseArchitecture::isKnown(architecture))
        return Image::UnknownArchitecture;
    const QUrl url(link, QUrl::TolerantMode);
    const QString scheme = url.scheme().toLower();
    const bool http = scheme == QLatin1String("http");
    if (!url.isValid() || url.host().isEmpty() || (!http && scheme != QLatin1String("https")))
        return Image::NotWebAddress;
    static const QRegularExpression digest(QStringLiteral("^[0-9a-fA-F]{32}$"));
    if (http && !digest.match(md5.trimmed()).hasMatch())
        return Image::PlainHttpWithoutMd5;
    return Image::Accepted;
}
