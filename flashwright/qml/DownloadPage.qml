import QtQuick

// Download, verification and writing of the chosen image, and what to do next.
FramedPage {
    objectName: "downloadPage"
    heading: releases.variant ? releases.variant.statusString : ""
    onBack: mainWindow.selectedPage = Units.MainPage
}
