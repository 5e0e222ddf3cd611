import QtQuick

// The pages' progress bar: a thin framed track filled from the left. The value
// is taken as a share of the whole: an unknown size gives NaN and an xz image
// checked against its compressed size runs past 1, so the fill is kept within
// the track. While sweeping, the fill gives way to a segment that runs across
// again and again, for work whose end cannot be foreseen.
Item {
    id: track

    property real value: 0
    property bool sweeping: false
    readonly property real shownValue: isNaN(value) ? 0 : Math.max(0, Math.min(1, value))

    implicitHeight: 16

    Accessible.role: Accessible.ProgressBar
    Accessible.description: sweeping ? "" : Math.round(shownValue * 100) + " %"

    CurrentThemeColor {
        id: theme
    }

    Rectangle {
        anchors.fill: parent
        radius: 4
        color: "transparent"
        border.width: 1
        border.color: theme.progressBarBorder
        clip: true

        Rectangle {
            objectName: "fill"
            y: 1
            width: track.width * track.shownValue
            height: parent.height - 2
            radius: 4
            color: theme.progressBarContentItemFill
            visible: !track.sweeping
        }

        Rectangle {
            id: segment

            objectName: "sweep"
            y: 1
            x: -width
            width: track.width * 0.3
            height: parent.height - 2
            radius: 4
            color: theme.progressBarContentItemFill
            visible: track.sweeping

            ParallelAnimation {
                running: track.sweeping && track.visible
                loops: Animation.Infinite

                NumberAnimation {
                    target: segment
                    property: "x"
                    from: -segment.width
                    to: track.width
                    duration: 1000
                }

                NumberAnimation {
                    target: segment
                    property: "opacity"
                    from: 1
                    to: 0
                    duration: 500
                }
            }
        }
    }
}
