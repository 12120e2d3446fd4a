#include "AuthStore.h"

#include "Endpoints.h"
#include "KeychainService.h"

#include <QPointer>

using namespace Qt::StringLiterals;

namespace {

// Every error type of ours carries its user-facing description in what().
QString describe(const std::exception& e)
{
    return QString::fromUtf8(e.what());
}

}

AuthStore::AuthStore(APIClient& client, QObject* parent)
    : QObject(parent)
    , m_client(client)
    , m_authService(client)
{
    // Restore without waiting: the reply reaches the window through currentUser.
    if (const auto token = KeychainService::loadToken())
        loadUser(*token);
}

QCoro::Task<> AuthStore::loadUser(std::optional<QString> token)
{
    if (!token)
        token = KeychainService::loadToken();
    if (!token)
        co_return;

    QPointer<AuthStore> self(this);
    const quint64 generation = m_generation;
    std::optional<EQUser> user;
    std::optional<EQAPIError> failure;
    try {
        user = co_await m_client.get<EQUser>(Endpoints::url(Endpoints::Path::currentUser), *token);
    } catch (const EQAPIError& e) {
        failure = e;
    }
    if (!self || generation != m_generation)
        co_return;

    if (user) {
        setCurrentUser(std::move(user));
    } else if (failure->is(EQAPIError::Unauthorized)) {
        KeychainService::deleteToken();
        setCurrentUser(std::nullopt);
        setError(std::nullopt);
    } else {
        setError(failure->description());
    }
}

QCoro::QmlTask AuthStore::verifyOTP(const QString& email, const QString& code)
{
    // A 401 here is about the code just typed, not a stored session.
    return signIn([this, email, code] { return m_authService.verifyOTP(email, code); },
        u"That code is wrong or has expired. Check it or send a new one."_s);
}

QCoro::QmlTask AuthStore::signInWithGoogle()
{
    return signIn([this] { return m_authService.signInWithGoogle(); });
}

QCoro::Task<> AuthStore::signIn(
    std::function<QCoro::Task<QString>()> obtainToken, std::optional<QString> unauthorizedText)
{
    QPointer<AuthStore> self(this);
    setLoading(true);
    setError(std::nullopt);

    std::optional<QString> token;
    std::optional<QString> failure;
    try {
        token = co_await obtainToken();
    } catch (const EQAPIError& e) {
        failure = e.is(EQAPIError::Unauthorized) && unauthorizedText ? *unauthorizedText : e.description();
    } catch (const std::exception& e) {
        failure = describe(e);
    }
    if (!self)
        co_return;
    if (failure) {
        // A restore still waiting goes on: a failed attempt keeps a good stored session.
        setError(failure);
        setLoading(false);
        co_return;
    }
    abandonPendingUserRequests();

    try {
        KeychainService::saveToken(*token);
    } catch (const KeychainError& e) {
        setError(e.description());
        setLoading(false);
        co_return;
    }

    co_await loadUser(*token);
    if (self)
        setLoading(false);
}

void AuthStore::signOut()
{
    abandonPendingUserRequests();
    KeychainService::deleteToken();
    setCurrentUser(std::nullopt);
    setError(std::nullopt);
}

QCoro::QmlTask AuthStore::requestOTP(const QString& email)
{
    return requestCode(email);
}

QCoro::Task<QVariant> AuthStore::requestCode(QString email)
{
    try {
        co_await m_authService.requestOTP(email);
    } catch (const std::exception& e) {
        co_return describe(e);
    }
    co_return QVariant::fromValue(nullptr);
}

QVariant AuthStore::currentUserForQml() const
{
    return m_currentUser ? QVariant::fromValue(*m_currentUser) : QVariant::fromValue(nullptr);
}

QVariant AuthStore::errorForQml() const
{
    return m_error ? QVariant(*m_error) : QVariant::fromValue(nullptr);
}

void AuthStore::setCurrentUser(std::optional<EQUser> user)
{
    // Every assignment notifies, an equal record included: observers re-read the user on each load.
    m_currentUser = std::move(user);
    emit currentUserChanged();
}

void AuthStore::setLoading(bool loading)
{
    if (m_isLoading == loading)
        return;
    m_isLoading = loading;
    emit isLoadingChanged();
}

void AuthStore::setError(std::optional<QString> error)
{
    if (m_error == error)
        return;
    m_error = std::move(error);
    emit errorChanged();
}
