import QtQuick
import QtTest
import "qrc:/qml"

// With the Russian catalogue the pages speak Russian, from the window title
// to the catalogue's own texts.
WindowTestCase {
    name: "Russian"

    function initTestCase() {
        verify(harness.setLanguage("ru_RU"));
    }

    function cleanupTestCase() {
        harness.setLanguage("");
    }

    function cleanup() {
        harness.restoreDriveTimings();
    }

    function textOf(root, objectName) {
        return child(root, objectName).text;
    }

    function test_pages() {
        openWindow();
        waitForCatalogue();
        const main = waitForPage("mainPage");
        compare(window.title, "Zelvan Flashwright");
        compare(textOf(main, "mainHeading"), "Запись образов на USB-накопитель");
        compare(textOf(main, "downloadButton"), "Загрузить с сайта");
        compare(textOf(main, "localFileButton"), "Выбрать файл с устройства");
        compare(child(main, "localFileButton").Accessible.name, "Выбрать файл с устройства");
        keyClick(Qt.Key_Return);
        const editions = waitForPage("editionsPage");
        compare(textOf(editions, "heading"), "Выбор редакции");
        compare(child(editions, "edition" + Units.Standart).name, "Стандартная редакция");
        compare(child(editions, "edition" + Units.Cert).name, "Сертифицированная редакция");
        mouseClick(child(editions, "edition" + Units.Standart));
        const version = waitForPage("versionPage");
        compare(window.title, "Выбор версии Zelvan");
        compare(textOf(version, "heading"), "Параметры записи");
        compare(textOf(version, "editionName"), "Стандартная редакция");
        compare(textOf(version, "continueButton"), "Продолжить");
        compare(textOf(version, "eraseCheckBox"), "Удалить загруженный образ после записи");
        compare(child(version, "driveComboBox").placeholderText, "Съёмные накопители не подключены");
        // The catalogue's texts come from the same catalogue.
        tryCompare(child(version, "architectureDetails"), "text", "Образ для компьютеров Intel, AMD и совместимых с ними (64-битный)");
    }

    // The texts the catalogue renders in its own way: "Cancel" is "Назад"
    // in the cancel dialog and "Отмена" elsewhere, a finished restore is a
    // whole sentence.
    function test_writeAndRestore() {
        harness.setDriveTimings(100, 300, 600, 200);
        openWindow();
        waitForCatalogue();
        const page = openDrivePage("images/disk.iso");
        compare(textOf(page, "heading"), "Параметры записи");
        compare(textOf(page, "selectButton"), "Выбрать...");
        compare(textOf(page, "continueButton"), "Продолжить");
        compare(window.title, "Выбор накопителя");
        selectDrive("Okay");
        mouseClick(child(page, "continueButton"));
        const confirmation = waitForConfirmation();
        compare(textOf(confirmation.contentItem, "dialogHeading"), "Подтверждение удаления данных");
        compare(textOf(confirmation.contentItem, "dialogCancelButton"), "Отмена");
        compare(textOf(confirmation.contentItem, "dialogActionButton"), "Записать");
        verify(textOf(confirmation.contentItem, "dialogBody").includes("(всего 12.35 ГБ)"));
        mouseClick(child(confirmation.contentItem, "dialogActionButton"));

        const progress = waitForPage("downloadPage");
        tryCompare(child(progress, "statusHeading"), "text", "Запись disk.iso");
        compare(textOf(progress, "leftButton"), "Отмена");
        mouseClick(child(progress, "leftButton"));
        const cancel = window.cancelDialogWindow;
        tryVerify(() => cancel.visible);
        verifyDialogFits(cancel);
        compare(textOf(cancel.contentItem, "dialogHeading"), "Отменить запись?");
        compare(textOf(cancel.contentItem, "dialogCancelButton"), "Назад");
        compare(textOf(cancel.contentItem, "dialogActionButton"), "Прервать");
        mouseClick(child(cancel.contentItem, "dialogActionButton"));
        const main = waitForPage("mainPage");

        // Aborted, the drive is offered for restoring. A drive of its own is
        // restored, one of even size, which succeeds.
        const okay = driveNamed("Okay");
        compare(drives.lastRestoreable, okay);
        okay.setRestoreStatus(Units.Clean);
        harness.plugDrive("Live Stick", 4000000000, true);
        const offer = child(main, "restoreButton");
        tryVerify(() => offer.visible);
        offer.activate();
        const restore = waitForPage("restorePage");
        compare(window.title, "Восстановление");
        compare(textOf(restore, "restoreButton"), "Восстановить");
        keyClick(Qt.Key_Return);
        tryCompare(child(restore, "statusLine"), "text", "Восстановление успешно выполнено!", 5000);
        compare(window.title, "Восстановление успешно выполнено!");
        compare(textOf(restore, "finishButton"), "Готово");
    }

    function test_notice() {
        openWindow("late-ru.json");
        const notice = child(waitForPage("mainPage"), "connectionNotice");
        tryVerify(() => notice.visible, 3000);
        compare(findChild(notice, "noticeText").text, "Идёт подключение к серверу, загрузка с сайта пока невозможна. Подождите или выберите файл образа на устройстве.");
    }
}
