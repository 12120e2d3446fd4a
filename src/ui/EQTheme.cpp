#include "EQTheme.h"

using namespace Qt::StringLiterals;

QString EQThemes::text(EQTheme theme)
{
    switch (theme) {
    case EQTheme::night:
        return u"night"_s;
    case EQTheme::golden:
        return u"golden"_s;
    }
    return {};
}

std::optional<EQTheme> EQThemes::fromText(const QString& text)
{
    for (EQTheme theme : allCases())
        if (EQThemes::text(theme) == text)
            return theme;
    return std::nullopt;
}

QList<EQTheme> EQThemes::allCases()
{
    return { EQTheme::night, EQTheme::golden };
}
