import QtQuick
import QtQuick.Layouts

// Restores a drive that holds a written image to an empty exFAT drive. The
// page is about the drive that was offered when it opened (the window's
// lastRestoreable) and restores that drive only, while it is listed. Once a
// restore has begun the page shows its progress to the end, even after the
// drive has gone.
FramedPage {
    id: page

    readonly property var drive: mainWindow.lastRestoreable
    // Kept from the drive, so that the page still tells what happened once
    // the drive has been pulled out.
    property string driveName: ""
    property int restoreStatus: Units.Contains_Live
    property bool restoreStarted: false
    readonly property bool driveListed: isListed(drive, drives.length)
    readonly property bool progressShown: restoreStarted || (drive !== null && restoreStatus !== Units.Contains_Live)
    readonly property bool done: restoreStatus === Units.Restored || restoreStatus === Units.Restore_Error

    // The length is there to be re-evaluated whenever the list changes.
    function isListed(drive, length) {
        return length > 0 && drive !== null && drives.contains(drive);
    }

    function followDrive() {
        if (!drive)
            return;
        driveName = drive.name;
        restoreStatus = drive.restoreStatus;
        if (restoreStatus === Units.Restored)
            restored();
    }

    function restore() {
        if (!driveListed)
            return;
        restoreStarted = true;
        drive.restore();
    }

    function restored() {
        mainWindow.title = qsTr("Restoring finished");
        if (drives.lastRestoreable === drive)
            drives.lastRestoreable = null;
    }

    objectName: "restorePage"
    heading: qsTr("Restore %1").arg(driveName)
    headerShown: !progressShown
    backArrowVisible: !progressShown
    defaultButton: progressShown ? finishButton : restoreButton
    onBack: mainWindow.selectedPage = Units.MainPage
    onDriveChanged: followDrive()
    Component.onCompleted: {
        mainWindow.lastRestoreable = drives.lastRestoreable;
        followDrive();
    }

    Connections {
        function onRestoreStatusChanged() {
            page.followDrive();
        }

        function onInfoChanged() {
            page.driveName = page.drive.name;
        }

        target: page.drive
        ignoreUnknownSignals: true
    }

    Item {
        objectName: "confirmationView"
        anchors.fill: parent
        visible: !page.progressShown

        Column {
            width: parent.width
            spacing: 8

            Text {
                width: parent.width
                text: qsTr("Do you want to restore the factory settings?")
                Accessible.role: Accessible.StaticText
                Accessible.name: text
                textFormat: Text.PlainText
                color: page.theme.text
                font.pixelSize: 16
                font.bold: true
                wrapMode: Text.Wrap
            }

            BodyText {
                text: qsTr("In order to return all available space on the device, you need to restore the factory settings of the USB Flash drive. The live system and all saved data will be deleted.")
            }

            BodyText {
                text: qsTr("You don't need to restore the device if you want to burn another live system to it.")
            }
        }

        PrimaryButton {
            id: restoreButton

            objectName: "restoreButton"
            anchors.right: parent.right
            anchors.bottom: parent.bottom
            text: qsTr("Restore")
            enabled: page.driveListed
            onReleased: page.restore()
        }
    }

    ColumnLayout {
        objectName: "progressView"
        anchors.fill: parent
        visible: page.progressShown
        spacing: 24

        Illustration {
            Layout.alignment: Qt.AlignHCenter
            Layout.preferredWidth: 218
            Layout.preferredHeight: 218
        }

        // A restore reports no progress: the bar sweeps until it has ended,
        // and is full once the drive is restored.
        ProgressTrack {
            objectName: "progressBar"
            Layout.fillWidth: true
            Layout.preferredHeight: 16
            sweeping: !page.done
            value: page.restoreStatus === Units.Restored ? 1 : 0
            Accessible.name: statusLine.text
        }

        Text {
            id: statusLine

            objectName: "statusLine"
            Accessible.role: Accessible.StaticText
            Accessible.name: text
            Layout.fillWidth: true
            horizontalAlignment: Text.AlignHCenter
            text: {
                switch (page.restoreStatus) {
                case Units.Restore_Error:
                    return qsTr("Unfortunately, an error occurred during the process. Please try restoring the drive using your system tools.");
                case Units.Restored:
                    return qsTr("Restoring finished");
                default:
                    return qsTr("Wait for Zelvan Flashwright to restore your device");
                }
            }
            textFormat: Text.PlainText
            color: page.theme.text
            font.pixelSize: 18
            wrapMode: Text.Wrap
        }

        Item {
            Layout.fillHeight: true
        }

        // Once the restore has ended, whichever way, the way out.
        StyledButton {
            id: finishButton

            objectName: "finishButton"
            Layout.alignment: Qt.AlignRight
            Layout.preferredWidth: implicitWidth + 16
            Layout.preferredHeight: 30
            text: qsTr("Finish")
            visible: page.restoreStatus !== Units.Restoring
            enabled: page.done
            onReleased: mainWindow.selectedPage = Units.MainPage
        }
    }
}
