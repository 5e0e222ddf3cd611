import QtQuick
import QtQuick.Controls.Basic

// A drop-down list in the pages' palette. The page decides what it shows
// (displayText) and follows currentIndex, which holds the value of the chosen
// row: the number in the row's valueRole, or the row number in models without
// that role. An empty displayText disables the box, so an empty list cannot be
// opened. Space, Enter or Down opens the list from the keyboard; Up and Down
// move in it, Enter or Space choose, Escape closes it.
Item {
    id: combo

    property var model
    property string textRole: "name"
    property string valueRole: "sourceIndex"
    property string placeholderText
    property int currentIndex: -1
    property string displayText
    property int popupElementMaxView: 2
    readonly property bool hovered: mouseArea.containsMouse
    readonly property alias popupOpened: popup.visible
    readonly property int rowHeight: 34
    // Set while the list is worked with the keyboard, so that its current row
    // shows as the hovered one does.
    property bool keyboardNavigation: false

    function open() {
        if (!enabled)
            return;
        popup.open();
    }

    function choose(value) {
        currentIndex = value;
        popup.close();
    }

    enabled: displayText !== ""
    implicitWidth: 200
    implicitHeight: rowHeight
    activeFocusOnTab: true

    Accessible.role: Accessible.ComboBox
    Accessible.name: displayText !== "" ? displayText : placeholderText
    Accessible.description: displayText
    Accessible.onPressAction: open()
    Keys.onSpacePressed: {
        keyboardNavigation = true;
        open();
    }
    Keys.onReturnPressed: {
        keyboardNavigation = true;
        open();
    }
    Keys.onEnterPressed: {
        keyboardNavigation = true;
        open();
    }
    Keys.onDownPressed: {
        keyboardNavigation = true;
        open();
    }

    CurrentThemeColor {
        id: theme
    }

    Rectangle {
        anchors.fill: parent
        radius: 4
        color: combo.enabled ? theme.comboBox : theme.comboBoxDisabled
        border.width: 1
        border.color: popup.visible ? theme.comboBoxBorderOpen : theme.buttonBorder
    }

    Text {
        anchors.fill: parent
        anchors.leftMargin: 8
        anchors.rightMargin: 8 + dropIcon.width + 8
        verticalAlignment: Text.AlignVCenter
        text: combo.displayText !== "" ? combo.displayText : combo.placeholderText
        color: combo.displayText !== "" ? theme.text : theme.placeholderText
        font.pixelSize: 13
        elide: Text.ElideRight
    }

    Image {
        id: dropIcon

        anchors.right: parent.right
        anchors.rightMargin: 8
        anchors.verticalCenter: parent.verticalCenter
        width: 16
        height: 16
        source: theme.goDownButtonImage
        sourceSize: Qt.size(16, 16)
    }

    Rectangle {
        anchors.fill: parent
        anchors.margins: -3
        radius: 7
        color: "transparent"
        border.width: 2
        border.color: theme.focusRing
        visible: combo.activeFocus
    }

    MouseArea {
        id: mouseArea

        anchors.fill: parent
        hoverEnabled: true
        cursorShape: combo.enabled ? Qt.PointingHandCursor : Qt.ArrowCursor
        onClicked: {
            combo.keyboardNavigation = false;
            combo.open();
        }
    }

    Popup {
        id: popup

        property bool hadFocus: false

        y: combo.height + 4
        width: combo.width
        height: Math.min(list.count, combo.popupElementMaxView) * combo.rowHeight + topPadding + bottomPadding
        padding: 0
        focus: true

        onAboutToShow: hadFocus = combo.activeFocus
        onOpened: {
            list.forceLayout();
            list.currentIndex = list.rowOfValue(combo.currentIndex);
            list.positionViewAtIndex(Math.max(list.currentIndex, 0), ListView.Contain);
            list.forceActiveFocus();
        }
        // Closing the list hands the keyboard back to the box it came from.
        onClosed: {
            if (hadFocus)
                combo.forceActiveFocus();
        }

        background: Rectangle {
            color: theme.button
            radius: 4
            border.width: 1
            border.color: theme.comboBoxPopupBorder
        }

        contentItem: ListView {
            id: list

            function rowOfValue(value) {
                for (let row = 0; row < count; ++row) {
                    const item = itemAtIndex(row);
                    if (item && item.value === value)
                        return row;
                }
                return -1;
            }

            function chooseCurrent() {
                const item = itemAtIndex(currentIndex);
                if (item)
                    combo.choose(item.value);
            }

            clip: true
            model: popup.visible ? combo.model : null
            boundsBehavior: Flickable.StopAtBounds
            keyNavigationEnabled: true
            highlightFollowsCurrentItem: false
            ScrollIndicator.vertical: ScrollIndicator {}

            Keys.onUpPressed: {
                combo.keyboardNavigation = true;
                decrementCurrentIndex();
            }
            Keys.onDownPressed: {
                combo.keyboardNavigation = true;
                incrementCurrentIndex();
            }
            Keys.onReturnPressed: chooseCurrent()
            Keys.onEnterPressed: chooseCurrent()
            Keys.onSpacePressed: chooseCurrent()

            delegate: Rectangle {
                id: row

                required property int index
                required property var model
                readonly property int value: {
                    const raw = model[combo.valueRole];
                    return raw === undefined ? index : parseInt(raw);
                }
                readonly property bool highlighted: rowMouse.containsMouse || (combo.keyboardNavigation && ListView.isCurrentItem)

                width: ListView.view.width
                height: combo.rowHeight
                color: highlighted ? theme.comboBoxPopupItemHighlighted : theme.comboBoxPopupItem

                Accessible.role: Accessible.ListItem
                Accessible.name: rowText.text
                Accessible.selected: value === combo.currentIndex

                Text {
                    id: rowText

                    anchors.fill: parent
                    anchors.leftMargin: 8
                    anchors.rightMargin: 8
                    verticalAlignment: Text.AlignVCenter
                    text: row.model[combo.textRole] ?? ""
                    color: row.highlighted ? theme.highlightedText : theme.text
                    font.pixelSize: 13
                    font.weight: row.value === combo.currentIndex ? Font.DemiBold : Font.Normal
                    elide: Text.ElideRight
                }

                MouseArea {
                    id: rowMouse

                    anchors.fill: parent
                    hoverEnabled: true
                    cursorShape: Qt.PointingHandCursor
                    onEntered: {
                        combo.keyboardNavigation = false;
                        list.currentIndex = row.index;
                    }
                    onClicked: combo.choose(row.value)
                }
            }
        }
    }
}
