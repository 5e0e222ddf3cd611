#pragma once

#include <QString>

// Identity of the program: the maker's domain, the reverse-domain application
// identifier (desktop file name, logging category, notification icon), the
// version shown to the pages and the default catalogue feed.
namespace AppInfo {
inline const QString makerDomain = QStringLiteral("zelvan.example");
inline const QString applicationId = QStringLiteral("example.zelvan.Flashwright");
inline const QString applicationName = QStringLiteral("Flashwright");
inline const QString version = QStringLiteral("5.2.12");
inline const QString defaultReleasesUrl = QStringLiteral("https://www.zelvan.example/product/downloads/API/export/");
} // namespace AppInfo
