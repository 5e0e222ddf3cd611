import QtQuick

// Restores a drive that holds a written image to an empty exFAT drive.
FramedPage {
    objectName: "restorePage"
    heading: qsTr("Restore %1").arg(mainWindow.lastRestoreable ? mainWindow.lastRestoreable.name : "")
    onBack: mainWindow.selectedPage = Units.MainPage
    Component.onCompleted: mainWindow.lastRestoreable = drives.lastRestoreable
}
