// Reading the catalogue feed, on the parser alone: which documents are a
// feed, which entries are used and in which order, what each key gives and
// which image links are taken.
#include "catalogueenvironment.h"
#include "feedentry.h"

using CatalogueEnvironment::entry;
using CatalogueEnvironment::Entry;
using CatalogueEnvironment::feed;

Q_DECLARE_METATYPE(FeedEntry::Image)

namespace {

QJsonObject with(QJsonObject object, const char *key, const QJsonValue &value)
{
    if (value.isUndefined())
        object.remove(QLatin1String(key));
    else
        object.insert(QLatin1String(key), value);
    return object;
}

QList<FeedEntry> parse(const QList<QJsonObject> &objects)
{
    return FeedEntry::parse(feed(objects).toUtf8());
}

// The field that key fills, as text.
QString field(const FeedEntry &entry, const QString &key)
{
    const QDate date = entry.releaseDate.date();
    const QHash<QString, QString> fields {
        { "SUBVARIANT", entry.subvariant + QLatin1Char(' ') + entry.subvariantKey },
        { "ARCH", entry.architecture },
        { "VARIANT", QString::number(entry.source) },
        { "EDITION", QString::number(entry.edition) },
        { "NAME", entry.name },
        { "VERSION", QStringLiteral("%1 %2").arg(entry.versionNumber).arg(entry.versionStatus).trimmed() },
        { "SIZE", QString::number(entry.size) },
        { "releaseDate", entry.releaseDate.isValid() ? date.toString(Qt::ISODate) : QString() },
        { "ICON", entry.icon },
        { "DESCRIPTION", entry.description.join(QLatin1Char('|')) },
        { "SCREENSHOTS", entry.screenshots.join(QLatin1Char('|')) },
    };
    return fields.value(key);
}

} // namespace

class TestFeedEntry : public QObject
{
    Q_OBJECT

private slots:
    void documents_data();
    void documents();
    void usableEntriesInOrder();
    void values_data();
    void values();
    void images_data();
    void images();
};

void TestFeedEntry::documents_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("isFeed");

    QTest::newRow("empty array") << QByteArray("[]") << true;
    QTest::newRow("array without objects") << QByteArray("[1, \"zv80\", null, []]") << true;
    QTest::newRow("object") << QByteArray("{\"SUBVARIANT\": \"zv80\"}") << false;
    QTest::newRow("garbage") << QByteArray("<html>Bad gateway</html>") << false;
    QTest::newRow("nothing") << QByteArray() << false;
}

void TestFeedEntry::documents()
{
    QFETCH(QByteArray, body);
    QFETCH(bool, isFeed);

    QString error = "left from before";
    QVERIFY(FeedEntry::parse(body, &error).isEmpty());
    QCOMPARE(error.isEmpty(), isFeed);
}

void TestFeedEntry::usableEntriesInOrder()
{
    QList<QJsonObject> objects;
    for (const char *word : { "b", "A", "B", "c", "a" })
        objects.append(entry(QLatin1String(word)).toObject());
    const QJsonObject unused = entry(QStringLiteral("unused")).toObject();
    objects.insert(2, with(unused, "LINK", QJsonValue::Undefined));
    objects.insert(4, with(unused, "ARCH", QString()));
    objects.append(with(unused, "SUBVARIANT", 5));
    objects.append(QJsonObject());

    // Descending by the lower-cased subvariant; equal words in feed order.
    QStringList words;
    for (const FeedEntry &entry : parse(objects))
        words.append(entry.subvariant);
    QCOMPARE(words, (QStringList { "c", "b", "B", "A", "a" }));
}

void TestFeedEntry::values_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QJsonValue>("value");
    QTest::addColumn<QString>("expected");

    const QString other = QString::number(Release::OTHER);
    const QString none = QString::number(Release::NONE);
    QTest::newRow("subvariant") << "SUBVARIANT" << QJsonValue("Zv80-Home") << "Zv80-Home zv80-home";
    QTest::newRow("architecture") << "ARCH" << QJsonValue("X86_64") << "x86_64";
    QTest::newRow("name") << "NAME" << QJsonValue("Zelvan 8") << "Zelvan 8";
    QTest::newRow("line zv80") << "VARIANT" << QJsonValue("zv80") << QString::number(Release::ZV80);
    QTest::newRow("line zv73") << "VARIANT" << QJsonValue("zv73") << QString::number(Release::ZV73);
    QTest::newRow("line in upper case") << "VARIANT" << QJsonValue("ZV80") << other;
    QTest::newRow("other line") << "VARIANT" << QJsonValue("community") << other;
    QTest::newRow("no line") << "VARIANT" << QJsonValue(QJsonValue::Undefined) << other;
    QTest::newRow("standart") << "EDITION" << QJsonValue("standart") << QString::number(Release::STANDART);
    QTest::newRow("Standart") << "EDITION" << QJsonValue("Standart") << QString::number(Release::STANDART);
    QTest::newRow("STANDART") << "EDITION" << QJsonValue("STANDART") << QString::number(Release::STANDART);
    QTest::newRow("standard, with a d") << "EDITION" << QJsonValue("standard") << none;
    QTest::newRow("cert") << "EDITION" << QJsonValue("Cert") << QString::number(Release::CERT);
    QTest::newRow("home") << "EDITION" << QJsonValue("HOME") << QString::number(Release::HOME);
    QTest::newRow("education") << "EDITION" << QJsonValue("education") << QString::number(Release::EDUCATION);
    QTest::newRow("padded edition") << "EDITION" << QJsonValue(" home") << none;
    QTest::newRow("no edition") << "EDITION" << QJsonValue(QJsonValue::Undefined) << none;
    QTest::newRow("version 9 beta") << "VERSION" << QJsonValue("9 beta") << "9 beta";
    QTest::newRow("version 9beta") << "VERSION" << QJsonValue("9beta") << "9 beta";
    QTest::newRow("version 10 ALPHA") << "VERSION" << QJsonValue("10 ALPHA") << "10 alpha";
    QTest::newRow("version 8.1") << "VERSION" << QJsonValue("8.1") << "8 .1";
    QTest::newRow("version 8.0 beta") << "VERSION" << QJsonValue("8.0 beta") << "8 .0";
    QTest::newRow("version rc") << "VERSION" << QJsonValue("8 rc") << "8 rc";
    QTest::newRow("version without digits") << "VERSION" << QJsonValue("rawhide") << "0";
    QTest::newRow("version as a number") << "VERSION" << QJsonValue(9) << "0";
    QTest::newRow("size") << "SIZE" << QJsonValue("4700000000") << "4700000000";
    QTest::newRow("size as a number") << "SIZE" << QJsonValue(4700) << "0";
    QTest::newRow("size with a sign") << "SIZE" << QJsonValue("+4700") << "0";
    QTest::newRow("negative size") << "SIZE" << QJsonValue("-4700") << "0";
    QTest::newRow("size with a space") << "SIZE" << QJsonValue("4700 ") << "0";
    QTest::newRow("size with Arabic-Indic digits") << "SIZE" << QJsonValue(QStringLiteral("\u0664\u0667")) << "0";
    QTest::newRow("size past qint64") << "SIZE" << QJsonValue("9223372036854775808") << "0";
    QTest::newRow("largest size") << "SIZE" << QJsonValue("9223372036854775807") << "9223372036854775807";
    QTest::newRow("date") << "releaseDate" << QJsonValue("2024-03-31") << "2024-03-31";
    QTest::newRow("date of a time-zone gap") << "releaseDate" << QJsonValue("2011-03-27") << "2011-03-27";
    QTest::newRow("impossible date") << "releaseDate" << QJsonValue("2024-02-30") << "";
    QTest::newRow("other date format") << "releaseDate" << QJsonValue("31.03.2024") << "";
    QTest::newRow("icon") << "ICON" << QJsonValue("https://images.example/icon.svg")
                          << "https://images.example/icon.svg";
    QTest::newRow("no icon") << "ICON" << QJsonValue(QJsonValue::Undefined) << "qrc:/logos/placeholder";
    QTest::newRow("icon not a string") << "ICON" << QJsonValue(3) << "";
    QTest::newRow("description") << "DESCRIPTION" << QJsonValue(QJsonArray { "<p>a</p>", 7, "<p>b</p>" })
                                 << "<p>a</p>||<p>b</p>";
    QTest::newRow("screenshots") << "SCREENSHOTS" << QJsonValue(QJsonArray { "s1.png", "s2.png" }) << "s1.png|s2.png";
}

void TestFeedEntry::values()
{
    QFETCH(QString, key);
    QFETCH(QJsonValue, value);
    QFETCH(QString, expected);

    // Moscow left daylight saving time at midnight: no local midnight on that day.
    qputenv("TZ", "Europe/Moscow");
    const QList<FeedEntry> entries = parse({ with(entry(QStringLiteral("zv80")).toObject(), qPrintable(key), value) });
    qunsetenv("TZ");
    QCOMPARE(entries.size(), 1);
    QCOMPARE(field(entries.first(), key), expected);
}

void TestFeedEntry::images_data()
{
    QTest::addColumn<QString>("arch");
    QTest::addColumn<QString>("link");
    QTest::addColumn<QString>("md5");
    QTest::addColumn<FeedEntry::Image>("image");

    using Image = FeedEntry::Image;
    const char *digest = "0123456789ABCDEF0123456789abcdef";
    const struct
    {
        const char *name, *arch, *link, *md5;
        Image image;
    } rows[] = {
        { "https", "x86_64", "https://images.example/a.iso", "", Image::Accepted },
        { "http with a digest", "x86_64", "http://images.example/a.iso", digest, Image::Accepted },
        { "HTTP with a digest", "x86_64", "HTTP://images.example/a.iso", digest, Image::Accepted },
        // Anyone on the way could replace what plain http brings.
        { "http without a digest", "x86_64", "http://images.example/a.iso", "", Image::PlainHttpWithoutMd5 },
        { "HTTP without a digest", "x86_64", "HTTP://images.example/a.iso", "", Image::PlainHttpWithoutMd5 },
        { "http with a blank digest", "x86_64", "http://images.example/a.iso", "  ", Image::PlainHttpWithoutMd5 },
        { "http with no md5 for a digest", "x86_64", "http://images.example/a.iso", "latest",
          Image::PlainHttpWithoutMd5 },
        { "device", "x86_64", "file:///dev/zero", "", Image::NotWebAddress },
        { "local file", "x86_64", "file:///etc/shadow", "", Image::NotWebAddress },
        { "data", "x86_64", "data:application/octet-stream;base64,AAAA", "", Image::NotWebAddress },
        { "resource", "x86_64", "qrc:/logos/folder", "", Image::NotWebAddress },
        { "relative", "x86_64", "images/a.iso", "", Image::NotWebAddress },
        { "ftp", "x86_64", "ftp://images.example/a.iso", "", Image::NotWebAddress },
        { "unknown architecture", "mips", "https://images.example/a.iso", "", Image::UnknownArchitecture },
        { "unknown architecture, device", "mips", "file:///dev/zero", "", Image::UnknownArchitecture },
    };
    for (const auto &row : rows)
        QTest::newRow(row.name) << row.arch << row.link << row.md5 << row.image;
}

void TestFeedEntry::images()
{
    QFETCH(QString, arch);
    QFETCH(QString, link);
    QFETCH(QString, md5);
    QFETCH(FeedEntry::Image, image);

    Entry linked = entry(QStringLiteral("zv80"), arch);
    linked.link = link;
    linked.md5 = md5;
    const QList<FeedEntry> entries = parse({ linked.toObject() });
    // A refused image still makes its release.
    QCOMPARE(entries.size(), 1);
    QCOMPARE(int(entries.first().image()), int(image));
}

QTEST_GUILESS_MAIN(TestFeedEntry)
#include "tst_feedentry.moc"
