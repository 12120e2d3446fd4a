#include "NavItem.h"

using namespace Qt::StringLiterals;

QList<NavItem> NavItems::allCases()
{
    return {NavItem::home, NavItem::meetings, NavItem::actions, NavItem::profile};
}

QString NavItems::title(NavItem item)
{
    switch (item) {
    case NavItem::home:
        return u"Home"_s;
    case NavItem::meetings:
        return u"Meetings"_s;
    case NavItem::actions:
        return u"Actions"_s;
    case NavItem::profile:
        return u"Profile"_s;
    }
    return {};
}

QString NavItems::symbol(NavItem item)
{
    switch (item) {
    case NavItem::home:
        return u"house"_s;
    case NavItem::meetings:
        return u"waveform"_s;
    case NavItem::actions:
        return u"checklist"_s;
    case NavItem::profile:
        return u"person.circle"_s;
    }
    return {};
}

QString NavItems::key(NavItem item)
{
    switch (item) {
    case NavItem::home:
        return u"home"_s;
    case NavItem::meetings:
        return u"meetings"_s;
    case NavItem::actions:
        return u"actions"_s;
    case NavItem::profile:
        return u"profile"_s;
    }
    return {};
}

std::optional<NavItem> NavItems::fromKey(const QString &key)
{
    for (NavItem item : allCases())
        if (NavItems::key(item) == key)
            return item;
    return std::nullopt;
}
