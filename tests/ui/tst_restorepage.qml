import QtQuick
import QtTest
import "qrc:/qml"
import "table.js" as Table

// Restoring a drive that holds a written image: the page's own drive only,
// its progress to the end whichever way it ends, and the offer on the first
// page withdrawn once the drive is restored.
WindowTestCase {
    name: "RestorePage"

    // Simulated drives of their own, so that the outcome does not depend on
    // what the other tests restored: an even size restores, an odd one fails.
    property var plugged: []

    function plugLive(name, bytes) {
        harness.plugDrive(name, bytes, true);
        const drive = driveNamed(name);
        verify(drive);
        plugged.push(drive);
        return drive;
    }

    function openRestorePage() {
        const main = waitForPage("mainPage");
        const offer = child(main, "restoreButton");
        tryVerify(() => offer.visible);
        offer.activate();
        return waitForPage("restorePage");
    }

    function init() {
        // A restore of 300 ms, and the restored drive pulled out 600 ms later.
        harness.setDriveTimings(15, 300, 600, 200);
        openWindow();
        waitForCatalogue();
    }

    function cleanup() {
        for (const drive of plugged) {
            if (drive && drives.contains(drive))
                harness.unplugDrive(drive);
        }
        plugged = [];
        harness.restoreDriveTimings();
    }

    function test_restore_data() {
        return Table.rows(["bytes", "status", "line", "title", "fill"], ["restored", 4000000000, Units.Restored, "Restoring finished", "Restoring finished", 1], ["failed", 4000000001, Units.Restore_Error, "Unfortunately, an error occurred during the process. Please try restoring the drive using your system tools.", "Restore", 0]);
    }

    function test_restore(data) {
        const drive = plugLive("Live Stick", data.bytes);
        compare(drives.lastRestoreable, drive);
        const page = openRestorePage();
        compare(child(page, "heading").text, "Restore Live Stick (4.0 GB)");
        compare(window.lastRestoreable, drive);
        verify(child(page, "confirmationView").visible);
        verify(!child(page, "progressView").visible);

        // Enter restores, as the page's default action.
        keyClick(Qt.Key_Return);
        verify(child(page, "progressView").visible);
        verify(!child(page, "backArrow").visible);
        compare(drive.restoreStatus, Units.Restoring);
        const bar = child(page, "progressBar");
        const line = child(page, "statusLine");
        const finish = child(page, "finishButton");
        verify(bar.sweeping);
        compare(line.text, "Wait for Zelvan Flashwright to restore your device");
        verify(!finish.visible);
        // While restoring, the first page offers no restore of this drive.
        verify(drives.lastRestoreable !== drive);

        tryCompare(page, "restoreStatus", data.status, 5000);
        compare(line.text, data.line);
        compare(window.title, data.title);
        verify(!bar.sweeping);
        compare(bar.shownValue, data.fill);
        verify(finish.visible);
        verify(finish.enabled);

        // The drive goes away; the page keeps telling what happened.
        tryVerify(() => !drives.contains(drive), 5000);
        compare(page.restoreStatus, data.status);
        compare(line.text, data.line);
        verify(child(page, "progressView").visible);
        mouseClick(finish);
        waitForPage("mainPage");
    }

    // The page restores the drive it shows, even when another drive has
    // become the one offered meanwhile.
    function test_restoresItsOwnDrive() {
        const first = plugLive("First Live", 4000000000);
        const page = openRestorePage();
        const second = plugLive("Second Live", 6000000000);
        compare(drives.lastRestoreable, second);
        compare(child(page, "heading").text, "Restore First Live (4.0 GB)");
        mouseClick(child(page, "restoreButton"));
        compare(first.restoreStatus, Units.Restoring);
        compare(second.restoreStatus, Units.Contains_Live);
        tryCompare(first, "restoreStatus", Units.Restored, 5000);
        // The other drive is still on offer.
        compare(drives.lastRestoreable, second);
    }

    // Pulled out before the restore: nothing to restore, and the way back.
    function test_driveGoneBeforeRestore() {
        const drive = plugLive("Short Live", 4000000000);
        const page = openRestorePage();
        const restore = child(page, "restoreButton");
        verify(restore.enabled);
        harness.unplugDrive(drive);
        tryVerify(() => !restore.enabled);
        compare(child(page, "heading").text, "Restore Short Live (4.0 GB)");
        verify(child(page, "confirmationView").visible);
        keyClick(Qt.Key_Return);
        verify(child(page, "confirmationView").visible);
        keyClick(Qt.Key_Escape);
        waitForPage("mainPage");
    }
}
