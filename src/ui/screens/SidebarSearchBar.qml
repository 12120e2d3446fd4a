import QtQuick
import Echoquill.Ui

// The sidebar's search field: a magnifying glass and the text.
EQTextField {
    id: bar
    objectName: "SidebarSearchBar"
    property var look

    implicitHeight: 32
    radius: 9
    horizontalPadding: 10
    role: "bodySm"
    placeholder: "Search"
    color: look.fieldBackground
    border.color: look.fieldOutline
    input.color: look.fieldText
    leading: Component {
        EQSymbol {
            name: "magnifyingglass"
            size: 12
            color: bar.look.fieldIcon
        }
    }
}
