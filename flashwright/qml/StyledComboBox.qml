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
    // Kept by the rows of the open list: the row of the chosen value, and the
    // value of the row that Enter would choose.
    property int chosenRow: -1
    property int highlightedValue: -1

    function open() {
        if (!enabled)
            return;
        popup.open();
    }

    function openByKeyboard() {
        keyboardNavigation = true;
        open();
    }

    function choose(value) {
        currentIndex = value;
        popup.close();
    }

    function chooseHighlighted() {
        if (list.currentIndex >= 0)
            choose(highlightedValue);
    }

    enabled: displayText !== ""
    implicitWidth: 200
    implicitHeight: rowHeight
    activeFocusOnTab: true

    Accessible.role: Accessible.ComboBox
    Accessible.name: displayText !== "" ? displayText : placeholderText
    Accessible.description: displayText
    Accessible.onPressAction: open()
    Keys.onSpacePressed: openByKeyboard()
    Keys.onReturnPressed: openByKeyboard()
    Keys.onEnterPressed: openByKeyboard()
    Keys.onDownPressed: openByKeyboard()

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
        textFormat: Text.PlainText
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
        sourceSize.width: 16
        sourceSize.height: 16
    }

    FocusRing {
        innerRadius: 4
        shown: combo.activeFocus
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

        objectName: "popup"
        Accessible.name: combo.Accessible.name
        y: combo.height + 4
        width: combo.width
        height: Math.min(list.count, combo.popupElementMaxView) * combo.rowHeight + topPadding + bottomPadding
        padding: 0
        focus: true

        // Before the list gets its model, so that the rows made for it can say
        // which of them is the chosen one.
        onAboutToShow: {
            hadFocus = combo.activeFocus;
            combo.chosenRow = -1;
            combo.highlightedValue = -1;
        }
        onOpened: {
            list.forceLayout();
            // Rows past the visible ones are made when the view has time, so
            // the chosen one may not have said so yet: making each row the
            // current one builds it at once, until the chosen one answers.
            for (let row = 0; combo.chosenRow < 0 && combo.currentIndex >= 0 && row < list.count; ++row)
                list.currentIndex = row;
            if (combo.chosenRow < 0)
                combo.highlightedValue = -1;
            list.currentIndex = combo.chosenRow;
            list.positionViewAtIndex(Math.max(combo.chosenRow, 0), ListView.Contain);
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

        ListView {
            id: list

            objectName: "list"
            anchors.fill: parent
            clip: true
            model: popup.visible ? combo.model : null
            boundsBehavior: Flickable.StopAtBounds
            // Every row is made, not only the visible ones: assistive
            // technology finds and chooses rows without scrolling to them.
            // The lists are short (images of one line, drives).
            cacheBuffer: Math.max(0, count * combo.rowHeight)
            keyNavigationEnabled: true
            highlightFollowsCurrentItem: false
            ScrollIndicator.vertical: ScrollIndicator {
            }

            Keys.onUpPressed: {
                combo.keyboardNavigation = true;
                decrementCurrentIndex();
            }
            Keys.onDownPressed: {
                combo.keyboardNavigation = true;
                incrementCurrentIndex();
            }
            Keys.onReturnPressed: combo.chooseHighlighted()
            Keys.onEnterPressed: combo.chooseHighlighted()
            Keys.onSpacePressed: combo.chooseHighlighted()

            delegate: Rectangle {
                id: row

                required property int index
                required property var model
                readonly property int value: {
                    const raw = model[combo.valueRole];
                    return raw === undefined ? index : parseInt(raw);
                }
                readonly property bool current: ListView.isCurrentItem
                readonly property bool highlighted: rowMouse.containsMouse || (combo.keyboardNavigation && current)

                objectName: "row" + index
                width: ListView.view.width
                height: combo.rowHeight
                color: highlighted ? theme.comboBoxPopupItemHighlighted : theme.comboBoxPopupItem

                Accessible.role: Accessible.ListItem
                Accessible.name: rowText.text
                Accessible.selected: value === combo.currentIndex
                Accessible.selectable: true
                Accessible.onPressAction: combo.choose(value)

                // The list opens on the chosen row.
                Component.onCompleted: {
                    if (value === combo.currentIndex)
                        combo.chosenRow = index;
                }
                onCurrentChanged: {
                    if (current)
                        combo.highlightedValue = value;
                }

                Text {
                    id: rowText

                    objectName: "rowText"
                    anchors.fill: parent
                    anchors.leftMargin: 8
                    anchors.rightMargin: 8
                    verticalAlignment: Text.AlignVCenter
                    text: row.model[combo.textRole] ?? ""
                    textFormat: Text.PlainText
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
