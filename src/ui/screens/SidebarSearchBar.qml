import QtQuick
import QtQuick.Controls.Basic
import Echoquill.Ui

// The sidebar's search field: a magnifying glass and the text.
EQTextField {
    id: bar
    objectName: "SidebarSearchBar"
    property sidebarLook look

    implicitHeight: 32
    radius: 9
    horizontalPadding: 10
    role: "bodySm"
    placeholder: "Search"
    color: look.fieldBackground
    border.color: look.fieldOutline
    input.color: look.fieldText
    ToolTip {
        visible: hover.hovered
        delay: 600
        text: "Search (Ctrl+F)"
    }
    HoverHandler { id: hover }
    // The field's Loader makes the glass in a context of its own, which Qt 6.4 refuses for
    // components bound to their document, so the linter does not see that `bar` reaches it.
    leading: Component {
        EQSymbol {
            name: "magnifyingglass"
            size: 12
            // qmllint disable unqualified
            color: bar.look.fieldIcon
            // qmllint enable unqualified
        }
    }
}
