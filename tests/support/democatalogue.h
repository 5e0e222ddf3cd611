#pragma once

#include <QHash>
#include <QString>
#include <QUrl>

// The demo catalogue: a feed template (demo/feed.json in the sources) made
// into a feed that can be served, with the few small real images it names
// made on the spot. Each template entry names its image with the extra key
// "IMAGE" and its file with a bare "LINK"; the served feed has instead the
// full address, the image's "MD5" and "SIZE", and no "IMAGE".
//
// The images:
//   implanted.iso  an ISO made by xorriso with its checksum implanted by implantisomd5
//   plain.iso      an ISO without implanted checksum
//   disk.img.xz    a raw disk image (GPT, one ext2 partition) compressed by xz
namespace DemoCatalogue {

// The template in the sources.
QString templatePath();

// Empty when every tool the images need is there, otherwise the missing ones.
QString missingTools();

// Makes the images under <root>/images, each file name of the feed a link
// to its image, and writes the feed to <root>/feed.json with links below
// base (the address at which <root> is served). Images named in `given`
// are not made but linked to the file given for them (a large image kept
// between runs, say). False, with *error saying why, when a tool or the
// template failed.
bool make(const QString &templateFile, const QString &root, const QUrl &base, QString *error,
          const QHash<QString, QString> &given = {});

} // namespace DemoCatalogue
