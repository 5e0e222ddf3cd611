#include "helperprotocol.h"
#include "restorejob.h"
#include "writejob.h"

#include <QCoreApplication>
#include <QLocale>
#include <QTextStream>
#include <QTranslator>

#include <memory>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);

    QTranslator translator;
    const QLocale system = QLocale::system();
    if (translator.load(QLocale(system.language(), system.script(), system.territory()), QString(), QString(),
                        QStringLiteral(":/translations")))
        app.installTranslator(&translator);

    // The job lives as long as the event loop; owned here only so that it is
    // released in order, and leak checkers do not report it.
    std::unique_ptr<Job> job;
    const QStringList arguments = app.arguments();
    if (arguments.size() == 3 && arguments.at(1) == QLatin1String("restore")) {
        job = std::make_unique<RestoreJob>(arguments.at(2));
    } else if (arguments.size() == 4 && arguments.at(1) == QLatin1String("write")) {
        job = std::make_unique<WriteJob>(arguments.at(2), arguments.at(3));
    } else {
        QTextStream(stderr) << "Helper: Wrong arguments entered";
        return HelperProtocol::exitCode(HelperProtocol::ExitStatus::WrongArguments);
    }

    return app.exec();
}
