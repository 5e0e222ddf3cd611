import QtQuick

// The erase confirmation shown before an image is written to a drive.
DialogWindow {
    objectName: "deviceWarningDialog"
}
