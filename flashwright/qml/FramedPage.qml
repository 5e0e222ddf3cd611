import QtQuick
import QtQuick.Controls.Basic

// The frame of every page but the first: the window's background and a column
// 436 pixels wide, centred, 38 pixels below the top edge. Its first row holds
// the back arrow and the page heading; whatever the page declares goes into the
// column 24 pixels below that row.
// Keys: Enter acts on the page's default button unless a control with the
// keyboard focus takes the key itself; Escape does what the back arrow does,
// and on a page without one it is left to the page (escaped).
Page {
    id: page

    property string heading
    property bool backArrowVisible: true
    // Without the first row the page's own content starts 38 pixels below
    // the top edge.
    property bool headerShown: true
    // The forward action Enter triggers; null when the page has none.
    property StyledButton defaultButton: null
    readonly property CurrentThemeColor theme: CurrentThemeColor {
    }
    readonly property int columnWidth: 436

    // The back arrow was used; the page decides where that leads.
    signal back
    // Escape on a page that shows no back arrow.
    signal escaped

    function activateDefault() {
        if (defaultButton)
            defaultButton.activate();
    }

    topPadding: 0
    bottomPadding: 24
    Accessible.name: heading
    leftPadding: Math.round((width - columnWidth) / 2)
    rightPadding: width - columnWidth - leftPadding
    // A key held down acts once: its repeats would reach the dialog or the
    // page that the first press brought up.
    Keys.onReturnPressed: event => {
        if (!event.isAutoRepeat)
            activateDefault();
    }
    Keys.onEnterPressed: event => {
        if (!event.isAutoRepeat)
            activateDefault();
    }
    Keys.onEscapePressed: event => {
        if (event.isAutoRepeat)
            return;
        if (backArrowVisible)
            back();
        else
            escaped();
    }

    background: Rectangle {
        color: page.theme.window
    }

    header: Item {
        implicitHeight: page.headerShown ? 38 + headerRow.height + 24 : 38

        Item {
            id: headerRow

            x: page.leftPadding
            y: 38
            width: page.columnWidth
            height: 24
            visible: page.headerShown

            Item {
                id: backArrow

                objectName: "backArrow"
                width: 24
                height: 24
                visible: page.backArrowVisible
                activeFocusOnTab: visible

                Accessible.role: Accessible.Button
                Accessible.name: qsTr("Back")
                Accessible.onPressAction: page.back()
                Keys.onReturnPressed: page.back()
                Keys.onEnterPressed: page.back()
                Keys.onSpacePressed: page.back()

                Image {
                    anchors.fill: parent
                    anchors.margins: 4
                    source: page.theme.goBackButtonImage
                    sourceSize.width: 16
                    sourceSize.height: 16
                    opacity: backMouse.containsMouse ? 0.8 : 1
                }

                FocusRing {
                    innerRadius: 2
                    shown: backArrow.activeFocus
                }

                MouseArea {
                    id: backMouse

                    anchors.fill: parent
                    hoverEnabled: true
                    cursorShape: Qt.PointingHandCursor
                    onReleased: mouse => {
                        if (containsMouse)
                            page.back();
                    }
                }
            }

            Text {
                objectName: "heading"
                Accessible.role: Accessible.StaticText
                Accessible.name: text
                anchors.fill: parent
                // Clear of the back arrow on both sides, so that it stays centred.
                anchors.leftMargin: backArrow.width + 4
                anchors.rightMargin: backArrow.width + 4
                horizontalAlignment: Text.AlignHCenter
                verticalAlignment: Text.AlignVCenter
                text: page.heading
                textFormat: Text.PlainText
                color: page.theme.text
                font.pixelSize: 18
                elide: Text.ElideRight
            }
        }
    }
}
