import QtQuick

// The forward action of a page or a dialog (continue, write, restore, abort,
// open the web page): in the accent colour, 30 pixels high and 8 pixels wider
// than its label on either side. Pages put it at the bottom right.
StyledButton {
    width: implicitWidth + 16
    height: 30
    thisColor: theme.buttonLighter
}
