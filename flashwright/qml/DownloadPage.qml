import QtQuick

// One page for the whole life of an image: preparing, download, its check,
// ready to write, writing, verification, and the end (written or failed). The
// image's status alone drives it. The drive being written is the window's
// writingDrive; drives.selected is only where the next write would go.
FramedPage {
    id: page

    readonly property int currentStatus: releases.variant ? releases.variant.status : Units.Preparing
    readonly property bool localFile: mainWindow.selectedOption === Units.Write
    readonly property string file: {
        if (localFile)
            return releases.localFile ? releases.localFile.iso.split("/").pop() : "";
        return releases.selected ? releases.selected.name : "";
    }
    readonly property string editionText: edition.type !== Units.None ? "(" + edition.name + ")" : ""
    readonly property string subject: editionText !== "" ? file + " " + editionText : file
    readonly property bool drivePresent: drives.length > 0
    readonly property var selectedDrive: drives.selected
    readonly property var writingDrive: mainWindow.writingDrive
    // A fast download reports every 64 KiB, thousands of times a second, and
    // drawing the page anew for each report takes the processor from the
    // download itself. The page takes the download's figures ten times a
    // second instead (at once when the download starts).
    property real leftSize: 0
    property real downloadRatio: 0
    function sampleDownload() {
        const progress = releases.variant ? releases.variant.progress : null;
        leftSize = progress ? progress.to - progress.value : 0;
        downloadRatio = progress ? progress.ratio : 0;
    }
    readonly property bool failed: currentStatus === Units.Failed || currentStatus === Units.Failed_Verification
    readonly property bool writing: currentStatus === Units.Writing || currentStatus === Units.Write_Verifying
    readonly property bool downloading: currentStatus === Units.Downloading || currentStatus === Units.Download_Verifying
    // Set once writingDrive has begun to be written: leaving a failed write
    // then offers the drive for restoring, as aborting it does.
    property bool writeStarted: false
    readonly property string headingText: {
        switch (currentStatus) {
        case Units.Finished:
            return qsTr("%1 Successfully Written").arg(file);
        case Units.Writing:
            return qsTr("Writing %1").arg(subject);
        case Units.Downloading:
            return qsTr("Downloading %1").arg(subject);
        case Units.Preparing:
            return qsTr("Preparing %1").arg(subject);
        case Units.Ready:
            return qsTr("Ready to write %1").arg(subject);
        case Units.Failed_Download:
            return qsTr("Failed to download %1").arg(subject);
        default:
            return releases.variant ? releases.variant.statusString : "";
        }
    }
    readonly property string statusLine: {
        const statusString = releases.variant ? releases.variant.statusString : "";
        if (failed && !drivePresent)
            return qsTr("Your drive was unplugged during the process");
        if (currentStatus === Units.Ready)
            return drivePresent ? qsTr("The USB drive has been found, and it is possible to continue recording the image to the device.") : qsTr("To continue recording the image to the device, insert the USB drive.");
        if (currentStatus === Units.Downloading) {
            const left = remainingText(leftSize);
            return left !== "" ? statusString + " " + left : statusString;
        }
        return statusString;
    }
    readonly property real fillValue: {
        if (downloading)
            return downloadRatio;
        if (writing)
            return writingDrive ? writingDrive.progress.ratio : 0;
        if (currentStatus === Units.Finished || currentStatus === Units.Ready)
            return 1;
        return 0;
    }

    // What is left of the download; the unit is chosen before the number is
    // rounded, so 1048575 bytes read 1024.0 KB.
    function remainingText(bytes) {
        if (!(bytes > 0))
            return "";
        const KiB = 1024;
        if (bytes < KiB)
            return qsTr("(%1 B left)").arg(bytes);
        if (bytes < KiB * KiB)
            return qsTr("(%1 KB left)").arg((bytes / KiB).toFixed(1));
        if (bytes < KiB * KiB * KiB)
            return qsTr("(%1 MB left)").arg((bytes / (KiB * KiB)).toFixed(1));
        return qsTr("(%1 GB left)").arg((bytes / (KiB * KiB * KiB)).toFixed(1));
    }

    // The drive that was written is offered for restoring: it holds an image
    // now, whole or in part.
    function offerForRestore() {
        const drive = writingDrive;
        if (!drive || !drives.contains(drive))
            return;
        drives.lastRestoreable = drive;
        drive.setRestoreStatus(Units.Contains_Live);
    }

    function leave() {
        if (releases.variant)
            releases.variant.resetStatus();
        downloadManager.cancel();
        mainWindow.selectedPage = Units.MainPage;
    }

    function leftAction() {
        if (currentStatus === Units.Ready) {
            const version = releases.selected ? releases.selected.version : null;
            if (version && version.variant)
                downloadManager.openDownloadFolder(version.variant.iso);
        } else if (writing || downloading) {
            cancelDialog.open();
        } else {
            if (failed && writeStarted)
                offerForRestore();
            leave();
        }
    }

    function rightAction() {
        if (currentStatus === Units.Finished) {
            offerForRestore();
            leave();
            return;
        }
        if (!(currentStatus === Units.Ready || (failed && drivePresent)))
            return;
        const image = releases.variant;
        if (!localFile)
            image.download();
        else if (failed)
            // The user's file is still there to write: another attempt
            // starts from ready.
            image.resetStatus();
        if (image.status === Units.Ready)
            deviceWarningDialog.ask();
    }

    function enterFinished() {
        cancelDialog.close();
        if (mainWindow.eraseVariant && releases.variant)
            releases.variant.erase();
    }

    objectName: "downloadPage"
    Accessible.name: headingText
    headerShown: false
    backArrowVisible: false
    defaultButton: rightButton.visible ? rightButton : null
    // Escape does what "Cancel" does, while there is one.
    onEscaped: {
        if (leftButton.visible && currentStatus !== Units.Ready)
            leftButton.activate();
    }
    onCurrentStatusChanged: {
        if (writing && writingDrive)
            writeStarted = true;
        if (currentStatus === Units.Finished)
            enterFinished();
    }

    ChosenEdition {
        id: edition
    }

    Connections {
        // A write to another drive starts from scratch.
        function onWritingDriveChanged() {
            page.writeStarted = false;
        }

        target: mainWindow
    }

    Timer {
        interval: 100
        repeat: true
        triggeredOnStart: true
        running: page.downloading
        onTriggered: page.sampleDownload()
    }

    // The upper part (illustration, heading, progress, information) and,
    // at the bottom, the drive list and the two buttons.
    Item {
        id: area

        readonly property real textsHeight: heading.height + 24 + progressBlock.height + (information.visible ? 24 + information.height : 0)
        readonly property real bottomHeight: buttons.height + (driveList.visible ? driveList.height + 16 : 0)

        width: parent.width
        height: 520

        Column {
            width: parent.width
            spacing: 24

            // Gives way to the texts when a long translation needs the room.
            Illustration {
                objectName: "illustration"
                anchors.horizontalCenter: parent.horizontalCenter
                height: Math.max(96, Math.min(218, area.height - area.bottomHeight - 24 - 24 - area.textsHeight))
                width: height
            }

            Text {
                id: heading

                objectName: "statusHeading"
                Accessible.role: Accessible.StaticText
                Accessible.name: text
                width: parent.width
                height: Math.max(54, implicitHeight)
                horizontalAlignment: Text.AlignHCenter
                verticalAlignment: Text.AlignVCenter
                text: page.headingText
                textFormat: Text.PlainText
                color: page.theme.text
                font.pixelSize: 18
                font.weight: 600
                wrapMode: Text.Wrap
            }

            Column {
                id: progressBlock

                width: parent.width
                spacing: 16

                ProgressTrack {
                    objectName: "progressBar"
                    width: parent.width
                    value: page.fillValue
                    Accessible.name: page.headingText
                }

                Text {
                    objectName: "statusLine"
                    Accessible.role: Accessible.StaticText
                    Accessible.name: text
                    width: parent.width
                    visible: text !== page.headingText
                    horizontalAlignment: Text.AlignHCenter
                    text: page.statusLine
                    textFormat: Text.PlainText
                    color: page.theme.text
                    font.pixelSize: 18
                    wrapMode: Text.Wrap
                }
            }

            Column {
                id: information

                objectName: "information"
                width: parent.width
                visible: page.currentStatus !== Units.Ready
                spacing: 8

                InformationText {
                    objectName: "downloadsFolderNote"
                    shown: page.downloading
                    text: qsTr("Downloads are saved to the downloads folder.")
                }

                InformationText {
                    objectName: "loseDataNote"
                    shown: page.drivePresent && page.failed
                    text: qsTr("By writing, you will lose all of the data on %1.").arg(page.selectedDrive ? page.selectedDrive.name : "")
                }

                InformationText {
                    objectName: "resizeNote"
                    shown: page.writing
                    text: qsTr("Your drive will be resized to a smaller capacity. You may resize it back to normal by using Zelvan Flashwright. This will remove installation media from your drive.")
                }

                InformationText {
                    objectName: "sizeWarning"
                    shown: !page.writing && page.currentStatus !== Units.Finished && page.selectedDrive !== null && page.selectedDrive.size > 160 * 1024 * 1024 * 1024
                    text: qsTr("The selected drive's size is %1. It's possible you have selected an external drive by accident!").arg(page.selectedDrive ? page.selectedDrive.readableSize : "")
                }

                InformationText {
                    objectName: "restartNote"
                    shown: page.currentStatus === Units.Finished
                    text: qsTr("Restart and boot from %1 to start using %2.").arg(page.writingDrive ? page.writingDrive.name : "N/A").arg(page.file)
                }

                InformationText {
                    objectName: "errorText"
                    shown: text !== ""
                    text: releases.variant ? releases.variant.errorString : ""
                }
            }
        }

        Column {
            anchors.bottom: parent.bottom
            width: parent.width
            spacing: 16

            DriveList {
                id: driveList

                objectName: "driveList"
                width: parent.width
                visible: page.currentStatus === Units.Ready
                labelShown: false
            }

            Item {
                id: buttons

                width: parent.width
                height: 30

                StyledButton {
                    id: leftButton

                    objectName: "leftButton"
                    anchors.left: parent.left
                    width: implicitWidth + 16
                    height: 30
                    visible: page.currentStatus !== Units.Finished
                    text: page.currentStatus === Units.Ready ? qsTr("Show in folder") : qsTr("Cancel")
                    onReleased: page.leftAction()
                }

                PrimaryButton {
                    id: rightButton

                    objectName: "rightButton"
                    anchors.right: parent.right
                    visible: page.currentStatus === Units.Finished || page.currentStatus === Units.Ready || page.failed
                    enabled: page.drivePresent || page.currentStatus === Units.Finished
                    text: page.currentStatus === Units.Ready ? qsTr("Write") : page.currentStatus === Units.Finished ? qsTr("Finish") : qsTr("Retry")
                    onReleased: page.rightAction()
                }
            }
        }
    }
}
