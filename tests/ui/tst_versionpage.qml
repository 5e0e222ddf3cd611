import QtQuick
import QtTest
import "qrc:/qml"
import "table.js" as Table

// The recording parameters of a catalogue image: what the version,
// architecture and image choices do to the catalogue, and the way on to the
// download.
WindowTestCase {
    name: "VersionPage"

    function openVersion(edition, feed) {
        openWindow(feed);
        waitForCatalogue();
        const page = openVersionPage(edition);
        // The image is chosen once the page has been shown.
        tryVerify(() => child(page, "imageList").currentIndex >= 0 || releases.rowCount() === 0);
        return page;
    }

    function imageName(page) {
        return child(page, "imageList").displayText;
    }

    function test_opens_data() {
        return Table.rows(["edition", "name", "image", "lines"], ["standard", Units.Standart, "Standard edition", "Zelvan 8.0 Workstation", 2], ["home", Units.Home, "Home edition", "Zelvan 8.0 Home", 2], ["educational", Units.Education, "Educational edition", "Zelvan 8.0 Education", 1]);
    }

    function test_opens(data) {
        const page = openVersion(data.edition);
        compare(releases.filterEdition, data.edition);
        compare(releases.filterSource, Units.ZV80);
        compare(child(page, "editionName").text, data.name);
        verify(child(page, "versionZV80").checked);
        // There is no educational edition of the 7.3 line.
        compare(child(page, "versionZV73").visible, data.lines === 2);
        compare(imageName(page), data.image);
        const list = child(page, "imageList");
        compare(releases.selectedIndex, list.currentIndex);
        compare(releases.selected.name, data.image);
        verify(child(page, "continueButton").enabled);
    }

    function test_versionAndArchitecture() {
        const page = openVersion(Units.Standart);
        const list = child(page, "imageList");
        compare(releases.filterArchitecture, 1);
        verify(child(page, "architecture1").checked);
        compare(child(page, "architectureDetails").text, "Image for Intel, AMD and other compatible PCs (64-bit)");
        mouseClick(child(page, "versionZV73"));
        compare(releases.filterSource, Units.ZV73);
        tryCompare(list, "displayText", "Zelvan 7.3 Workstation");
        compare(releases.selectedIndex, list.currentIndex);

        // The 7.3 line has a 32-bit image.
        mouseClick(child(page, "architecture2"));
        compare(releases.filterArchitecture, 2);
        verify(child(page, "architecture2").checked);
        verify(!child(page, "architecture1").checked);
        compare(child(page, "architectureDetails").text, "Image for Intel, AMD and other compatible PCs (32-bit)");
        compare(releases.variant.arch.id, 2);

        // A new line brings the catalogue back to x86_64, and the buttons follow it.
        mouseClick(child(page, "versionZV80"));
        compare(releases.filterSource, Units.ZV80);
        compare(releases.filterArchitecture, 1);
        tryVerify(() => child(page, "architecture1").checked);
        tryCompare(list, "displayText", "Zelvan 8.0 Workstation");
    }

    function test_noImages() {
        const page = openVersion(Units.Standart, "partial.json");
        const list = child(page, "imageList");
        const before = releases.selectedIndex;
        verify(before > 0);
        // This catalogue has no 7.3 line.
        mouseClick(child(page, "versionZV73"));
        tryCompare(list, "currentIndex", -1);
        compare(list.displayText, "");
        verify(!list.enabled);
        verify(!child(page, "continueButton").enabled);
        compare(releases.selectedIndex, before);
        // Enter does not go on without an image.
        keyClick(Qt.Key_Return);
        verify(!window.pageStack.busy);
        compare(currentPage().objectName, "versionPage");
        // Nor does the empty list open.
        mouseClick(list);
        verify(!list.popupOpened);
    }

    // The chosen image stays while the list still shows it.
    function test_choiceKeptWhileListed() {
        const page = openVersion(Units.Standart);
        const list = child(page, "imageList");
        list.forceActiveFocus();
        keyClick(Qt.Key_Space);
        tryVerify(() => list.popupOpened);
        keyClick(Qt.Key_Down);
        keyClick(Qt.Key_Return);
        verify(!list.popupOpened);
        verify(list.activeFocus);
        compare(list.displayText, "Zelvan 8.0 Server");
        const server = list.currentIndex;
        compare(releases.selectedIndex, server);

        // AArch64 drops the minimal image from the list; the server image stays.
        mouseClick(child(page, "architecture0"));
        compare(releases.filterArchitecture, 0);
        // The image rule runs from a timer of its own once the list changed;
        // that it leaves the choice alone only shows after a pause.
        wait(50);
        compare(list.currentIndex, server);
        compare(releases.variant.arch.id, 0);

        // The 7.3 line has no such image: its first one is taken.
        mouseClick(child(page, "versionZV73"));
        tryCompare(list, "displayText", "Zelvan 7.3 Workstation");
        compare(releases.selectedIndex, list.currentIndex);
    }

    function test_popupShowsThreeRows() {
        const page = openVersion(Units.Standart);
        const list = child(page, "imageList");
        mouseClick(list);
        tryVerify(() => list.popupOpened);
        const popup = findChild(list, "popup");
        compare(popup.height, 3 * 34);
        keyClick(Qt.Key_Escape);
        tryVerify(() => !list.popupOpened);
    }

    function test_continueStartsTheDownload() {
        const page = openVersion(Units.Standart);
        const variant = releases.variant;
        compare(variant.status, Units.Preparing);
        keyClick(Qt.Key_Enter);
        waitForPage("downloadPage");
        compare(window.pageStack.depth, 4);
        verify(variant.status !== Units.Preparing);
        tryCompare(variant, "status", Units.Ready, 20000);
        verify(variant.iso.startsWith(harness.downloadsFolder()));
    }

    function test_eraseCheckBox() {
        openWindow();
        waitForCatalogue();
        window.eraseVariant = true;
        const box = child(openVersionPage(Units.Standart), "eraseCheckBox");
        verify(box.checked);
        mouseClick(box);
        verify(!box.checked);
        verify(!window.eraseVariant);
        box.forceActiveFocus();
        keyClick(Qt.Key_Space);
        verify(window.eraseVariant);
        compare(box.Accessible.role, Accessible.CheckBox);
    }

    // The drive list follows the selection both ways, also after a choice in it.
    function test_driveList() {
        const page = openVersion(Units.Standart);
        tryVerify(() => drives.length >= 4, 5000);
        const combo = child(page, "driveComboBox");
        compare(combo.currentIndex, drives.selectedIndex);
        compare(combo.displayText, drives.selected.name);
        combo.forceActiveFocus();
        const target = drives.selectedIndex === 0 ? 1 : 0;
        keyClick(Qt.Key_Space);
        tryVerify(() => combo.popupOpened);
        for (let i = 0; i < drives.length; ++i)
            keyClick(Qt.Key_Up);
        for (let i = 0; i < target; ++i)
            keyClick(Qt.Key_Down);
        keyClick(Qt.Key_Return);
        compare(drives.selectedIndex, target);
        compare(combo.displayText, drives.selected.name);
        drives.selectedIndex = 2;
        compare(combo.currentIndex, 2);
        compare(combo.displayText, drives.selected.name);
    }
}
