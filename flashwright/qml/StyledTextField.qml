import QtQuick
import QtQuick.Controls.Basic

// A text field in the pages' palette.
TextField {
    id: field

    color: theme.text
    placeholderTextColor: theme.placeholderText
    selectionColor: theme.comboBoxPopupItemHighlighted
    selectedTextColor: theme.highlightedText
    font.pixelSize: 13
    verticalAlignment: TextInput.AlignVCenter

    background: Rectangle {
        color: theme.button
        radius: 4
        border.width: field.activeFocus ? 2 : 1
        border.color: field.activeFocus ? theme.focusRing : theme.buttonBorder
    }

    CurrentThemeColor {
        id: theme
    }
}
