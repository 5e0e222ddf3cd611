import QtQuick

// The erase confirmation shown before an image is written to a drive. The
// drive is the one selected when the dialog opens, named in the dialog, and
// "Write" writes to that drive only: a drive plugged in meanwhile may take the
// selection, and the one confirmed may be pulled out, which closes the dialog
// without writing anything.
DialogWindow {
    id: dialog

    // The drive the user is asked about.
    property var drive: null

    // Decimal units, as drive makers count.
    function formatSize(bytes) {
        const kB = 1000;
        const MB = 1000 * kB;
        const GB = 1000 * MB;
        if (bytes >= GB)
            return qsTr("%1 GB").arg((bytes / GB).toFixed(2));
        if (bytes >= MB)
            return qsTr("%1 MB").arg((bytes / MB).toFixed(2));
        if (bytes >= kB)
            return qsTr("%1 KB").arg((bytes / kB).toFixed(2));
        return qsTr("%1 Bytes").arg(bytes);
    }

    // Asks about the selected drive.
    function ask() {
        drive = drives.selected;
        open();
    }

    function dropIfGone() {
        if (visible && !drives.contains(drive))
            close();
    }

    objectName: "deviceWarningDialog"
    heading: qsTr("Erase confirmation")
    detail: drive ? drive.name : ""
    body: qsTr("Attention! All data on the device (including %1) will be permanently deleted. The selected image will be recorded in their place. Continue?").arg(formatSize(drive ? drive.size : 0))
    cancelText: qsTr("Cancel")
    actionText: qsTr("Write")
    onAccepted: mainWindow.writeImage(drive)

    Connections {
        function onDrivesChanged() {
            dialog.dropIfGone();
        }

        target: drives
    }
}
