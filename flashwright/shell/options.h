#pragma once

#include <QList>
#include <QString>

// The command line of the graphical program. One instance, `options`, filled
// by main() before any singleton exists, so every reader sees final values.
struct Options
{
    bool testing = false;
    bool verbose = false;
    QString releasesUrl;
    bool noUserAgent = false;

    Options();

    void parse(const QList<QString> &arguments);
    static void printHelp();
};

extern Options options;
