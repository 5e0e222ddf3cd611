#include "options.h"

#include "appinfo.h"

#include <cstdio>

Options options;

Options::Options()
    : releasesUrl(AppInfo::defaultReleasesUrl)
{ }

void Options::parse(const QList<QString> &arguments)
{
    // Flags are only ever switched on; every option is matched exactly,
    // wherever it stands, and anything unknown is ignored.
    if (arguments.contains(QStringLiteral("--testing")))
        testing = true;
    if (arguments.contains(QStringLiteral("--verbose")) || arguments.contains(QStringLiteral("-v")))
        verbose = true;

    const qsizetype urlIndex = arguments.indexOf(QStringLiteral("--releasesUrl"));
    if (urlIndex >= 0) {
        if (urlIndex + 1 < arguments.size())
            releasesUrl = arguments.at(urlIndex + 1);
        else
            printHelp();
    }

    if (arguments.contains(QStringLiteral("--no-user-agent")))
        noUserAgent = true;
    if (arguments.contains(QStringLiteral("--help")))
        printHelp();
}

void Options::printHelp()
{
    std::fputs("flashwright [--testing] [--no-user-agent] [--releasesUrl <url>]\n", stdout);
    std::fflush(stdout);
}
