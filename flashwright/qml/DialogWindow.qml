import QtQuick

// The window both dialogs share: modal for the whole program, of a fixed size
// that grows with the desktop's font, centred over the main window, with an
// empty title and the pages' background. It shows a heading, an optional line
// that names what the dialog is about, a wrapped body and, bottom right, the
// cancel button and the dialog's action. Cancel, Escape and closing the window only close it. The keyboard
// starts on the cancel button, so Enter never confirms by accident.
Window {
    id: dialog

    property string heading
    property string detail
    property string body
    // Each dialog words its buttons itself: the same English word is
    // translated differently in the two.
    property string cancelText
    property string actionText
    // Narrower than the content when a dialog wants it.
    property real bodyWidth: content.width
    readonly property int fixedWidth: Math.max(360, 20 * units.gridUnit)
    // Taller than usual only when a translation needs the room: nothing is cut off.
    readonly property int fixedHeight: Math.max(180, 10 * units.gridUnit, Math.ceil(content.implicitHeight) + 40)
    readonly property CurrentThemeColor theme: CurrentThemeColor {
    }

    // The action was chosen; the dialog has closed itself already.
    signal accepted

    // Each time the dialog opens, the keyboard starts on Cancel; once it is
    // closed the keyboard goes back to the main window.
    function takeKeyboard() {
        if (!visible) {
            mainWindow.requestActivate();
            return;
        }
        cancelButton.focus = true;
        requestActivate();
    }

    function accept() {
        close();
        accepted();
    }

    visible: false
    flags: Qt.Dialog
    modality: Qt.ApplicationModal
    title: " "
    color: theme.window
    width: fixedWidth
    height: fixedHeight
    minimumWidth: fixedWidth
    maximumWidth: fixedWidth
    minimumHeight: fixedHeight
    maximumHeight: fixedHeight
    x: mainWindow.x + Math.round((mainWindow.width - width) / 2)
    y: mainWindow.y + Math.round((mainWindow.height - height) / 2)
    onVisibleChanged: takeKeyboard()

    Shortcut {
        sequence: "Escape"
        onActivated: dialog.close()
    }

    Item {
        id: content

        Accessible.role: Accessible.Dialog
        Accessible.name: dialog.heading
        Accessible.description: dialog.body
        anchors.fill: parent
        anchors.margins: 20
        implicitHeight: lines.implicitHeight + 8 + buttons.height

        Column {
            id: lines

            width: parent.width
            spacing: 8

            Text {
                objectName: "dialogHeading"
                width: parent.width
                text: dialog.heading
                color: dialog.theme.text
                font.pixelSize: 16
                font.weight: 600
                wrapMode: Text.Wrap
            }

            Text {
                objectName: "dialogDetail"
                width: parent.width
                text: dialog.detail
                visible: text !== ""
                color: dialog.theme.text
                font.pixelSize: 14
                font.weight: Font.DemiBold
                wrapMode: Text.Wrap
            }

            Text {
                objectName: "dialogBody"
                width: dialog.bodyWidth
                text: dialog.body
                color: dialog.theme.placeholderText
                font.pixelSize: 14
                wrapMode: Text.Wrap
            }
        }

        Row {
            id: buttons

            anchors.right: parent.right
            anchors.bottom: parent.bottom
            height: 30
            spacing: 12

            StyledButton {
                id: cancelButton

                objectName: "dialogCancelButton"
                focus: true
                width: implicitWidth + 16
                height: 30
                text: dialog.cancelText
                onClicked: dialog.close()
            }

            StyledButton {
                objectName: "dialogActionButton"
                width: implicitWidth + 16
                height: 30
                text: dialog.actionText
                thisColor: dialog.theme.buttonLighter
                onClicked: dialog.accept()
            }
        }
    }
}
