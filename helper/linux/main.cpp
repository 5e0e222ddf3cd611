#include "restorejob.h"
#include "writejob.h"

#include <QCoreApplication>
#include <QLocale>
#include <QTextStream>
#include <QTranslator>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);

    QTranslator translator;
    const QLocale system = QLocale::system();
    if (translator.load(QLocale(system.language(), system.script(), system.territory()), QString(), QString(),
                        QStringLiteral(":/translations")))
        app.installTranslator(&translator);

    const QStringList arguments = app.arguments();
    if (arguments.size() == 3 && arguments.at(1) == QLatin1String("restore")) {
        new RestoreJob(arguments.at(2));
    } else if (arguments.size() == 4 && arguments.at(1) == QLatin1String("write")) {
        new WriteJob(arguments.at(2), arguments.at(3));
    } else {
        QTextStream(stderr) << "Helper: Wrong arguments entered";
        return 1;
    }

    return app.exec();
}
