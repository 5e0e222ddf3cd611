import QtQuick

// One message of the progress page's information column: centred, wrapped,
// in the muted colour, shown only while its condition holds.
Text {
    property bool shown: true
    readonly property CurrentThemeColor theme: CurrentThemeColor {
    }

    width: parent ? parent.width : 0
    visible: shown
    horizontalAlignment: Text.AlignHCenter
    color: theme.placeholderText
    font.pixelSize: 14
    font.letterSpacing: -0.4
    wrapMode: Text.Wrap
}
