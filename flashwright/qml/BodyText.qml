import QtQuick

// A paragraph of explanation on a page: as wide as its column, wrapped, in the
// muted colour with the letters drawn a little closer.
Text {
    readonly property CurrentThemeColor theme: CurrentThemeColor {
    }

    width: parent ? parent.width : 0
    // Some paragraphs carry names from outside (a drive's, an image's, an
    // error with a file name), which must show as they are.
    textFormat: Text.PlainText
    color: theme.placeholderText
    font.pixelSize: 14
    font.letterSpacing: -0.4
    wrapMode: Text.Wrap

    // A screen reader reads what the page shows.
    Accessible.role: Accessible.StaticText
    Accessible.name: text
}
