// The baseline of the start-up benchmark: the least a Qt Quick program does
// before its first frame, an empty window of the same size from a document.
#include <QGuiApplication>
#include <QQmlApplicationEngine>

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    QQmlApplicationEngine engine;
    engine.loadData("import QtQuick\nWindow { visible: true; width: 800; height: 600; color: \"white\" }");
    return QGuiApplication::exec();
}
