import QtQuick

// The certified edition is not offered for download: this page says how to get
// it and opens the maker's page about it in the web browser.
FramedPage {
    id: page

    objectName: "certPage"
    heading: qsTr("Recording Parameter")
    defaultButton: websiteButton
    onBack: mainWindow.selectedPage = Units.EditionsPage

    Column {
        width: parent.width
        spacing: 8

        Text {
            objectName: "certTitle"
            Accessible.role: Accessible.StaticText
            Accessible.name: text
            width: parent.width
            height: 22
            verticalAlignment: Text.AlignVCenter
            text: qsTr("Certified edition")
            textFormat: Text.PlainText
            color: page.theme.text
            font.pixelSize: 16
            font.bold: true
        }

        BodyText {
            text: qsTr("Available on request after discussing this issue with the manager. All information on the purchase of a certified edition is available on the website.")
        }

        Item {
            width: parent.width
            height: 30 + 16

            PrimaryButton {
                id: websiteButton

                objectName: "websiteButton"
                anchors.left: parent.left
                anchors.bottom: parent.bottom
                width: implicitWidth + 8
                text: qsTr("Open on the website")
                onReleased: Qt.openUrlExternally("https://www.zelvan.example/product/edition-sertificate/")
            }
        }
    }
}
