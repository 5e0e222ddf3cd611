// flashwright-demo: serves the demo catalogue on loopback with nginx until
// it is told to stop. Makes the catalogue's images in a folder of its own,
// starts nginx on a free port, prints the feed's address as one line on
// standard output, and waits. SIGINT, SIGTERM, SIGHUP, and the end of the
// process that started it, stop nginx and remove the folder.

#include "democatalogue.h"
#include "nginxserver.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTextStream>

#include <csignal>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int signalPipe[2] = { -1, -1 };

void onSignal(int)
{
    const char byte = 1;
    // Nothing else is safe in a signal handler; the event loop does the rest.
    (void)::write(signalPipe[1], &byte, 1);
}

} // namespace

int main(int argc, char **argv)
{
    // A start script killed without a chance to clean up still ends its server.
    prctl(PR_SET_PDEATHSIG, SIGTERM);

    QCoreApplication app(argc, argv);
    QTextStream err(stderr);

    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0) {
        err << "flashwright-demo: no socket pair for signals\n";
        return 1;
    }
    QSocketNotifier notifier(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, &app, [] { QCoreApplication::exit(0); });
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    for (int signal : { SIGINT, SIGTERM, SIGHUP })
        sigaction(signal, &action, nullptr);

    const QString missing = DemoCatalogue::missingTools();
    if (!missing.isEmpty()) {
        err << "flashwright-demo: missing tools: " << missing << " (bash scripts/install-deps.sh installs them)\n";
        return 1;
    }

    NginxServer server;
    if (!server.start()) {
        err << "flashwright-demo: " << server.errorString() << '\n';
        return 1;
    }
    QString error;
    if (!DemoCatalogue::make(DemoCatalogue::templatePath(), server.root(), server.url(QStringLiteral("/")), &error)) {
        err << "flashwright-demo: " << error << '\n';
        return 1;
    }

    QTextStream out(stdout);
    out << server.url(QStringLiteral("/feed.json")).toString() << Qt::endl;

    const int status = QCoreApplication::exec();
    server.stop();
    return status;
}
