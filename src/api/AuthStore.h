#pragma once

#include "APIClient.h"
#include "AuthService.h"
#include "EQUser.h"

#include <QCoroQmlTask>
#include <QCoroTask>
#include <QObject>
#include <QString>
#include <QVariant>

#include <functional>
#include <optional>

// The session: who is signed in, whether a sign-in runs, and the last
// sign-in error. Restores the session from the stored token at construction,
// completes both ways of signing in, and signs out on request or when the
// service rejects the token. The main window shows the sign-in screens
// exactly while `currentUser` is absent.
class AuthStore : public QObject {
    Q_OBJECT
    // An EQUser (fields readable as currentUser.name, …), or null when signed out.
    Q_PROPERTY(QVariant currentUser READ currentUserForQml NOTIFY currentUserChanged)
    Q_PROPERTY(bool isLoading READ isLoading NOTIFY isLoadingChanged)
    // The description of the last failed sign-in or user load, or null.
    Q_PROPERTY(QVariant error READ errorForQml NOTIFY errorChanged)

public:
    explicit AuthStore(APIClient& client = APIClient::shared(), QObject* parent = nullptr);

    [[nodiscard]] const std::optional<EQUser>& currentUser() const { return m_currentUser; }
    [[nodiscard]] bool isLoading() const { return m_isLoading; }
    [[nodiscard]] const std::optional<QString>& error() const { return m_error; }
    AuthService& authService() { return m_authService; }

    // Loads "/api/desktop/me" into currentUser, with the stored token when
    // none is given. Never throws: a 401 signs out, other failures set error.
    QCoro::Task<> loadUser(std::optional<QString> token = std::nullopt);

    // The sign-ins: isLoading stays true until the user has loaded or the
    // attempt failed; the tasks never fail (the outcome is in the properties).
    Q_INVOKABLE QCoro::QmlTask verifyOTP(const QString& email, const QString& code);
    Q_INVOKABLE QCoro::QmlTask signInWithGoogle();
    Q_INVOKABLE void signOut();

    // The code-request step of the sign-in screen. Resolves to null once the
    // code is mailed, or to the error's description.
    Q_INVOKABLE QCoro::QmlTask requestOTP(const QString& email);

    [[nodiscard]] QVariant currentUserForQml() const;
    [[nodiscard]] QVariant errorForQml() const;

signals:
    void currentUserChanged();
    void isLoadingChanged();
    void errorChanged();

private:
    // `unauthorizedText` replaces the description of a 401 while obtaining the token.
    QCoro::Task<> signIn(
        std::function<QCoro::Task<QString>()> obtainToken, std::optional<QString> unauthorizedText = std::nullopt);
    QCoro::Task<QVariant> requestCode(QString email);

    void setCurrentUser(std::optional<EQUser> user);
    void setLoading(bool loading);
    void setError(std::optional<QString> error);
    // Drops the replies of user requests still waiting, so that an old session
    // never comes back after a sign-out or once a newer sign-in has its token.
    void abandonPendingUserRequests() { ++m_generation; }

    APIClient& m_client;
    AuthService m_authService;
    std::optional<EQUser> m_currentUser;
    bool m_isLoading = false;
    std::optional<QString> m_error;
    quint64 m_generation = 0;
};
