import QtQuick

// Asks before a running download, write or verification is aborted.
DialogWindow {
    objectName: "cancelDialog"
}
