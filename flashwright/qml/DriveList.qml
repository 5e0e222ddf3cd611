import QtQuick

// "Device": the drive list that follows the drive selection both ways. A newly
// plugged drive that the list selects shows here at once, and a row chosen here
// becomes the selection.
Item {
    id: block

    readonly property alias comboBox: combo

    implicitHeight: 62

    SectionLabel {
        text: qsTr("Device")
    }

    StyledComboBox {
        id: combo

        objectName: "driveComboBox"
        anchors.bottom: parent.bottom
        width: parent.width
        height: 34
        model: drives
        textRole: "display"
        // The drive list has no value role: a row's value is its position,
        // which is what drives.selectedIndex counts.
        valueRole: ""
        placeholderText: qsTr("There are no portable drives connected")
        displayText: drives.selected ? drives.selected.name : ""
        Accessible.name: qsTr("Device")
        onCurrentIndexChanged: drives.selectedIndex = currentIndex
    }

    // Unlike a plain binding, this one survives the list's own assignment
    // when a row is clicked.
    Binding {
        target: combo
        property: "currentIndex"
        value: drives.selectedIndex
    }
}
