#include "FolderItem.h"

#include "EQColor.h"

using namespace Qt::StringLiterals;

QList<FolderItem> FolderItem::sidebarFolders()
{
    const auto folder = [](QString name, const char16_t* hex) {
        return FolderItem { QUuid::createUuid(), std::move(name), EQColor::fromHex(hex) };
    };
    return {
        folder(u"Starred"_s, u"#f5c84b"),
        folder(u"Customers"_s, u"#5b9cff"),
        folder(u"Investors"_s, u"#e85a5a"),
        folder(u"1:1s"_s, u"#f0884a"),
        folder(u"Team standups"_s, u"#b285e8"),
    };
}
