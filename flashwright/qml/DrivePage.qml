import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Dialogs

// Writing a file of the user's own: the file and the drive to write it to.
// The file comes from the desktop's file chooser (the portal) where there is
// one, otherwise from Qt's own file dialog.
FramedPage {
    id: page

    readonly property string fileName: {
        const path = releases.localFile ? releases.localFile.iso : "";
        return path.split("/").pop();
    }
    // Only while this page is on top: the portal's chooser is not modal, and
    // an answer that comes after the user went on to write the image must not
    // replace that image.
    readonly property bool onTop: StackView.status === StackView.Active && mainWindow.selectedPage === Units.DrivePage

    function chooseFile() {
        if (portalFileDialog.isAvailable)
            portalFileDialog.open();
        else
            fileDialog.open();
    }

    function takeFile(url) {
        if (onTop)
            releases.selectLocalFile(url.toString());
    }

    objectName: "drivePage"
    // Qt's dialog lives in the window, not in the page: a page left while it
    // is open (through assistive technology, which can act on the back arrow
    // behind it) takes it along rather than leave it over the next page.
    onOnTopChanged: {
        if (!onTop)
            fileDialog.close();
    }
    heading: qsTr("Recording Parameter")
    defaultButton: continueButton
    onBack: mainWindow.selectedPage = Units.MainPage

    Connections {
        function onFileSelected(url) {
            page.takeFile(url);
        }

        target: portalFileDialog
    }

    FileDialog {
        id: fileDialog

        objectName: "fileDialog"
        fileMode: FileDialog.OpenFile
        // The patterns are the same in every language, and the same as the
        // portal's (PortalFileDialog): images and the compressed forms that
        // the helper unpacks while writing.
        nameFilters: [qsTr("Image files") + " (*.iso *.raw *.xz *.img *.gz *.bz2 *.zst *.zip)", qsTr("All files (*)")]
        onAccepted: page.takeFile(selectedFile)
    }

    Column {
        width: parent.width
        spacing: 20

        Column {
            width: parent.width
            spacing: 8

            SectionLabel {
                text: qsTr("Selected file")
            }

            Row {
                width: parent.width
                height: 30
                spacing: 8

                StyledTextField {
                    objectName: "fileField"
                    width: parent.width - selectButton.width - parent.spacing
                    height: parent.height
                    enabled: false
                    readOnly: true
                    text: page.fileName
                    placeholderText: qsTr("Not selected")
                    Accessible.name: qsTr("Selected file")
                }

                StyledButton {
                    id: selectButton

                    objectName: "selectButton"
                    width: Math.max(82, implicitWidth)
                    height: parent.height
                    text: qsTr("Select...")
                    onClicked: page.chooseFile()
                }
            }
        }

        DriveList {
            objectName: "driveList"
            width: parent.width
        }
    }

    PrimaryButton {
        id: continueButton

        objectName: "continueButton"
        anchors.right: parent.right
        anchors.bottom: parent.bottom
        text: qsTr("Continue")
        enabled: drives.selected !== null && page.fileName !== ""
        onReleased: deviceWarningDialog.ask()
    }
}
