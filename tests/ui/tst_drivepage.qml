import QtQuick
import QtTest
import "qrc:/qml"
import "table.js" as Table

// A file of the user's own, and the erase confirmation: which file, which
// drive, and that only the drive the user confirmed is ever written.
WindowTestCase {
    name: "DrivePage"

    function init() {
        // Simulated writes of about a second and a half.
        harness.setDriveTimings(15, 300, 400, 200);
        openWindow();
        waitForCatalogue();
    }

    function cleanup() {
        if (window && window.deviceWarningDialogWindow.visible)
            window.deviceWarningDialogWindow.close();
        const okay = driveNamed("Okay");
        if (okay) {
            okay.cancel();
            okay.setRestoreStatus(Units.Clean);
        }
        harness.restoreDriveTimings();
    }

    // The whole way of a local file: chosen, confirmed, written, finished,
    // and the written drive offered for restoring.
    function test_localFileWritten() {
        const page = openDrivePage();
        const field = child(page, "fileField");
        const continueButton = child(page, "continueButton");
        compare(field.text, "");
        compare(field.placeholderText, "Not selected");
        verify(!continueButton.enabled);

        chooseLocalFile(page, "images/disk.iso");
        compare(field.text, "disk.iso");
        verify(continueButton.enabled);
        const dialog = window.deviceWarningDialogWindow;
        selectDrive("Okay");
        mouseClick(continueButton);
        waitForConfirmation();
        compare(child(dialog.contentItem, "dialogHeading").text, "Erase confirmation");
        compare(child(dialog.contentItem, "dialogDetail").text, "Okay (12.3 GB)");
        compare(child(dialog.contentItem, "dialogBody").text, "Attention! All data on the device (including 12.35 GB) will be permanently deleted. The selected image will be recorded in their place. Continue?");
        compare(child(dialog.contentItem, "dialogCancelButton").text, "Cancel");
        // The keyboard starts on Cancel: Enter does not erase anything.
        keyClick(Qt.Key_Return);
        tryVerify(() => !dialog.visible);
        compare(currentPage().objectName, "drivePage");

        const progress = writeTo("Okay", continueButton);
        const okay = driveNamed("Okay");
        compare(window.pageStack.depth, 3);
        tryCompare(child(progress, "statusHeading"), "text", "Writing disk.iso");
        verify(child(progress, "resizeNote").visible);
        verify(!child(progress, "rightButton").visible);
        tryCompare(child(progress, "statusHeading"), "text", "disk.iso Successfully Written", 10000);
        compare(child(progress, "restartNote").text, "Restart and boot from Okay (12.3 GB) to start using disk.iso.");
        compare(child(progress, "progressBar").shownValue, 1);
        verify(!child(progress, "leftButton").visible);
        // A file of the user's own is never deleted.
        verify(releases.localFile.iso.endsWith("/images/disk.iso"));

        const finish = child(progress, "rightButton");
        compare(finish.text, "Finish");
        mouseClick(finish);
        waitForPage("mainPage");
        compare(drives.lastRestoreable, okay);
        compare(okay.restoreStatus, Units.Contains_Live);
    }

    // The drive is the one the dialog named when it opened: a drive plugged
    // in meanwhile takes the selection, but not the write.
    function test_confirmedDriveWritten() {
        const page = openDrivePage("images/disk.iso");
        const okay = selectDrive("Okay");
        mouseClick(child(page, "continueButton"));
        const dialog = waitForConfirmation();
        harness.plugDrive("New Stick", 64000000000, false);
        const stick = driveNamed("New Stick");
        tryCompare(drives, "selected", stick);
        compare(child(dialog.contentItem, "dialogDetail").text, "Okay (12.3 GB)");
        mouseClick(child(dialog.contentItem, "dialogActionButton"));
        waitForPage("downloadPage");
        compare(window.writingDrive, okay);
        verify(okay.busy);
        verify(!stick.busy);
        harness.unplugDrive(stick);
    }

    // The confirmed drive pulled out: the dialog goes and nothing is written.
    function test_confirmedDriveGone() {
        const page = openDrivePage("images/disk.iso");
        harness.plugDrive("Brief Stick", 8000000000, false);
        const stick = selectDrive("Brief Stick");
        mouseClick(child(page, "continueButton"));
        const dialog = waitForConfirmation();
        harness.unplugDrive(stick);
        tryVerify(() => !dialog.visible);
        verify(!window.pageStack.busy);
        compare(currentPage().objectName, "drivePage");
        compare(releases.variant.status, Units.Ready);
        compare(window.writingDrive, null);
    }

    function test_sizeInConfirmation_data() {
        return Table.rows(["bytes", "text"], ["gigabytes", 16008609792, "16.01 GB"], ["just below a megabyte", 999999, "1000.00 KB"], ["bytes", 512, "512 Bytes"]);
    }

    function test_sizeInConfirmation(data) {
        const page = openDrivePage("images/disk.iso");
        harness.plugDrive("Sized", data.bytes, false);
        selectDrive("Sized");
        mouseClick(child(page, "continueButton"));
        const dialog = waitForConfirmation();
        verify(child(dialog.contentItem, "dialogBody").text.includes("(including " + data.text + ")"));
        // Escape closes it as Cancel does.
        keyClick(Qt.Key_Escape);
        tryVerify(() => !dialog.visible);
        harness.unplugDrive(driveNamed("Sized"));
    }

    // The portal's chooser is not modal: an answer that comes once the image
    // is being written must not replace it.
    function test_lateChooserAnswer() {
        const page = openDrivePage();
        const first = harness.makeLocalFile("first.img", 65536);
        portalFileDialog.fileSelected(first);
        compare(child(page, "fileField").text, "first.img");
        writeTo("Okay", child(page, "continueButton"));
        portalFileDialog.fileSelected(harness.makeLocalFile("second.img", 65536));
        compare(releases.localFile.iso, first.replace("file://", ""));
        compare(releases.variant.status, Units.Writing);
    }

    // Refused because the image does not fit: the reason shows, and Retry
    // asks again.
    function test_driveTooSmall() {
        const page = openDrivePage("images/disk.iso");
        const progress = writeTo("Not Large Enough", child(page, "continueButton"));
        tryCompare(releases.variant, "status", Units.Failed);
        const error = child(progress, "errorText");
        verify(error.visible);
        compare(error.text, "This drive is not large enough.");
        const retry = child(progress, "rightButton");
        compare(retry.text, "Retry");
        verify(retry.enabled);
        selectDrive("Okay");
        mouseClick(retry);
        const dialog = waitForConfirmation();
        compare(releases.variant.status, Units.Ready);
        compare(child(dialog.contentItem, "dialogDetail").text, "Okay (12.3 GB)");
        mouseClick(child(dialog.contentItem, "dialogActionButton"));
        tryCompare(releases.variant, "status", Units.Writing);
        compare(window.writingDrive, driveNamed("Okay"));
        // Nothing was written to the small drive: it is not offered for restoring.
        compare(driveNamed("Not Large Enough").restoreStatus, Units.Clean);
    }
}
