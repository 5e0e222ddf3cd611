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

    function child(root, objectName) {
        const item = findChild(root, objectName);
        verify(item, "no " + objectName + " in " + root);
        return item;
    }

    when: windowShown
}
