import QtQuick

// A flat push button in the pages' palette. The mouse acts on it, and so do
// Enter, Return and Space once Tab has given it the keyboard focus; pages react
// to clicked or released, which both follow every activation. A key acts when
// it is let go, and only on the button that saw it pressed: a button that opens
// a dialog must not have the same key press the dialog's own button.
Item {
    id: button

    property string text
    property int pixelSize: 13
    property real radius: 2
    property bool withBorder: true
    property bool textCenterAlignment: true
    property color thisColor: theme.button
    property color textColor: theme.buttonText
    // An optional 16 by 16 icon before the label.
    property string iconSource
    readonly property bool hovered: mouseArea.containsMouse
    // The label keeps 7 pixels from either edge when centred (the implicit
    // width leaves exactly that), and starts 12 pixels in otherwise.
    readonly property real contentPadding: textCenterAlignment ? 7 : 12
    readonly property CurrentThemeColor theme: CurrentThemeColor {
    }

    // A key that activates the button is down on it.
    property bool keyDown: false

    signal released
    signal clicked

    function isActivationKey(key) {
        return key === Qt.Key_Return || key === Qt.Key_Enter || key === Qt.Key_Space;
    }

    // Mouse and keyboard end here: released first, then clicked, as a mouse
    // click reports them.
    function activate() {
        if (!enabled || !visible)
            return;
        released();
        clicked();
    }

    implicitWidth: label.implicitWidth + (icon.visible ? icon.width + content.spacing : 0) + 2 * contentPadding
    implicitHeight: 30
    activeFocusOnTab: true

    Accessible.role: Accessible.Button
    Accessible.name: text
    Accessible.onPressAction: activate()
    Keys.onPressed: event => {
        if (!isActivationKey(event.key))
            return;
        event.accepted = true;
        if (!event.isAutoRepeat)
            keyDown = true;
    }
    Keys.onReleased: event => {
        if (!isActivationKey(event.key) || event.isAutoRepeat)
            return;
        event.accepted = true;
        if (keyDown) {
            keyDown = false;
            activate();
        }
    }
    onActiveFocusChanged: keyDown = false

    Rectangle {
        anchors.fill: parent
        color: button.thisColor
        radius: button.radius
        border.width: button.withBorder ? 1 : 0
        border.color: button.hovered && button.enabled ? theme.buttonBorderHover : theme.buttonBorder
    }

    Row {
        id: content

        readonly property real available: button.width - 2 * button.contentPadding

        anchors.verticalCenter: parent.verticalCenter
        x: button.textCenterAlignment ? Math.round((button.width - width) / 2) : button.contentPadding
        spacing: 8

        Image {
            id: icon

            anchors.verticalCenter: parent.verticalCenter
            width: 16
            height: 16
            visible: button.iconSource !== ""
            source: button.iconSource
            sourceSize.width: 16
            sourceSize.height: 16
            fillMode: Image.PreserveAspectFit
        }

        Text {
            id: label

            anchors.verticalCenter: parent.verticalCenter
            width: Math.min(implicitWidth, content.available - (icon.visible ? icon.width + content.spacing : 0))
            text: button.text
            textFormat: Text.PlainText
            color: button.textColor
            font.pixelSize: button.pixelSize
            elide: Text.ElideRight
        }
    }

    FocusRing {
        innerRadius: button.radius
        shown: button.activeFocus
    }

    MouseArea {
        id: mouseArea

        anchors.fill: parent
        hoverEnabled: true
        cursorShape: button.enabled ? Qt.PointingHandCursor : Qt.ForbiddenCursor
        // A press that leaves the button before it is let go does nothing,
        // as with any push button.
        onReleased: mouse => {
            if (containsMouse)
                button.released();
        }
        onClicked: button.clicked()
    }
}
