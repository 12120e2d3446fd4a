#pragma once

#include "APIClient.h"

#include <QCoroTask>
#include <QString>
#include <QUrl>

#include <optional>

class QWindow;

// Obtains bearer tokens from the service: by an e-mail one-time code
// (request, then verify) or by Google through the service's web page.
// Storing the token and loading the user belong to the session store.
class AuthService {
public:
    explicit AuthService(APIClient& client = APIClient::shared());

    // Mails a code; errors are the client's, transport failures unwrapped.
    QCoro::Task<> requestOTP(QString email);
    // Exchanges the code for a token.
    QCoro::Task<QString> verifyOTP(QString email, QString code);
    // Opens "/desktop-auth?state=…" (a new random state each time) in the
    // sign-in program's window and waits for the callback. Throws WebAuthenticationError
    // when the window is closed first, or EQAPIError::invalidCallback when the
    // callback carries no token or another state, or the program fails.
    QCoro::Task<QString> signInWithGoogle();

    // The token of a callback address: the first query item named exactly
    // "token", an empty value included; anything else, or a "state" other
    // than `state`, is invalidCallback.
    static QString tokenFromCallback(const std::optional<QUrl>& callbackUrl, const QString& state);
    // The window the sign-in window is placed over, if the application has one.
    [[nodiscard]] static QWindow* presentationAnchor();

private:
    APIClient& m_client;
};
