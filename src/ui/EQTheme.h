#pragma once

#include <QList>
#include <QString>

#include <optional>

// The two looks of the interface; each case has a text value.
enum class EQTheme { night, golden };

namespace EQThemes {

[[nodiscard]] QString text(EQTheme theme);
[[nodiscard]] std::optional<EQTheme> fromText(const QString& text);
[[nodiscard]] QList<EQTheme> allCases();
// What a view reads when no ancestor chose a theme.
inline constexpr EQTheme defaultTheme = EQTheme::night;

}
