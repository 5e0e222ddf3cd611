import QtQuick

// The label above a group of controls on a page.
Text {
    readonly property CurrentThemeColor theme: CurrentThemeColor {
    }

    textFormat: Text.PlainText
    color: theme.text
    font.pixelSize: 14

    Accessible.role: Accessible.StaticText
    Accessible.name: text
}
