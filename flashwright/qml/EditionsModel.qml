import QtQuick
import QtQml.Models

// The four editions of the catalogue, in the order the pages list them.
ListModel {
    id: editions

    // The name and description of the first row of that edition, or null
    // (for Units.None in particular).
    function getEditionByType(type) {
        for (let row = 0; row < count; ++row) {
            const edition = get(row);
            if (edition.type === type)
                return {
                    "name": edition.name,
                    "description": edition.description
                };
        }
        return null;
    }

    ListElement {
        type: Units.Standart
        name: qsTr("Standard edition")
        description: qsTr("The distribution package contains everything necessary for the work of users and the organization of the server infrastructure.")
    }
    ListElement {
        type: Units.Cert
        name: qsTr("Certified edition")
        description: qsTr("The security features built into the OS comply with the security requirements established by the FSTEC of Russia.")
    }
    ListElement {
        type: Units.Home
        name: qsTr("Home edition")
        description: qsTr("The distribution kit for home use contains everything necessary for regular user work.")
    }
    ListElement {
        type: Units.Education
        name: qsTr("Educational edition")
        description: qsTr("It is designed to organize the educational process and includes all the necessary tools for this.")
    }
}
