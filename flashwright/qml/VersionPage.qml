import QtQuick
import QtQuick.Controls.Basic

// Recording parameters of a catalogue image: version line, architecture, the
// image itself, whether to delete the download after writing, and the drive.
// Opening the page sets the catalogue's edition filter and the 8.0 line; the
// architecture, the chosen image and the drive live in the catalogue and the
// drive list, so they survive a visit to another page.
FramedPage {
    id: page

    readonly property bool educational: edition.type === Units.Education
    // Only the page on top chooses images: on the way back to the first page
    // the window resets the catalogue's filters before it pops this page, and
    // the choice must not move the catalogue's selection then.
    readonly property bool onTop: StackView.status === StackView.Active || StackView.status === StackView.Activating

    // The catalogue row shown in a row of the filtered list.
    function catalogueRow(row) {
        return releases.mapToSource(releases.index(row, 0)).row;
    }

    // Keeps the chosen image while the filtered list still shows it, and
    // otherwise takes its first entry (or none when it is empty).
    function chooseImage() {
        if (!onTop)
            return;
        const rows = releases.rowCount();
        if (rows === 0) {
            imageList.currentIndex = -1;
            return;
        }
        for (let row = 0; imageList.currentIndex >= 0 && row < rows; ++row) {
            if (catalogueRow(row) === imageList.currentIndex)
                return;
        }
        imageList.currentIndex = catalogueRow(0);
    }

    function continueToDownload() {
        if (mainWindow.selectedOption !== Units.Write && releases.variant)
            releases.variant.download();
        mainWindow.selectedPage = Units.DownloadPage;
    }

    objectName: "versionPage"
    heading: qsTr("Recording Parameter")
    defaultButton: continueButton
    onBack: mainWindow.selectedPage = Units.EditionsPage

    Component.onCompleted: {
        releases.filterEditionAndSource(mainWindow.selectedEdition, Units.ZV80);
        imageRule.restart();
    }

    // Runs the image choice once the current event has been handled, however
    // many changes of the list that event brought.
    Timer {
        id: imageRule

        interval: 0
        onTriggered: page.chooseImage()
    }

    ChosenEdition {
        id: edition
    }

    Connections {
        function onRowsInserted() {
            imageRule.restart();
        }

        function onRowsRemoved() {
            imageRule.restart();
        }

        function onModelReset() {
            imageRule.restart();
        }

        target: releases
    }

    Column {
        width: parent.width
        spacing: 20

        Column {
            width: parent.width
            height: 60

            Text {
                objectName: "editionName"
                Accessible.role: Accessible.StaticText
                Accessible.name: text
                width: parent.width
                height: 22
                verticalAlignment: Text.AlignVCenter
                text: edition.name
                textFormat: Text.PlainText
                color: page.theme.text
                font.pixelSize: 14
                font.weight: Font.DemiBold
                elide: Text.ElideRight
            }

            BodyText {
                height: 38
                text: edition.description
                font.pixelSize: 12
                elide: Text.ElideRight
            }
        }

        Column {
            width: parent.width
            spacing: 8

            SectionLabel {
                text: qsTr("Version")
            }

            Row {
                spacing: 16

                StyledRadioButton {
                    objectName: "versionZV80"
                    text: qsTr("Zelvan 8.0")
                    checked: true
                    onClicked: releases.filterSource = Units.ZV80
                }

                StyledRadioButton {
                    objectName: "versionZV73"
                    text: qsTr("Zelvan 7.3")
                    visible: !page.educational
                    onClicked: releases.filterSource = Units.ZV73
                }
            }
        }

        Column {
            width: parent.width
            spacing: 8

            SectionLabel {
                text: qsTr("Architecture")
            }

            Row {
                spacing: 16

                Repeater {
                    model: releases.availableArchitectures

                    // Checked exactly while the catalogue filters on this
                    // architecture: the catalogue may switch it back itself.
                    delegate: StyledRadioButton {
                        required property var modelData

                        objectName: "architecture" + modelData.id
                        text: modelData.description
                        checkable: false
                        checked: releases.filterArchitecture === modelData.id
                        onClicked: releases.filterArchitecture = modelData.id
                    }
                }
            }

            Text {
                objectName: "architectureDetails"
                Accessible.role: Accessible.StaticText
                Accessible.name: text
                width: parent.width
                height: 34
                text: {
                    const architectures = releases.availableArchitectures;
                    for (let i = 0; i < architectures.length; ++i) {
                        if (architectures[i].id === releases.filterArchitecture)
                            return architectures[i].details;
                    }
                    return "";
                }
                textFormat: Text.PlainText
                color: page.theme.placeholderText
                font.pixelSize: 12
                wrapMode: Text.Wrap
                elide: Text.ElideRight
            }
        }

        Column {
            width: parent.width
            spacing: 8

            SectionLabel {
                text: qsTr("Image")
            }

            // Values are rows of the whole catalogue ("sourceIndex"), so that
            // they can go to releases.selectedIndex as they are.
            StyledComboBox {
                id: imageList

                objectName: "imageList"
                width: parent.width
                height: 34
                model: releases
                textRole: "name"
                valueRole: "sourceIndex"
                popupElementMaxView: 3
                displayText: {
                    const release = currentIndex >= 0 ? releases.get(currentIndex) : null;
                    return release ? release.name : "";
                }
                Accessible.name: qsTr("Image")
                onCurrentIndexChanged: {
                    if (currentIndex >= 0)
                        releases.selectedIndex = currentIndex;
                }
            }

            StyledCheckBox {
                objectName: "eraseCheckBox"
                height: 18
                text: qsTr("Delete download after writing")
                checked: mainWindow.eraseVariant
                onToggled: mainWindow.eraseVariant = checked
            }
        }

        DriveList {
            objectName: "driveList"
            width: parent.width
        }
    }

    PrimaryButton {
        id: continueButton

        objectName: "continueButton"
        anchors.right: parent.right
        anchors.bottom: parent.bottom
        text: qsTr("Continue")
        // Row 0 of the catalogue is the entry for a file of the user's own,
        // which this list never offers.
        enabled: imageList.currentIndex > 0
        onReleased: page.continueToDownload()
    }
}
