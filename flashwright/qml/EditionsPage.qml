import QtQuick

// The four editions as cards. Which cards show is decided when the page is
// made: an edition the catalogue has no release of is left out, except the
// certified one, which is never downloaded and only leads to its information
// page.
FramedPage {
    id: page

    objectName: "editionsPage"
    heading: qsTr("Editions' choice")
    onBack: mainWindow.selectedPage = Units.MainPage

    EditionsModel {
        id: editions
    }

    Column {
        width: parent.width

        Repeater {
            model: editions

            delegate: Item {
                id: row

                required property int type
                required property string name
                required property string description
                // Decided once: the cards show the catalogue as it was when the page opened.
                property bool shown: false

                function choose() {
                    mainWindow.selectedEdition = type;
                    mainWindow.selectedPage = type === Units.Cert ? Units.CertPage : Units.VersionPage;
                }

                objectName: "edition" + type
                width: parent.width
                // Long descriptions (and Russian ones) may need a fourth line:
                // the card grows rather than cut them.
                height: shown ? Math.max(112, cardContent.implicitHeight + 2 * 12 + 2 * 9) : 0
                visible: shown
                activeFocusOnTab: shown

                Accessible.role: Accessible.Button
                Accessible.name: name
                Accessible.description: description
                Accessible.onPressAction: choose()
                Keys.onReturnPressed: choose()
                Keys.onEnterPressed: choose()
                Keys.onSpacePressed: choose()

                Component.onCompleted: shown = type === Units.Cert || releases.hasEdition(type)

                Rectangle {
                    anchors.fill: parent
                    anchors.topMargin: 9
                    anchors.bottomMargin: 9
                    radius: 6
                    color: cardMouse.containsMouse ? page.theme.buttonHover : page.theme.button
                    border.width: row.activeFocus ? 2 : 1
                    border.color: row.activeFocus ? page.theme.focusRing : page.theme.buttonBorder

                    Column {
                        id: cardContent

                        anchors.fill: parent
                        anchors.margins: 12
                        spacing: 8

                        Text {
                            width: parent.width
                            height: 22
                            verticalAlignment: Text.AlignVCenter
                            text: row.name
                            textFormat: Text.PlainText
                            color: page.theme.text
                            font.pixelSize: 16
                            font.weight: 600
                            elide: Text.ElideRight
                        }

                        BodyText {
                            text: row.description
                        }
                    }

                    MouseArea {
                        id: cardMouse

                        anchors.fill: parent
                        hoverEnabled: true
                        cursorShape: Qt.PointingHandCursor
                        onReleased: mouse => {
                            if (containsMouse)
                                row.choose();
                        }
                    }
                }
            }
        }
    }
}
