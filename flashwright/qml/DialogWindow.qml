import QtQuick

// The window both dialogs share: modal for the whole program, of a fixed size
// that grows with the desktop's font, centred over the main window, with an
// empty title and the pages' background. Escape closes it.
Window {
    id: dialog

    readonly property int fixedWidth: Math.max(360, 20 * units.gridUnit)
    readonly property int fixedHeight: Math.max(180, 10 * units.gridUnit)
    readonly property CurrentThemeColor theme: CurrentThemeColor {
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

    Shortcut {
        sequence: "Escape"
        onActivated: dialog.close()
    }
}
