import QtQuick
import QtQuick.Controls.Basic

// The first page: where the image comes from (the catalogue, a file on this
// computer), and the restore of a drive that holds a written image. Until the
// catalogue has arrived its choice is dimmed, and after a second a notice says
// why.
Page {
    id: page

    // The connection notice may show once the page has been up for a second,
    // so a catalogue that arrives quickly never flashes it.
    property bool noticeAllowed: false
    readonly property bool noticeShown: noticeAllowed && !releases.isReady
    // The three choices are equally wide, and wider than usual when a
    // translation needs it.
    readonly property real choiceWidth: Math.max(234, downloadButton.implicitWidth, localFileButton.implicitWidth, restoreButton.implicitWidth)

    objectName: "mainPage"
    Accessible.name: qsTr("Writing images to USB Flash")
    padding: 0
    Keys.onReturnPressed: downloadButton.activate()
    Keys.onEnterPressed: downloadButton.activate()

    background: Rectangle {
        color: theme.window
    }

    CurrentThemeColor {
        id: theme
    }

    Timer {
        interval: 1000
        running: true
        onTriggered: page.noticeAllowed = true
    }

    Column {
        id: column

        anchors.horizontalCenter: parent.horizontalCenter
        y: 57.5
        width: 304
        spacing: 38

        Text {
            objectName: "mainHeading"
            Accessible.role: Accessible.StaticText
            Accessible.name: text
            anchors.horizontalCenter: parent.horizontalCenter
            height: 27
            verticalAlignment: Text.AlignVCenter
            text: qsTr("Writing images to USB Flash")
            textFormat: Text.PlainText
            color: theme.text
            font.pixelSize: 20
            font.weight: 600
        }

        Illustration {
            objectName: "mainPageImage"
            anchors.horizontalCenter: parent.horizontalCenter
            width: 218
            height: 218
        }

        Column {
            width: parent.width
            spacing: 24

            Text {
                anchors.horizontalCenter: parent.horizontalCenter
                height: 25
                verticalAlignment: Text.AlignVCenter
                text: qsTr("Selecting an image source")
                Accessible.role: Accessible.StaticText
                Accessible.name: text
                textFormat: Text.PlainText
                color: theme.text
                font.pixelSize: 18
            }

            Column {
                anchors.horizontalCenter: parent.horizontalCenter
                spacing: 12

                StyledButton {
                    id: downloadButton

                    objectName: "downloadButton"
                    width: page.choiceWidth
                    height: 30
                    text: qsTr("Download from the website")
                    iconSource: theme.downloadImage
                    textCenterAlignment: false
                    thisColor: theme.buttonLighter
                    enabled: releases.isReady
                    opacity: enabled ? 1 : 0.7
                    onReleased: mainWindow.selectedPage = Units.EditionsPage
                }

                StyledButton {
                    id: localFileButton

                    objectName: "localFileButton"
                    width: page.choiceWidth
                    height: 30
                    text: qsTr("Select from device")
                    iconSource: theme.chooseImageImage
                    textCenterAlignment: false
                    onClicked: {
                        mainWindow.selectedOption = Units.Write;
                        releases.selectLocalFile("");
                        mainWindow.selectedPage = Units.DrivePage;
                    }
                }

                StyledButton {
                    id: restoreButton

                    objectName: "restoreButton"
                    width: page.choiceWidth
                    height: 30
                    text: qsTr("Restore USB Flash")
                    iconSource: theme.restoreImageImage
                    withBorder: false
                    thisColor: "transparent"
                    textColor: theme.buttonTextAlternative
                    visible: drives.lastRestoreable !== null
                    onClicked: mainWindow.selectedPage = Units.RestorePage
                }
            }
        }
    }

    // Wide enough for the text in two lines with common desktop fonts: a third
    // line would push the box out of the window when the restore choice shows.
    Rectangle {
        objectName: "connectionNotice"
        anchors.top: column.bottom
        anchors.topMargin: 8
        anchors.horizontalCenter: parent.horizontalCenter
        width: 600
        height: Math.max(44, noticeText.implicitHeight + 16)
        visible: page.noticeShown
        color: theme.warningBackgroundColor
        border.width: 1
        border.color: theme.warningBorderColor
        radius: 2

        Image {
            id: noticeIcon

            anchors.left: parent.left
            anchors.leftMargin: 8
            anchors.verticalCenter: parent.verticalCenter
            width: 16
            height: 17
            source: theme.warningImage
            sourceSize.width: 16
            sourceSize.height: 17
        }

        Text {
            id: noticeText

            objectName: "noticeText"
            Accessible.role: Accessible.StaticText
            Accessible.name: text
            anchors.left: noticeIcon.right
            anchors.leftMargin: 10
            anchors.right: parent.right
            anchors.rightMargin: 8
            anchors.verticalCenter: parent.verticalCenter
            text: qsTr("A connection to the server is being established, and downloading from the site is not possible. Please wait or start downloading from your device.")
            textFormat: Text.PlainText
            color: theme.warningTextColor
            font.pixelSize: 13
            wrapMode: Text.Wrap
        }
    }
}
