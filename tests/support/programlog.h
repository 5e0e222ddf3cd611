#pragma once

#include <QByteArray>
#include <QString>

// The lines of the program's verbose log (--verbose) that the end-to-end
// tests, the screenshots and the benchmarks wait on or read, as the program
// writes them (its debug stream puts names in quotes): a line that the
// program words differently changes here only.
struct ProgramLog
{
    // The catalogue has read its feed.
    static inline const QByteArray catalogueReceived = "Received a metadata json";
    // A file of the user's own has been chosen.
    static inline const QByteArray localFileSet = "Setting local file to";
    // A download has started.
    static inline const QByteArray downloadStarted = "Going to download";
    // An image's status and its error: "Status of <file or address> now
    // <STATUS>", "Error of <file or address> <message>".
    static inline const QByteArray statusOf = " Status of ";
    static inline const QByteArray statusNow = " now ";
    static inline const QByteArray errorOf = " Error of ";

    // A drive of UDisks2 has been listed, by its object path.
    static QByteArray newDrive(const QString &path) { return "New drive " + quoted(path.toUtf8()); }
    // A drive's restore status (CONTAINS_LIVE, RESTORED, ...), by its name.
    static QByteArray restoreStatus(const QByteArray &drive, const QByteArray &status)
    {
        return "Restore status of " + quoted(drive) + " now " + status;
    }

    // The simulated drives of --testing, by name; a restore ends in
    // "Restoring <name> <size> ended with <status>".
    static QByteArray connected(const QByteArray &drive) { return "Connected " + quoted(drive); }
    static QByteArray writing(const QByteArray &drive) { return "Writing to " + quoted(drive); }
    static QByteArray wrote(const QByteArray &drive) { return "Wrote " + quoted(drive); }
    static QByteArray writeFailed(const QByteArray &drive) { return writing(drive) + " failed"; }
    static QByteArray restoring(const QByteArray &drive) { return "Restoring " + quoted(drive); }
    static inline const QByteArray restoreEnded = " ended with ";

    static QByteArray quoted(const QByteArray &name) { return '"' + name + '"'; }
};
