import QtQuick

// The mark of the keyboard focus: a ring just outside its parent, in the
// accent red that reads on both palettes. Set shown to the focus it marks.
Rectangle {
    property bool shown: false
    // The corner radius of what it surrounds.
    property real innerRadius: 0
    readonly property CurrentThemeColor theme: CurrentThemeColor {
    }

    anchors.fill: parent
    anchors.margins: -3
    radius: innerRadius + 3
    color: "transparent"
    border.width: 2
    border.color: theme.focusRing
    visible: shown
}
