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

    function test_notice() {
        openWindow("late-ru.json");
        const notice = child(waitForPage("mainPage"), "connectionNotice");
        tryVerify(() => notice.visible, 3000);
        compare(findChild(notice, "noticeText").text, "Идёт подключение к серверу, загрузка с сайта пока невозможна. Подождите или выберите файл образа на устройстве.");
    }
}
