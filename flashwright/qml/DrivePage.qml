import QtQuick

// Writing a file of the user's own: the file and the drive to write it to.
FramedPage {
    objectName: "drivePage"
    heading: qsTr("Recording Parameter")
    onBack: mainWindow.selectedPage = Units.MainPage
}
