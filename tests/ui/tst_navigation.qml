import QtQuick
import QtTest
import "qrc:/qml"

// The page flow of the main window: which page each way leads to, what the
// stack holds, the window titles, and what going back to the first page resets.
WindowTestCase {
    name: "Navigation"

    function goToEditions() {
        const main = waitForPage("mainPage");
        mouseClick(child(main, "downloadButton"));
        return waitForPage("editionsPage");
    }

    function goToVersion(edition) {
        const editions = goToEditions();
        mouseClick(child(editions, "edition" + edition));
        return waitForPage("versionPage");
    }

    function init() {
        openWindow();
        waitForCatalogue();
    }

    function test_start() {
        waitForPage("mainPage");
        compare(window.pageStack.depth, 1);
        compare(window.title, "Zelvan Flashwright");
        compare(window.selectedEdition, Units.None);
        compare(window.selectedOption, Units.Download);
        // Fixed at 800 by 600 with the usual fonts.
        compare(window.width, 800);
        compare(window.height, 600);
        compare(window.minimumWidth, window.maximumWidth);
        compare(window.minimumHeight, window.maximumHeight);
    }

    function test_catalogueImageByKeyboard() {
        waitForPage("mainPage");
        // Enter acts on the page's default choice, the catalogue.
        keyClick(Qt.Key_Return);
        waitForPage("editionsPage");
        compare(window.pageStack.depth, 2);
        compare(window.title, releases.variant.statusString);

        // Tab: the back arrow, then the first card.
        keyClick(Qt.Key_Tab);
        compare(window.activeFocusItem.objectName, "backArrow");
        keyClick(Qt.Key_Tab);
        compare(window.activeFocusItem.objectName, "edition" + Units.Standart);
        keyClick(Qt.Key_Space);
        waitForPage("versionPage");
        compare(window.pageStack.depth, 3);
        compare(window.selectedEdition, Units.Standart);
        compare(window.title, "Select Zelvan Version");
        keyClick(Qt.Key_Escape);
        waitForPage("editionsPage");
        compare(window.pageStack.depth, 2);
        keyClick(Qt.Key_Escape);
        waitForPage("mainPage");
        compare(window.pageStack.depth, 1);
    }

    function test_samePageTwice() {
        goToEditions();
        window.selectedPage = Units.EditionsPage;
        verify(!window.pageStack.busy);
        compare(window.pageStack.depth, 2);
        compare(currentPage().objectName, "editionsPage");
    }

    function test_certifiedEdition() {
        const editions = goToEditions();
        mouseClick(child(editions, "edition" + Units.Cert));
        const cert = waitForPage("certPage");
        compare(window.pageStack.depth, 3);
        compare(window.title, "Certified edition");
        compare(window.selectedEdition, Units.Cert);
        const before = harness.openedUrls().length;
        keyClick(Qt.Key_Enter);
        const opened = harness.openedUrls();
        compare(opened.length, before + 1);
        compare(opened[opened.length - 1], "https://www.zelvan.example/product/edition-sertificate/");
        mouseClick(child(cert, "backArrow"));
        waitForPage("editionsPage");
        compare(window.pageStack.depth, 2);
    }

    // Going to the first page from deep in the flow pops everything and resets
    // the choices, whatever they were.
    function test_backToStartResets() {
        const version = goToVersion(Units.Home);
        mouseClick(child(version, "versionZV73"));
        compare(releases.filterSource, Units.ZV73);
        tryVerify(() => child(version, "continueButton").enabled);
        mouseClick(child(version, "continueButton"));
        waitForPage("downloadPage");
        compare(window.pageStack.depth, 4);
        const chosen = releases.selectedIndex;
        window.selectedPage = Units.MainPage;
        waitForPage("mainPage");
        // The version page, on its way out, leaves the catalogue's selection
        // alone; its image rule runs from a timer, so only a pause shows it.
        wait(100);
        compare(releases.selectedIndex, chosen);
        compare(window.pageStack.depth, 1);
        compare(window.selectedEdition, Units.None);
        compare(window.selectedOption, Units.Download);
        compare(releases.filterSource, Units.ZV80);
        compare(window.title, "Zelvan Flashwright");
    }

    // Each visit makes the page anew: the version buttons start at 8.0 again.
    function test_versionPageMadeAnew() {
        let version = goToVersion(Units.Standart);
        mouseClick(child(version, "versionZV73"));
        verify(child(version, "versionZV73").checked);
        mouseClick(child(version, "backArrow"));
        const editions = waitForPage("editionsPage");
        mouseClick(child(editions, "edition" + Units.Standart));
        version = waitForPage("versionPage");
        verify(child(version, "versionZV80").checked);
        verify(!child(version, "versionZV73").checked);
        compare(releases.filterSource, Units.ZV80);
    }

    function test_localFile() {
        window.eraseVariant = true;
        const main = waitForPage("mainPage");
        mouseClick(child(main, "localFileButton"));
        waitForPage("drivePage");
        compare(window.pageStack.depth, 2);
        compare(window.selectedOption, Units.Write);
        compare(window.title, "Select Drive");
        // The catalogue's own entry for a file of the user's, with no file yet.
        compare(releases.selectedIndex, 0);
        compare(releases.localFile.iso, "");
        // A local file is never erased after writing.
        verify(!window.eraseVariant);
    }

    function test_restore() {
        // The simulated drive with a written image arrives two seconds after start.
        tryVerify(() => drives.lastRestoreable !== null, 5000);
        const main = waitForPage("mainPage");
        const restore = child(main, "restoreButton");
        tryVerify(() => restore.visible);
        mouseClick(restore);
        waitForPage("restorePage");
        compare(window.title, "Restore");
        compare(window.lastRestoreable, drives.lastRestoreable);
    }
}
