#pragma once

#include <QString>

// The one-time code as the sign-in form keeps it: at most six characters,
// all of them numbers (any numeric character of Unicode, not only 0 to 9).
class OTPCode {
public:
    static constexpr int length = 6;

    // Keeps the first six characters of the typed text, then drops every
    // character that is not a number: "12a45678" gives "12456".
    [[nodiscard]] static QString filter(const QString& typed);
    // Characters as the user sees them (a digit with a combining mark is one).
    [[nodiscard]] static int characterCount(const QString& text);
    [[nodiscard]] static bool isComplete(const QString& code) { return characterCount(code) == length; }
};
