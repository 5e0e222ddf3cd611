import QtQuick
import QtTest
import "qrc:/qml"

// A test case that works on a real main window: opens one with a catalogue of
// its own, finds the pages and controls by objectName and waits for the page
// stack to settle.
TestCase {
    id: testCase

    property var window: null

    // The main window with a catalogue fed from the named test feed, as it is
    // before the event loop has run once.
    function createWindow(feed) {
        harness.newCatalogue(feed === undefined ? "catalogue.json" : feed);
        const component = Qt.createComponent("qrc:/qml/main.qml");
        verify(component.status === Component.Ready, component.errorString());
        window = createTemporaryObject(component, testCase);
        verify(window, "no main window");
        return window;
    }

    // The same, shown and holding the keyboard.
    function openWindow(feed) {
        createWindow(feed);
        window.requestActivate();
        tryVerify(() => window.active, 5000, "the main window did not become active");
        return window;
    }

    function waitForCatalogue() {
        tryVerify(() => releases.isReady, 20000, "the catalogue did not arrive");
    }

    function currentPage() {
        return window.pageStack.currentItem;
    }

    // The page on top of the stack, once it is there and the stack has come to rest.
    function waitForPage(objectName) {
        tryVerify(() => currentPage() && currentPage().objectName === objectName && !window.pageStack.busy, 5000, "page " + objectName + " not shown");
        return currentPage();
    }

    // From the first page (Enter takes its default, the catalogue) through
    // the edition's card to the version page.
    function openVersionPage(edition) {
        waitForPage("mainPage");
        keyClick(Qt.Key_Return);
        mouseClick(child(waitForPage("editionsPage"), "edition" + edition));
        return waitForPage("versionPage");
    }

    function child(root, objectName) {
        const item = findChild(root, objectName);
        verify(item, "no " + objectName + " in " + root);
        return item;
    }

    // The listed drive whose name (without the size) is rawName, or null.
    function driveNamed(rawName) {
        for (let row = 0; row < drives.length; ++row) {
            const drive = drives.data(drives.index(row, 0), Qt.UserRole + 1);
            if (drive.name.startsWith(rawName + " ("))
                return drive;
        }
        return null;
    }

    function selectDrive(rawName) {
        const drive = driveNamed(rawName);
        verify(drive, "no drive " + rawName);
        for (let row = 0; row < drives.length; ++row) {
            if (drives.data(drives.index(row, 0), Qt.UserRole + 1) === drive)
                drives.selectedIndex = row;
        }
        compare(drives.selected, drive);
        return drive;
    }

    // From the first page to the drive page, with a file of the user's own
    // (made at path, below a folder of the harness) chosen when a path is given.
    function openDrivePage(path) {
        mouseClick(child(waitForPage("mainPage"), "localFileButton"));
        const page = waitForPage("drivePage");
        if (path !== undefined)
            chooseLocalFile(page, path);
        return page;
    }

    function chooseLocalFile(page, path) {
        const url = harness.makeLocalFile(path, 65536);
        verify(url !== "");
        // Without a desktop portal the page uses Qt's own file dialog.
        verify(!portalFileDialog.isAvailable);
        // The dialog opens on the file, and the user takes it.
        const dialog = child(page, "fileDialog");
        dialog.selectedFile = url;
        mouseClick(child(page, "selectButton"));
        tryVerify(() => dialog.visible);
        dialog.accept();
        tryCompare(releases.localFile, "iso", decodeURIComponent(url.replace("file://", "")));
    }

    // The erase confirmation, once it has come up and holds the keyboard.
    function waitForConfirmation() {
        const dialog = window.deviceWarningDialogWindow;
        tryVerify(() => dialog.visible && dialog.activeFocusItem !== null, 5000, "no erase confirmation");
        verifyDialogFits(dialog);
        return dialog;
    }

    // The dialog is tall enough for its texts: the body ends above the buttons.
    function verifyDialogFits(dialog) {
        const body = child(dialog.contentItem, "dialogBody");
        const buttons = child(dialog.contentItem, "dialogActionButton");
        const bodyEnd = body.mapToItem(null, 0, body.height).y;
        const buttonsStart = buttons.mapToItem(null, 0, 0).y;
        verify(bodyEnd <= buttonsStart, "the body ends at " + bodyEnd + ", the buttons start at " + buttonsStart);
    }

    // Confirms the write to the drive named rawName, from the drive page or
    // the progress page, and waits for the progress page.
    function writeTo(rawName, continueButton) {
        const drive = selectDrive(rawName);
        mouseClick(continueButton);
        const dialog = waitForConfirmation();
        compare(dialog.drive, drive);
        mouseClick(child(dialog.contentItem, "dialogActionButton"));
        tryVerify(() => !dialog.visible);
        const page = waitForPage("downloadPage");
        compare(window.writingDrive, drive);
        return page;
    }

    when: windowShown
}
