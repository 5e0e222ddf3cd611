import QtQuick
import QtQuick.Controls.Basic

// The main window: a page stack that follows selectedPage, the one place where
// the pages navigate. Every page moves on by writing selectedPage; the state of
// that page then pushes or pops the stack and sets the window title.
ApplicationWindow {
    id: mainWindow

    property int selectedPage: Units.MainPage
    property int selectedEdition: Units.None
    property int selectedOption: Units.Download
    // The drive the restore page shows, copied from drives.lastRestoreable
    // when that page opens.
    property QtObject lastRestoreable: null
    // Erase the downloaded image once it has been written.
    property bool eraseVariant: false
    // The drive that the image was last handed to for writing. The progress
    // page, Abort and the restore offer act on this drive, never on
    // drives.selected, which a plugged or unplugged drive may move meanwhile.
    // Null once the drive is gone.
    property QtObject writingDrive: null
    readonly property int fixedWidth: Math.max(800, 32 * units.gridUnit)
    readonly property int fixedHeight: Math.max(600, 25 * units.gridUnit)
    readonly property alias pageStack: stack
    readonly property alias cancelDialogWindow: cancelDialog
    readonly property alias deviceWarningDialogWindow: deviceWarningDialog

    function variantStatusText() {
        return releases.variant ? releases.variant.statusString : "";
    }

    // Entry scripts of the navigation states, run once each time their page
    // becomes the selected one.
    function enterMainPage() {
        selectedEdition = Units.None;
        selectedOption = Units.Download;
        releases.filterSource = Units.ZV80;
        while (stack.depth > 1)
            stack.pop();
    }

    function enterEditionsPage() {
        if (stack.depth > 2)
            stack.pop();
        else
            stack.push("EditionsPage.qml");
    }

    function enterVersionPage() {
        if (stack.depth > 3)
            stack.pop();
        else
            stack.push("VersionPage.qml");
    }

    // Writes the chosen image to the drive the user confirmed, provided that
    // drive is still listed. Shows the progress page first, so that a write
    // refused at once shows its reason there.
    function writeImage(drive) {
        const image = releases.variant;
        if (!drive || !drives.contains(drive) || !image)
            return false;
        writingDrive = drive;
        selectedPage = Units.DownloadPage;
        drive.setImage(image);
        drive.write(image);
        return true;
    }

    function enterDrivePage() {
        stack.push("DrivePage.qml");
        eraseVariant = false;
    }

    objectName: "mainWindow"
    visible: true
    title: qsTr("Zelvan Flashwright")
    width: fixedWidth
    height: fixedHeight
    minimumWidth: fixedWidth
    maximumWidth: fixedWidth
    minimumHeight: fixedHeight
    maximumHeight: fixedHeight
    color: theme.window

    Units {
        id: units

        objectName: "units"
    }

    CurrentThemeColor {
        id: theme
    }

    StackView {
        id: stack

        objectName: "pageStack"
        anchors.fill: parent
        focus: true
        initialItem: "MainPage.qml"

        // The keyboard goes to the page on top, so that Tab, Enter and Escape
        // work there without a click first.
        onCurrentItemChanged: {
            if (currentItem)
                currentItem.forceActiveFocus();
        }

        pushEnter: SlideTransition {
            fromX: stack.width
        }
        pushExit: SlideTransition {
            toX: -stack.width
        }
        popEnter: SlideTransition {
            fromX: -stack.width
        }
        popExit: SlideTransition {
            toX: stack.width
        }

        states: [
            State {
                name: "mainPage"
                when: mainWindow.selectedPage === Units.MainPage

                PropertyChanges {
                    target: mainWindow
                    title: qsTr("Zelvan Flashwright")
                }
                StateChangeScript {
                    script: mainWindow.enterMainPage()
                }
            },
            State {
                name: "versionPage"
                when: mainWindow.selectedPage === Units.VersionPage

                PropertyChanges {
                    target: mainWindow
                    title: qsTr("Select Zelvan Version")
                }
                StateChangeScript {
                    script: mainWindow.enterVersionPage()
                }
            },
            State {
                name: "drivePage"
                when: mainWindow.selectedPage === Units.DrivePage

                PropertyChanges {
                    target: mainWindow
                    title: qsTr("Select Drive")
                }
                StateChangeScript {
                    script: mainWindow.enterDrivePage()
                }
            },
            State {
                name: "editionsPage"
                when: mainWindow.selectedPage === Units.EditionsPage

                PropertyChanges {
                    target: mainWindow
                    title: mainWindow.variantStatusText()
                }
                StateChangeScript {
                    script: mainWindow.enterEditionsPage()
                }
            },
            State {
                name: "downloadPage"
                when: mainWindow.selectedPage === Units.DownloadPage

                PropertyChanges {
                    target: mainWindow
                    title: mainWindow.variantStatusText()
                }
                StateChangeScript {
                    script: stack.push("DownloadPage.qml")
                }
            },
            State {
                name: "restorePage"
                when: mainWindow.selectedPage === Units.RestorePage

                PropertyChanges {
                    target: mainWindow
                    title: qsTr("Restore")
                }
                StateChangeScript {
                    script: stack.push("RestorePage.qml")
                }
            },
            State {
                name: "certPage"
                when: mainWindow.selectedPage === Units.CertPage

                PropertyChanges {
                    target: mainWindow
                    title: qsTr("Certified edition")
                }
                StateChangeScript {
                    script: stack.push("CertPage.qml")
                }
            }
        ]
    }

    // Both dialogs are separate modal windows, made hidden with the main window
    // and shown by the pages on demand.
    CancelDialog {
        id: cancelDialog
    }

    DeviceWarningDialog {
        id: deviceWarningDialog
    }
}
