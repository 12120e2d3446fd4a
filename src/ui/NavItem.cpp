#include "NavItem.h"

#include <array>

namespace {

struct Row {
    NavItem item;
    const char16_t* key;
    const char16_t* title;
    const char16_t* symbol;
};

constexpr std::array rows {
    Row { NavItem::home, u"home", u"Home", u"house" },
    Row { NavItem::meetings, u"meetings", u"Meetings", u"waveform" },
    Row { NavItem::actions, u"actions", u"Actions", u"checklist" },
    Row { NavItem::profile, u"profile", u"Profile", u"person.circle" },
};

const Row& rowOf(NavItem item)
{
    return rows[size_t(item)];
}

}

QList<NavItem> NavItems::allCases()
{
    QList<NavItem> items;
    for (const Row& row : rows)
        items.append(row.item);
    return items;
}

QString NavItems::title(NavItem item)
{
    return QString::fromUtf16(rowOf(item).title);
}

QString NavItems::symbol(NavItem item)
{
    return QString::fromUtf16(rowOf(item).symbol);
}

QString NavItems::key(NavItem item)
{
    return QString::fromUtf16(rowOf(item).key);
}

std::optional<NavItem> NavItems::fromKey(const QString& key)
{
    for (const Row& row : rows)
        if (key == QStringView(row.key))
            return row.item;
    return std::nullopt;
}
