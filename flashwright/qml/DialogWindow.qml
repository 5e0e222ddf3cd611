import QtQuick

// The window both dialogs share: modal for the whole program, of a fixed size
// that grows with the desktop's font, centred over the main window, with an
// empty title and the pages' background. It shows a heading, an optional line
// that names what the dialog is about, a wrapped body and, bottom right, the
// cancel button and the dialog's action. Cancel, Escape and closing the window
// only close it. Shown with open(); the keyboard starts on the cancel button,
// so Enter never confirms by accident.
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
    readonly property int usualHeight: Math.max(180, 10 * units.gridUnit)
    // Taller than usual only when a translation needs the room, so that
    // nothing is cut off. Decided as the dialog opens and kept while it is
    // shown, so that the window never changes its size in front of the user.
    property int fixedHeight: usualHeight
    readonly property CurrentThemeColor theme: CurrentThemeColor {
    }

    // The action was chosen; the dialog has closed itself already.
    signal accepted

    function open() {
        // The column places its lines only when it is next drawn; the texts
        // may have changed just now.
        lines.forceLayout();
        fixedHeight = Math.max(usualHeight, Math.ceil(content.implicitHeight) + 40);
        show();
    }

    // Opened, the dialog takes the keyboard, starting on Cancel; closed, it
    // hands the keyboard back to the main window.
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

    // Not on the repeats of an Escape held down since before the dialog
    // opened.
    Shortcut {
        sequence: "Escape"
        autoRepeat: false
        onActivated: dialog.close()
    }

    // Where the desktop draws no frame around a dialog, this line still
    // tells it from the window behind.
    Rectangle {
        anchors.fill: parent
        color: "transparent"
        border.width: 1
        border.color: dialog.theme.buttonBorder
    }

    Item {
        id: content

        Accessible.role: Accessible.Dialog
        Accessible.name: dialog.heading
        Accessible.description: dialog.body
        // Laid out for the fixed width even before the window is shown, so
        // that open() knows the height the texts need.
        x: 20
        y: 20
        width: dialog.fixedWidth - 40
        height: dialog.height - 40
        implicitHeight: lines.implicitHeight + 8 + buttons.height

        Column {
            id: lines

            width: parent.width
            spacing: 8

            Text {
                objectName: "dialogHeading"
                Accessible.role: Accessible.StaticText
                Accessible.name: text
                width: parent.width
                text: dialog.heading
                textFormat: Text.PlainText
                color: dialog.theme.text
                font.pixelSize: 16
                font.weight: 600
                wrapMode: Text.Wrap
            }

            Text {
                objectName: "dialogDetail"
                Accessible.role: Accessible.StaticText
                Accessible.name: text
                width: parent.width
                text: dialog.detail
                textFormat: Text.PlainText
                visible: text !== ""
                color: dialog.theme.text
                font.pixelSize: 14
                font.weight: Font.DemiBold
                wrapMode: Text.Wrap
            }

            Text {
                objectName: "dialogBody"
                Accessible.role: Accessible.StaticText
                Accessible.name: text
                width: dialog.bodyWidth
                text: dialog.body
                textFormat: Text.PlainText
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

            PrimaryButton {
                objectName: "dialogActionButton"
                text: dialog.actionText
                onClicked: dialog.accept()
            }
        }
    }
}
