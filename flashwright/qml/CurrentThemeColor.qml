import QtQuick

// The pages' light or dark palette. Which one is decided once, when this object
// is completed, from the brightness of the desktop's window colour; an object
// made after the desktop changed its theme shows the new one.
Item {
    id: theme

    property bool themeIsLight: true

    readonly property string mainPageImage: themeIsLight ? "qrc:/mainPageImage" : "qrc:/mainPageImageDark"
    readonly property string goDownButtonImage: themeIsLight ? "qrc:/logos/goDownButton" : "qrc:/logos/goDownButtonLight"
    readonly property string goBackButtonImage: themeIsLight ? "qrc:/logos/goBackButton" : "qrc:/logos/goBackButtonLight"
    readonly property string checkboxImage: themeIsLight ? "qrc:/logos/checkbox" : "qrc:/logos/checkboxLight"
    readonly property string downloadImage: themeIsLight ? "qrc:/logos/downloadImage" : "qrc:/logos/downloadImageLight"
    readonly property string chooseImageImage: themeIsLight ? "qrc:/logos/chooseImage" : "qrc:/logos/chooseImageLight"
    readonly property string restoreImageImage: themeIsLight ? "qrc:/logos/restoreImage" : "qrc:/logos/restoreImageLight"
    readonly property string warningImage: "qrc:/logos/warning"

    readonly property color window: themeIsLight ? "#ffffff" : "#282828"
    readonly property color placeholderText: themeIsLight ? "#888888" : "#858585"
    readonly property color text: themeIsLight ? "#000000" : "#ffffff"
    readonly property color highlightedText: "#ffffff"
    readonly property color button: themeIsLight ? "#ffffff" : "#282828"
    readonly property color buttonText: themeIsLight ? "#333333" : "#ffffff"
    readonly property color buttonTextAlternative: "#cd3d3c"
    readonly property color buttonLighter: themeIsLight ? "#ffd8d6" : "#4d4d4d"
    readonly property color buttonHover: themeIsLight ? "#f6f6f6" : "#2c2c2c"
    readonly property color buttonBorder: themeIsLight ? "#d2d2d2" : "#828282"
    readonly property color buttonBorderHover: themeIsLight ? "#d53d40" : "#cd3d3c"
    readonly property color progressBarBorder: themeIsLight ? "#d2d2d2" : "#828282"
    readonly property color progressBarContentItem: themeIsLight ? "#ffffff" : "#282828"
    readonly property color progressBarContentItemFill: "#cd3d3c"
    readonly property color comboBox: themeIsLight ? "#ffffff" : "#282828"
    readonly property color comboBoxDisabled: themeIsLight ? "#ececec" : "#4d4d4d"
    readonly property color comboBoxBorder: themeIsLight ? "#d2d2d2" : "#828282"
    readonly property color comboBoxBorderOpen: "#d53d40"
    readonly property color comboBoxPopupBorder: themeIsLight ? "#d2d2d2" : "#828282"
    readonly property color comboBoxPopupItem: "transparent"
    readonly property color comboBoxPopupItemHighlighted: "#e25957"
    readonly property color checkBox: themeIsLight ? "#ffffff" : "#282828"
    readonly property color checkBoxChecked: themeIsLight ? "#f6f6f6" : "#303030"
    readonly property color checkBoxBorder: themeIsLight ? "#d2d2d2" : "#828282"
    readonly property color checkBoxBorderHover: "#d53d40"
    readonly property color checkBoxBorderChecked: "#d53d40"
    readonly property color warningTextColor: themeIsLight ? "#333333" : "#ffffff"
    readonly property color warningBackgroundColor: "#20ff8f05"
    readonly property color warningBorderColor: "#ff8f05"

    // The ring around whatever has the keyboard focus: the accent red reads on
    // both backgrounds.
    readonly property color focusRing: buttonBorderHover

    // Perceived brightness of a colour on the 0..255 scale.
    function brightness(colour) {
        return (299 * Math.round(colour.r * 255) + 587 * Math.round(colour.g * 255) + 114 * Math.round(colour.b * 255)) / 1000;
    }

    visible: false
    Component.onCompleted: themeIsLight = brightness(system.window) >= 128

    SystemPalette {
        id: system

        colorGroup: SystemPalette.Active
    }
}
