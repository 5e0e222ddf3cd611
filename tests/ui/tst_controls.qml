import QtQuick
import QtTest
import "qrc:/qml"
import "table.js" as Table

// The shared controls and definitions on their own: keyboard, names for
// screen readers, the combo box's list, the palette choice and the window's
// size with large fonts.
TestCase {
    id: testCase

    name: "Controls"
    // A test case is hidden by default, and so would be the controls in it.
    visible: true
    when: windowShown
    width: 600
    height: 400

    Component {
        id: buttonComponent

        StyledButton {
            text: "Write"
        }
    }

    Component {
        id: checkBoxComponent

        StyledCheckBox {
            text: "Erase"
        }
    }

    Component {
        id: comboComponent

        StyledComboBox {
            width: 300
            valueRole: ""
            textRole: "name"
            placeholderText: "Nothing here"
        }
    }

    Component {
        id: listComponent

        ListModel {
        }
    }

    Component {
        id: trackComponent

        ProgressTrack {
            width: 200
        }
    }

    Component {
        id: themeComponent

        CurrentThemeColor {
        }
    }

    SignalSpy {
        id: clickedSpy

        signalName: "clicked"
    }

    SignalSpy {
        id: releasedSpy

        signalName: "released"
    }

    SignalSpy {
        id: toggledSpy

        signalName: "toggled"
    }

    function rows(count) {
        const model = createTemporaryObject(listComponent, testCase);
        for (let i = 0; i < count; ++i)
            model.append({
                    "name": "Row " + i
                });
        return model;
    }

    function init() {
        clickedSpy.clear();
        releasedSpy.clear();
        toggledSpy.clear();
    }

    function cleanup() {
        harness.restoreDesktop();
    }

    function test_button_data() {
        return Table.rows(["key"], ["Return", Qt.Key_Return], ["Enter", Qt.Key_Enter], ["Space", Qt.Key_Space]);
    }

    function test_button(data) {
        const button = createTemporaryObject(buttonComponent, testCase);
        clickedSpy.target = button;
        releasedSpy.target = button;
        verify(button.activeFocusOnTab);
        compare(button.Accessible.role, Accessible.Button);
        compare(button.Accessible.name, "Write");
        button.forceActiveFocus();
        keyClick(data.key);
        compare(releasedSpy.count, 1);
        compare(clickedSpy.count, 1);
        button.enabled = false;
        keyClick(data.key);
        mouseClick(button);
        compare(releasedSpy.count, 1);
        compare(clickedSpy.count, 1);
    }

    // A key acts when it is let go, on the button that saw it pressed: the
    // button that opens a dialog must not have the dialog's own button
    // take the same key press.
    function test_buttonKeyMovesOn() {
        const first = createTemporaryObject(buttonComponent, testCase);
        const second = createTemporaryObject(buttonComponent, testCase, {
                "y": 40
            });
        clickedSpy.target = second;
        releasedSpy.target = first;
        first.forceActiveFocus();
        keyPress(Qt.Key_Space);
        compare(releasedSpy.count, 0);
        second.forceActiveFocus();
        keyRelease(Qt.Key_Space);
        compare(releasedSpy.count, 0);
        compare(clickedSpy.count, 0);
        keyClick(Qt.Key_Return);
        compare(clickedSpy.count, 1);
    }

    function test_buttonMouse() {
        const button = createTemporaryObject(buttonComponent, testCase);
        clickedSpy.target = button;
        releasedSpy.target = button;
        mouseClick(button);
        compare(releasedSpy.count, 1);
        compare(clickedSpy.count, 1);
        // Let go outside the button: nothing happens.
        mousePress(button, 5, 5);
        mouseMove(button, button.width + 40, 5);
        mouseRelease(button, button.width + 40, 5);
        compare(releasedSpy.count, 1);
        compare(clickedSpy.count, 1);
    }

    function test_checkBox() {
        const box = createTemporaryObject(checkBoxComponent, testCase);
        toggledSpy.target = box;
        compare(box.Accessible.role, Accessible.CheckBox);
        verify(!box.checked);
        mouseClick(box);
        verify(box.checked);
        verify(box.Accessible.checked);
        box.forceActiveFocus();
        keyClick(Qt.Key_Space);
        verify(!box.checked);
        keyClick(Qt.Key_Return);
        verify(box.checked);
        compare(toggledSpy.count, 3);
    }

    function test_emptyComboIsInert() {
        const combo = createTemporaryObject(comboComponent, testCase, {
                "model": rows(3)
            });
        verify(!combo.enabled);
        mouseClick(combo);
        verify(!combo.popupOpened);
        combo.displayText = "Row 0";
        verify(combo.enabled);
        mouseClick(combo);
        tryVerify(() => combo.popupOpened);
    }

    function test_comboPopupHeight_data() {
        return Table.rows(["rows", "max", "height"], ["one row", 1, 2, 34], ["two of two", 2, 2, 68], ["three of five", 5, 3, 102]);
    }

    function test_comboPopupHeight(data) {
        const combo = createTemporaryObject(comboComponent, testCase, {
                "model": rows(data.rows),
                "popupElementMaxView": data.max,
                "displayText": "Row 0"
            });
        combo.open();
        tryVerify(() => combo.popupOpened);
        const popup = findChild(combo, "popup");
        compare(popup.height, data.height);
        compare(popup.width, combo.width);
    }

    // Rows without a value role are numbered; the chosen one shows demi-bold.
    function test_comboChoosesRow() {
        const combo = createTemporaryObject(comboComponent, testCase, {
                "model": rows(3),
                "popupElementMaxView": 3,
                "displayText": "Row 0",
                "currentIndex": 0
            });
        combo.open();
        tryVerify(() => combo.popupOpened);
        const third = findChild(findChild(combo, "popup").contentItem, "row2");
        verify(third);
        mouseClick(third);
        compare(combo.currentIndex, 2);
        tryVerify(() => !combo.popupOpened);
        combo.open();
        tryVerify(() => combo.popupOpened);
        const list = findChild(combo, "popup").contentItem;
        compare(findChild(findChild(list, "row2"), "rowText").font.weight, Font.DemiBold);
        compare(findChild(findChild(list, "row0"), "rowText").font.weight, Font.Normal);
    }

    // The list opens on the chosen row even when it lies far below the
    // visible ones, where the view makes its rows only when it has time, and
    // the keyboard moves from there.
    function test_comboOpensOnFarRow() {
        const combo = createTemporaryObject(comboComponent, testCase, {
                "model": rows(40),
                "displayText": "Row 30",
                "currentIndex": 30
            });
        combo.forceActiveFocus();
        keyClick(Qt.Key_Space);
        tryVerify(() => combo.popupOpened);
        const list = findChild(findChild(combo, "popup").contentItem, "list");
        compare(list.currentIndex, 30);
        compare(combo.highlightedValue, 30);
        keyClick(Qt.Key_Up);
        keyClick(Qt.Key_Return);
        compare(combo.currentIndex, 29);
    }

    // An unknown size gives NaN, and an xz image checked against its
    // compressed size runs past the end: the fill stays inside the bar.
    function test_progressTrack_data() {
        return Table.rows(["value", "width"], ["half", 0.5, 100], ["unknown", NaN, 0], ["past the end", 1.7, 200], ["below zero", -0.2, 0]);
    }

    function test_progressTrack(data) {
        const track = createTemporaryObject(trackComponent, testCase, {
                "value": data.value
            });
        compare(track.Accessible.role, Accessible.ProgressBar);
        const fill = findChild(track, "fill");
        compare(fill.width, data.width);
        verify(fill.visible);
        track.sweeping = true;
        verify(!fill.visible);
        verify(findChild(track, "sweep").visible);
    }

    function test_theme_data() {
        return Table.rows(["grey", "light"], ["grey 129", 129, true], ["grey 128", 128, true], ["grey 127", 127, false], ["grey 126", 126, false], ["white", 255, true], ["black", 0, false]);
    }

    function test_theme(data) {
        harness.setWindowColour(Qt.rgba(data.grey / 255, data.grey / 255, data.grey / 255, 1));
        const theme = createTemporaryObject(themeComponent, testCase);
        compare(theme.themeIsLight, data.light);
        compare(theme.window, data.light ? Qt.color("#ffffff") : Qt.color("#282828"));
        compare(theme.mainPageImage, data.light ? "qrc:/mainPageImage" : "qrc:/mainPageImageDark");
        // Decided once: a later change of the desktop's palette leaves it alone.
        harness.setWindowColour(data.light ? "black" : "white");
        compare(theme.themeIsLight, data.light);
    }

    // The window grows with the desktop's font and stays fixed.
    function test_largeFont() {
        harness.setFontPixelSize(40);
        const window = createTemporaryObject(Qt.createComponent("qrc:/qml/main.qml"), testCase);
        verify(window);
        const units = findChild(window, "units");
        verify(units.gridUnit > 25);
        fuzzyCompare(window.width, 32 * units.gridUnit, 1);
        fuzzyCompare(window.height, 25 * units.gridUnit, 1);
        compare(window.minimumWidth, window.maximumWidth);
        compare(window.minimumHeight, window.maximumHeight);
        compare(window.minimumWidth, window.width);
        compare(window.minimumHeight, window.height);
    }
}
