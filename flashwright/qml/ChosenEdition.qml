import QtQuick

// The edition chosen on the editions page, looked up once, when this object is
// made: the window resets the choice on its way back to the first page, while
// the page that shows it may still be leaving. Type None and empty texts when
// no edition was chosen (a file of the user's own).
QtObject {
    property int type: Units.None
    property string name
    property string description
    readonly property EditionsModel editions: EditionsModel {
    }

    Component.onCompleted: {
        const edition = editions.getEditionByType(mainWindow.selectedEdition);
        if (!edition)
            return;
        type = mainWindow.selectedEdition;
        name = edition.name;
        description = edition.description;
    }
}
