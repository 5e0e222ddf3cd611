import QtQuick

// The pages' drawing: a monitor joined by a dashed line to a USB stick, in the
// palette's colours. Drawn from its 218-pixel source at the size the page gives.
Image {
    readonly property CurrentThemeColor theme: CurrentThemeColor {
    }

    source: theme.mainPageImage
    sourceSize.width: 218
    sourceSize.height: 218
    fillMode: Image.PreserveAspectFit
}
