import QtQuick

// A check box in the pages' palette: a square box as high as the control, then
// its label. A click, Space or Enter toggles it.
Item {
    id: checkBox

    property bool checked: false
    property string text
    property int pixelSize: 13
    property real radius: 4
    readonly property bool hovered: mouseArea.containsMouse

    // After every change made by the user, with checked already updated.
    signal toggled

    function toggle() {
        if (!enabled)
            return;
        checked = !checked;
        toggled();
    }

    implicitWidth: row.implicitWidth
    implicitHeight: 18
    activeFocusOnTab: true

    Accessible.role: Accessible.CheckBox
    Accessible.name: text
    Accessible.checkable: true
    Accessible.checked: checked
    Accessible.onToggleAction: toggle()
    Accessible.onPressAction: toggle()
    Keys.onSpacePressed: toggle()
    Keys.onReturnPressed: toggle()
    Keys.onEnterPressed: toggle()

    CurrentThemeColor {
        id: theme
    }

    Row {
        id: row

        height: parent.height
        spacing: 6

        Rectangle {
            id: box

            width: height
            height: parent.height
            radius: checkBox.radius
            color: checkBox.checked ? theme.checkBoxChecked : "transparent"
            border.width: 1
            border.color: checkBox.hovered ? theme.buttonBorderHover : theme.buttonBorder

            Image {
                anchors.fill: parent
                anchors.margins: 4
                visible: checkBox.checked
                source: theme.checkboxImage
                sourceSize.width: 10
                sourceSize.height: 10
                fillMode: Image.PreserveAspectFit
            }

            FocusRing {
                innerRadius: checkBox.radius
                shown: checkBox.activeFocus
            }
        }

        Text {
            anchors.verticalCenter: parent.verticalCenter
            text: checkBox.text
            textFormat: Text.PlainText
            color: theme.text
            font.pixelSize: checkBox.pixelSize
        }
    }

    MouseArea {
        id: mouseArea

        anchors.fill: parent
        hoverEnabled: true
        cursorShape: Qt.PointingHandCursor
        onClicked: checkBox.toggle()
    }
}
