import QtQuick
import QtTest
import "qrc:/qml"
import "table.js" as Table

// The progress page from download to a written drive, and every way out:
// Abort while downloading, writing or verifying, a failed write, Retry.
WindowTestCase {
    name: "DownloadPage"

    function init() {
        harness.clearDownloads();
        harness.setDriveTimings(15, 300, 400, 200);
        openWindow();
        waitForCatalogue();
    }

    function cleanup() {
        for (const dialog of [window.cancelDialogWindow, window.deviceWarningDialogWindow]) {
            if (dialog.visible)
                dialog.close();
        }
        downloadManager.cancel();
        for (const name of ["Okay", "Fails", "Contains Live"]) {
            const drive = driveNamed(name);
            if (drive && drive.busy)
                drive.cancel();
            if (drive && name !== "Contains Live")
                drive.setRestoreStatus(Units.Clean);
        }
        harness.restoreDriveTimings();
        harness.setImageSize(65536);
        harness.clearDownloads();
    }

    // The standard edition's first image, download started.
    function downloadImage() {
        const version = openVersionPage(Units.Standart);
        tryVerify(() => child(version, "continueButton").enabled);
        mouseClick(child(version, "continueButton"));
        return waitForPage("downloadPage");
    }

    function text(page, objectName) {
        return child(page, objectName).text;
    }

    function shown(page, objectName) {
        return child(page, objectName).visible;
    }

    function test_downloadThenWrite() {
        window.eraseVariant = true;
        const page = downloadImage();
        tryCompare(releases.variant, "status", Units.Ready, 10000);
        const image = releases.variant.iso;
        verify(image.startsWith(harness.downloadsFolder()));
        compare(text(page, "statusHeading"), "Ready to write Zelvan 8.0 Workstation (Standard edition)");
        compare(text(page, "statusLine"), "The USB drive has been found, and it is possible to continue recording the image to the device.");
        verify(shown(page, "driveList"));
        verify(!shown(page, "information"));
        compare(text(page, "leftButton"), "Show in folder");
        compare(text(page, "rightButton"), "Write");
        compare(child(page, "progressBar").shownValue, 1);

        writeTo("Okay", child(page, "rightButton"));
        tryCompare(child(page, "statusHeading"), "text", "Writing Zelvan 8.0 Workstation (Standard edition)");
        verify(!shown(page, "driveList"));
        compare(text(page, "leftButton"), "Cancel");
        tryCompare(releases.variant, "status", Units.Finished, 10000);
        compare(text(page, "statusHeading"), "Zelvan 8.0 Workstation Successfully Written");
        compare(text(page, "restartNote"), "Restart and boot from Okay (12.3 GB) to start using Zelvan 8.0 Workstation.");
        // Deleted once written, as asked on the version page, before Finish.
        compare(releases.variant.iso, "");
        verify(!harness.fileExists(image));
        mouseClick(child(page, "rightButton"));
        waitForPage("mainPage");
        compare(drives.lastRestoreable, driveNamed("Okay"));
    }

    // Aborting a download leaves the drives alone: the drive offered for
    // restoring keeps its offer even when it is the selected one.
    function test_abortDownload() {
        verify(harness.setImageSize(64 * 1024 * 1024));
        tryVerify(() => driveNamed("Contains Live") !== null, 5000);
        const live = selectDrive("Contains Live");
        const page = downloadImage();
        tryVerify(() => releases.variant.progress.value > 0, 10000);
        compare(releases.variant.status, Units.Downloading);
        compare(text(page, "statusHeading"), "Downloading Zelvan 8.0 Workstation (Standard edition)");
        // 64 MiB counted down.
        verify(/^Downloading \(6\d\.\d MB left\)$/.test(text(page, "statusLine")), text(page, "statusLine"));
        verify(shown(page, "downloadsFolderNote"));
        verify(!shown(page, "rightButton"));
        // A drive larger than 160 GiB is taken for an external disk.
        verify(!shown(page, "sizeWarning"));
        harness.plugDrive("Big Disk", 200000000000, false);
        selectDrive("Big Disk");
        verify(shown(page, "sizeWarning"));
        compare(text(page, "sizeWarning"), "The selected drive's size is 200.0 GB. It's possible you have selected an external drive by accident!");
        harness.unplugDrive(driveNamed("Big Disk"));
        selectDrive("Contains Live");
        const bar = child(page, "progressBar");
        verify(bar.shownValue >= 0 && bar.shownValue <= 1);

        keyClick(Qt.Key_Escape);
        const dialog = window.cancelDialogWindow;
        tryVerify(() => dialog.visible && dialog.activeFocusItem !== null);
        compare(text(dialog.contentItem, "dialogHeading"), "Cancel Download?");
        compare(text(dialog.contentItem, "dialogBody"), "Download and media writing will be aborted. This process can be resumed any time later.");
        mouseClick(child(dialog.contentItem, "dialogActionButton"));
        waitForPage("mainPage");
        compare(releases.variant.status, Units.Preparing);
        compare(live.restoreStatus, Units.Contains_Live);
        compare(drives.lastRestoreable, live);
    }

    // The remaining size picks its unit before rounding.
    function test_remainingSize() {
        const page = downloadImage();
        compare(page.remainingText(1572864), "(1.5 MB left)");
        compare(page.remainingText(1048575), "(1024.0 KB left)");
        compare(page.remainingText(512), "(512 B left)");
        compare(page.remainingText(0), "");
        compare(page.remainingText(NaN), "");
    }

    // Abort stops the drive being written, not the one selected since, and
    // offers it for restoring.
    function test_abortWrite_data() {
        return Table.rows(["status", "heading"], ["writing", Units.Writing, "Cancel Writing?"], ["verifying", Units.Write_Verifying, "Cancel Verification?"]);
    }

    function test_abortWrite(data) {
        harness.setDriveTimings(100, 300, 400, 200);
        const page = openDrivePage("abort.img");
        writeTo("Okay", child(page, "continueButton"));
        const progress = currentPage();
        const okay = driveNamed("Okay");
        tryVerify(() => okay.progress.value > 0);
        harness.setImageStatus(releases.variant, data.status);
        const other = selectDrive("Fails");
        verify(child(progress, "progressBar").shownValue > 0);

        mouseClick(child(progress, "leftButton"));
        const dialog = window.cancelDialogWindow;
        tryVerify(() => dialog.visible);
        compare(text(dialog.contentItem, "dialogHeading"), data.heading);
        compare(text(dialog.contentItem, "dialogCancelButton"), "Cancel");
        // Cancel only closes the dialog.
        mouseClick(child(dialog.contentItem, "dialogCancelButton"));
        tryVerify(() => !dialog.visible);
        verify(okay.busy);
        mouseClick(child(progress, "leftButton"));
        tryVerify(() => dialog.visible);
        mouseClick(child(dialog.contentItem, "dialogActionButton"));
        waitForPage("mainPage");
        verify(!okay.busy);
        compare(okay.restoreStatus, Units.Contains_Live);
        compare(drives.lastRestoreable, okay);
        compare(other.restoreStatus, Units.Clean);
        compare(releases.variant.status, Units.Ready);
    }

    // The write fails while the user is asked whether to abort it: Abort
    // still offers the half-written drive for restoring.
    function test_failsWhileAsked() {
        harness.setDriveTimings(40, 300, 400, 200);
        const page = openDrivePage("asked.img");
        const progress = writeTo("Fails", child(page, "continueButton"));
        mouseClick(child(progress, "leftButton"));
        const dialog = window.cancelDialogWindow;
        tryVerify(() => dialog.visible);
        tryCompare(releases.variant, "status", Units.Failed, 10000);
        verify(dialog.visible);
        mouseClick(child(dialog.contentItem, "dialogActionButton"));
        waitForPage("mainPage");
        const fails = driveNamed("Fails");
        compare(fails.restoreStatus, Units.Contains_Live);
        compare(drives.lastRestoreable, fails);
    }

    // A failed write: the reason, Retry that asks again, and a way out that
    // offers the half-written drive for restoring.
    function test_failedWrite() {
        const page = openDrivePage("fails.img");
        const progress = writeTo("Fails", child(page, "continueButton"));
        tryCompare(releases.variant, "status", Units.Failed, 10000);
        const fails = driveNamed("Fails");
        compare(text(progress, "errorText"), "Some error string.");
        compare(text(progress, "loseDataNote"), "By writing, you will lose all of the data on Fails (9.9 GB).");
        verify(shown(progress, "loseDataNote"));
        compare(text(progress, "leftButton"), "Cancel");
        const retry = child(progress, "rightButton");
        compare(retry.text, "Retry");
        verify(retry.enabled);

        mouseClick(retry);
        const dialog = waitForConfirmation();
        compare(releases.variant.status, Units.Ready);
        mouseClick(child(dialog.contentItem, "dialogActionButton"));
        tryCompare(releases.variant, "status", Units.Failed, 10000);
        compare(window.pageStack.depth, 3);

        mouseClick(child(progress, "leftButton"));
        waitForPage("mainPage");
        compare(fails.restoreStatus, Units.Contains_Live);
        compare(drives.lastRestoreable, fails);
    }
}
