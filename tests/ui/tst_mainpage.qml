import QtQuick
import QtTest
import "qrc:/qml"

// The first page before and after the catalogue has arrived, and its restore
// choice.
WindowTestCase {
    name: "MainPage"

    function test_catalogueNotReady() {
        // A feed that is not there yet: the catalogue stays unready.
        createWindow("late.json");
        const main = currentPage();
        const download = child(main, "downloadButton");
        const notice = child(main, "connectionNotice");
        // The notice waits a second, so that a quick catalogue never flashes it.
        verify(!notice.visible);
        window.requestActivate();
        tryVerify(() => window.active, 5000);
        verify(!releases.isReady);
        verify(!download.enabled);
        compare(download.opacity, 0.7);
        tryVerify(() => notice.visible, 3000);

        // Neither Enter nor the mouse leads anywhere while it is dimmed.
        keyClick(Qt.Key_Return);
        mouseClick(download);
        // The pages move at once when selectedPage changes: nothing started.
        verify(!window.pageStack.busy);
        compare(window.pageStack.depth, 1);
        compare(window.selectedPage, Units.MainPage);
        verify(harness.serveFeed("catalogue.json", "late.json"));
        releases.fetchReleases();
        tryVerify(() => releases.isReady, 20000);
        verify(!notice.visible);
        verify(download.enabled);
        compare(download.opacity, 1);
        keyClick(Qt.Key_Return);
        waitForPage("editionsPage");
    }

    function test_readyCatalogueShowsNoNotice() {
        openWindow();
        waitForCatalogue();
        const main = waitForPage("mainPage");
        tryVerify(() => main.noticeAllowed, 5000);
        verify(!child(main, "connectionNotice").visible);
        verify(child(main, "downloadButton").enabled);
    }

    function test_restoreChoiceFollowsTheDriveList() {
        openWindow();
        tryVerify(() => drives.lastRestoreable !== null, 5000);
        const restore = child(waitForPage("mainPage"), "restoreButton");
        const candidate = drives.lastRestoreable;
        verify(restore.visible);
        compare(restore.Accessible.name, "Restore USB Flash");
        drives.lastRestoreable = null;
        verify(!restore.visible);
        drives.lastRestoreable = candidate;
        verify(restore.visible);
    }

    // Tab reaches every choice, each with the name a screen reader says.
    function test_keyboardAndNames() {
        openWindow();
        waitForCatalogue();
        tryVerify(() => drives.lastRestoreable !== null, 5000);
        waitForPage("mainPage");
        const expected = [["downloadButton", "Download from the website"], ["localFileButton", "Select from device"], ["restoreButton", "Restore USB Flash"]];
        for (let i = 0; i < expected.length; ++i) {
            keyClick(Qt.Key_Tab);
            compare(window.activeFocusItem.objectName, expected[i][0]);
            compare(window.activeFocusItem.Accessible.role, Accessible.Button);
            compare(window.activeFocusItem.Accessible.name, expected[i][1]);
        }
        // Space on the focused choice: the local file.
        keyClick(Qt.Key_Backtab);
        keyClick(Qt.Key_Space);
        waitForPage("drivePage");
        compare(window.selectedOption, Units.Write);
    }
}
