import QtQuick
import QtTest
import "qrc:/qml"
import "table.js" as Table

// The edition cards: which show for a catalogue, their order and texts, and
// where each leads.
WindowTestCase {
    name: "EditionsPage"

    function openEditions(feed) {
        openWindow(feed);
        waitForCatalogue();
        keyClick(Qt.Key_Return);
        return waitForPage("editionsPage");
    }

    function test_cards_data() {
        return Table.rows(["feed", "shown"], ["whole catalogue", "catalogue.json", [Units.Standart, Units.Cert, Units.Home, Units.Education]], ["no home edition", "partial.json", [Units.Standart, Units.Cert, Units.Education]]);
    }

    function test_cards(data) {
        const page = openEditions(data.feed);
        const names = ["Standard edition", "Certified edition", "Home edition", "Educational edition"];
        let bottom = 0;
        let column = null;
        for (let edition = Units.Standart; edition <= Units.Education; ++edition) {
            const card = child(page, "edition" + edition);
            const shown = data.shown.indexOf(edition) >= 0;
            compare(card.visible, shown, names[edition]);
            if (!shown) {
                compare(card.height, 0);
                continue;
            }
            compare(card.Accessible.name, names[edition]);
            // The cards that show follow each other without gaps.
            compare(card.y, bottom);
            verify(card.height >= 112);
            bottom = card.y + card.height;
            column = card.parent;
        }
        // All of them fit in the window.
        verify(column.mapToItem(null, 0, bottom).y <= window.height);
    }

    function test_choose_data() {
        return Table.rows(["edition", "page"], ["standard", Units.Standart, "versionPage"], ["certified", Units.Cert, "certPage"], ["home", Units.Home, "versionPage"], ["educational", Units.Education, "versionPage"]);
    }

    // By keyboard: Tab through the back arrow and the cards before it, then Enter.
    function test_choose(data) {
        openEditions("catalogue.json");
        for (let i = 0; i <= data.edition + 1; ++i)
            keyClick(Qt.Key_Tab);
        compare(window.activeFocusItem.objectName, "edition" + data.edition);
        keyClick(Qt.Key_Return);
        waitForPage(data.page);
        compare(window.selectedEdition, data.edition);
    }
}
