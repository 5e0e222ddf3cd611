import QtQuick
import QtQuick.Controls.Basic

// A radio button in the pages' palette. Space chooses it, as everywhere; Enter
// is left to the page, where it acts as the page's default button.
RadioButton {
    id: radio

    spacing: 8
    padding: 0
    font.pixelSize: 13

    indicator: Rectangle {
        x: radio.leftPadding
        y: Math.round((radio.height - height) / 2)
        width: 16
        height: 16
        radius: 8
        color: theme.checkBox
        border.width: 1
        border.color: radio.checked || radio.hovered ? theme.checkBoxBorderChecked : theme.checkBoxBorder

        Rectangle {
            anchors.centerIn: parent
            width: 8
            height: 8
            radius: 4
            color: theme.checkBoxBorderChecked
            visible: radio.checked
        }

        FocusRing {
            innerRadius: 8
            shown: radio.visualFocus
        }
    }

    contentItem: Text {
        leftPadding: radio.indicator.width + radio.spacing
        verticalAlignment: Text.AlignVCenter
        text: radio.text
        textFormat: Text.PlainText
        font: radio.font
        color: theme.text
    }

    CurrentThemeColor {
        id: theme
    }
}
