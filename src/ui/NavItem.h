#pragma once

#include <QList>
#include <QString>

#include <optional>

// The four places of the main window's sidebar, in their order.
enum class NavItem { home, meetings, actions, profile };

namespace NavItems {

[[nodiscard]] QList<NavItem> allCases();
[[nodiscard]] QString title(NavItem item);
// The symbol's name in the symbol catalogue.
[[nodiscard]] QString symbol(NavItem item);
// The case name as written in code, which QML uses as the item's key.
[[nodiscard]] QString key(NavItem item);
[[nodiscard]] std::optional<NavItem> fromKey(const QString& key);

}
