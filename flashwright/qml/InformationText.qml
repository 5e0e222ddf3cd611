import QtQuick

// One message of the progress page's information column: centred, wrapped,
// in the muted colour, shown only while its condition holds.
Text {
    property bool shown: true
    readonly property CurrentThemeColor theme: CurrentThemeColor {
    }

    width: parent ? parent.width : 0
    visible: shown
    // Some messages carry names from outside (a drive's, an image's, an
    // error with a file name), which must show as they are.
    textFormat: Text.PlainText
    horizontalAlignment: Text.AlignHCenter
    color: theme.placeholderText
    font.pixelSize: 14
    font.letterSpacing: -0.4
    wrapMode: Text.Wrap
}
