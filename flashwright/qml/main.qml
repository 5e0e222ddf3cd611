import QtQuick
import QtQuick.Window

Window {
    id: mainWindow
    width: 800
    height: 600
    visible: true
    title: "Flashwright"
}
