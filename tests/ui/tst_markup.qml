import QtQuick
import QtTest
import "qrc:/qml"

// Names from outside the program (a feed's, a drive's, a file's) are shown
// as they are written: markup in them is neither applied nor followed, and
// an image it names is never fetched.
WindowTestCase {
    name: "Markup"

    property var plugged: null

    // The texts that show the marker in the window, its popups and dialogs.
    function textsShowing(marker) {
        const found = [];
        const visit = item => {
            if (!item)
                return;
            if (typeof item.text === "string" && item.text.includes(marker))
                found.push(item);
            for (let i = 0; i < item.children.length; ++i)
                visit(item.children[i]);
        };
        visit(window.contentItem.parent);
        visit(window.deviceWarningDialogWindow.contentItem);
        visit(window.cancelDialogWindow.contentItem);
        return found;
    }

    function verifyShownAsWritten(marker, where) {
        const texts = textsShowing(marker);
        verify(texts.length > 0, "nothing shows " + marker + " " + where);
        for (const text of texts) {
            // Text fields and inputs show plain text only.
            if (text.textFormat !== undefined)
                compare(text.textFormat, Text.PlainText, (text.objectName || text) + " " + where + " reads markup in " + text.text);
        }
    }

    function verifyNothingFetched() {
        const fetched = harness.requestedPaths().filter(path => path.endsWith(".png"));
        compare(fetched, []);
    }

    function init() {
        harness.setDriveTimings(15, 300, 600, 200);
    }

    function cleanup() {
        if (window && window.deviceWarningDialogWindow.visible)
            window.deviceWarningDialogWindow.close();
        if (plugged && drives.contains(plugged))
            harness.unplugDrive(plugged);
        plugged = null;
        const okay = driveNamed("Okay");
        if (okay) {
            okay.cancel();
            okay.setRestoreStatus(Units.Clean);
        }
        harness.restoreDriveTimings();
    }

    function test_feedName() {
        openWindow("markup.json");
        waitForCatalogue();
        const marker = "<b>8.0</b>";
        const page = openVersionPage(Units.Standart);
        const list = child(page, "imageList");
        tryVerify(() => list.displayText.includes(marker));
        verifyShownAsWritten(marker, "in the image list");
        mouseClick(list);
        tryVerify(() => list.popupOpened);
        verifyShownAsWritten(marker, "in the open image list");
        keyClick(Qt.Key_Escape);
        tryVerify(() => !list.popupOpened);
        keyClick(Qt.Key_Enter);
        const progress = waitForPage("downloadPage");
        tryVerify(() => child(progress, "statusHeading").text.includes(marker));
        verifyShownAsWritten(marker, "on the progress page");
        tryCompare(releases.variant, "status", Units.Ready, 20000);
        verifyNothingFetched();
    }

    function test_driveName() {
        openWindow();
        waitForCatalogue();
        const name = "Stick <b>x</b><img src=\"" + harness.serverUrl("/slow/images/drive-name.png") + "\">";
        const marker = "<b>x</b>";
        harness.plugDrive(name, 8000000000, true);
        plugged = driveNamed(name);
        const page = openDrivePage("images/disk.iso");
        selectDrive(name);
        const list = child(page, "driveComboBox");
        verifyShownAsWritten(marker, "in the drive list");
        mouseClick(list);
        tryVerify(() => list.popupOpened);
        verifyShownAsWritten(marker, "in the open drive list");
        keyClick(Qt.Key_Escape);
        tryVerify(() => !list.popupOpened);
        mouseClick(child(page, "continueButton"));
        waitForConfirmation();
        verifyShownAsWritten(marker, "in the erase confirmation");
        keyClick(Qt.Key_Escape);
        tryVerify(() => !window.deviceWarningDialogWindow.visible);
        drives.lastRestoreable = plugged;
        mouseClick(child(page, "backArrow"));
        const main = waitForPage("mainPage");
        tryVerify(() => child(main, "restoreButton").visible);
        child(main, "restoreButton").activate();
        waitForPage("restorePage");
        verifyShownAsWritten(marker, "on the restore page");
        verifyNothingFetched();
    }

    function test_fileName() {
        openWindow();
        waitForCatalogue();
        const file = "<u>disk<img src='file-name.png'>.iso";
        const page = openDrivePage(file);
        compare(child(page, "fileField").text, file);
        const progress = writeTo("Okay", child(page, "continueButton"));
        tryVerify(() => child(progress, "statusHeading").text.includes(file));
        verifyShownAsWritten(file, "while writing");
        tryCompare(releases.variant, "status", Units.Finished, 10000);
        verifyShownAsWritten(file, "once written");
        verifyNothingFetched();
    }
}
