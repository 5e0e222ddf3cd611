import QtQuick

// Asks before a running download, write or verification is aborted. Its texts
// follow the image's status while it is shown. "Abort" stops the drive that is
// being written (and no other), offers that drive for restoring when writing
// had begun, drops the download and goes back to the first page.
DialogWindow {
    id: dialog

    readonly property int status: releases.variant ? releases.variant.status : Units.Preparing
    readonly property bool downloading: status === Units.Downloading || status === Units.Download_Verifying

    function abort() {
        const status = dialog.status;
        const drive = mainWindow.writingDrive;
        const listed = drive !== null && drives.contains(drive);
        const writing = status === Units.Writing || status === Units.Write_Verifying;
        const page = mainWindow.pageStack.currentItem;
        const onProgressPage = mainWindow.selectedPage === Units.DownloadPage && page !== null;
        // The write may have failed while the dialog was up.
        const failedWrite = onProgressPage && page.failed && page.writeStarted;
        // Only a write is stopped: cancelling a drive also clears its restore
        // offer, which must survive an aborted download.
        if (writing && listed)
            drive.cancel();
        // Half an image is on the drive now, and only a restore makes it
        // whole again.
        if (onProgressPage && (writing || failedWrite || status === Units.Writing_Not_Possible))
            page.offerForRestore();
        if (releases.variant)
            releases.variant.resetStatus();
        downloadManager.cancel();
        mainWindow.selectedPage = Units.MainPage;
    }

    objectName: "cancelDialog"
    heading: downloading ? qsTr("Cancel Download?") : status === Units.Writing ? qsTr("Cancel Writing?") : qsTr("Cancel Verification?")
    body: downloading ? qsTr("Download and media writing will be aborted. This process can be resumed any time later.") : status === Units.Writing ? qsTr("Writing process will be aborted and your drive will have to be restored afterwards.") : qsTr("This operation is safe to be cancelled.")
    bodyWidth: width - 40 - 2 * units.gridUnit
    cancelText: qsTr("Cancel")
    actionText: qsTr("Abort")
    onAccepted: abort()
}
