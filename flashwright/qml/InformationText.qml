import QtQuick

// One message of the progress page's information column: centred, shown only
// while its condition holds.
BodyText {
    property bool shown: true

    visible: shown
    horizontalAlignment: Text.AlignHCenter
}
