#include "democatalogue.h"

#include "filecontents.h"
#include "isoimage.h"
#include "programrun.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>
#include <QTemporaryDir>

namespace {

constexpr qint64 MiB = 1 << 20;

bool run(const QString &program, const QStringList &arguments, QString *error, const QString &input = {},
         const QString &output = {})
{
    const ProgramResult result = ProgramRun(program, arguments).inputFile(input).outputFile(output).run();
    if (!result.succeeded())
        *error = QStringLiteral("%1 failed: %2").arg(program, result.describe());
    return result.succeeded();
}

// An 8 MiB disk with a GPT and one ext2 partition holding a note, as the
// images of single-board computers come, compressed by xz.
bool makeDiskImage(const QString &path, QString *error)
{
    QTemporaryDir work(QFileInfo(path).absolutePath() + QStringLiteral("/disk-XXXXXX"));
    const QString raw = work.filePath(QStringLiteral("disk.img"));
    const QString tree = work.filePath(QStringLiteral("tree"));
    const QString layout = work.filePath(QStringLiteral("layout"));
    if (!work.isValid() || !QDir().mkpath(tree)
        || !FileContents::write(tree + QStringLiteral("/README"),
                                "Zelvan demo disk image: a stand-in for the images of ARM boards.\n")
        || !FileContents::write(raw, {}) || !QFile::resize(raw, 8 * MiB)
        || !FileContents::write(layout, "label: gpt\nstart=2048, size=12288, type=linux, name=zelvan\n")) {
        *error = QStringLiteral("cannot prepare the disk image in %1").arg(work.path());
        return false;
    }
    return run(QStringLiteral("sfdisk"), { QStringLiteral("--quiet"), raw }, error, layout)
        && run(QStringLiteral("mke2fs"),
               { QStringLiteral("-q"), QStringLiteral("-F"), QStringLiteral("-t"), QStringLiteral("ext2"),
                 QStringLiteral("-L"), QStringLiteral("ZELVAN"), QStringLiteral("-d"), tree, QStringLiteral("-E"),
                 QStringLiteral("offset=%1").arg(MiB), raw, QStringLiteral("6144") },
               error)
        && run(QStringLiteral("xz"), { QStringLiteral("-c"), QStringLiteral("-T1"), raw }, error, {}, path);
}

bool makeImage(const QString &name, const QString &path, QString *error)
{
    if (name == QLatin1String("implanted.iso")) {
        if (IsoImage::make(path, 6 * MiB, 80) && IsoImage::implant(path))
            return true;
    } else if (name == QLatin1String("plain.iso")) {
        if (IsoImage::make(path, 4 * MiB, 73))
            return true;
    } else if (name == QLatin1String("disk.img.xz")) {
        return makeDiskImage(path, error);
    } else {
        *error = QStringLiteral("the template names an unknown image %1").arg(name);
        return false;
    }
    *error = QStringLiteral("xorriso or implantisomd5 could not make %1").arg(name);
    return false;
}

} // namespace

namespace DemoCatalogue {

QString templatePath()
{
    return QStringLiteral(FLASHWRIGHT_TEST_SUPPORT_DIR "/../../demo/feed.json");
}

QString missingTools()
{
    QStringList missing;
    for (const QString &tool : { QStringLiteral("xorriso"), QStringLiteral("implantisomd5"), QStringLiteral("sfdisk"),
                                 QStringLiteral("mke2fs"), QStringLiteral("xz") }) {
        if (QStandardPaths::findExecutable(tool).isEmpty())
            missing << tool;
    }
    return missing.join(QLatin1Char(' '));
}

bool make(const QString &templateFile, const QString &root, const QUrl &base, QString *error,
          const QHash<QString, QString> &given)
{
    QFile file(templateFile);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read %1").arg(templateFile);
        return false;
    }
    QJsonParseError parseError {};
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &parseError);
    if (!document.isArray()) {
        *error = QStringLiteral("%1 is no JSON array: %2").arg(templateFile, parseError.errorString());
        return false;
    }

    const QDir images(root + QStringLiteral("/images"));
    if (!QDir().mkpath(images.path())) {
        *error = QStringLiteral("cannot make %1").arg(images.path());
        return false;
    }

    struct Made
    {
        QString md5;
        qint64 size = 0;
    };
    QHash<QString, Made> made;
    QJsonArray feed;
    const QJsonArray entries = document.array();
    for (const QJsonValue &value : entries) {
        QJsonObject entry = value.toObject();
        const QString image = entry.take(QLatin1String("IMAGE")).toString();
        const QString link = entry.value(QLatin1String("LINK")).toString();
        if (image.isEmpty() || link.isEmpty() || link.contains(QLatin1Char('/'))) {
            *error = QStringLiteral("an entry of %1 lacks its IMAGE or a bare LINK").arg(templateFile);
            return false;
        }
        const QString imagePath = images.filePath(QStringLiteral(".") + image);
        if (!made.contains(image)) {
            if (given.contains(image)) {
                QFile::remove(imagePath);
                if (!QFile::link(QFileInfo(given.value(image)).absoluteFilePath(), imagePath)) {
                    *error = QStringLiteral("cannot link %1").arg(imagePath);
                    return false;
                }
            } else if (!makeImage(image, imagePath, error)) {
                return false;
            }
            made.insert(image, { FileContents::md5(imagePath), QFileInfo(imagePath).size() });
        }
        // Every entry has a file name of its own, as downloads are stored by it.
        QFile::remove(images.filePath(link));
        if (!QFile::link(QStringLiteral(".") + image, images.filePath(link))) {
            *error = QStringLiteral("cannot link %1").arg(images.filePath(link));
            return false;
        }
        entry.insert(QLatin1String("LINK"), base.resolved(QUrl(QStringLiteral("images/") + link)).toString());
        entry.insert(QLatin1String("MD5"), made.value(image).md5);
        entry.insert(QLatin1String("SIZE"), QString::number(made.value(image).size));
        feed.append(entry);
    }

    if (!FileContents::write(root + QStringLiteral("/feed.json"), QJsonDocument(feed).toJson())) {
        *error = QStringLiteral("cannot write %1/feed.json").arg(root);
        return false;
    }
    return true;
}

} // namespace DemoCatalogue
