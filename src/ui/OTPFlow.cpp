#include "OTPFlow.h"

#include "EQAPIError.h"
#include "OTPCode.h"

using namespace Qt::StringLiterals;

OTPFlow::OTPFlow(QObject* parent)
    : QObject(parent)
{
}

void OTPFlow::setAuthStore(AuthStore* store)
{
    if (store == m_authStore)
        return;
    disconnect(m_storeErrorConnection);
    m_authStore = store;
    if (store)
        m_storeErrorConnection = connect(store, &AuthStore::errorChanged, this, &OTPFlow::errorTextChanged);
    emit authStoreChanged();
    emit errorTextChanged();
}

void OTPFlow::setEmail(const QString& email)
{
    if (email == m_email)
        return;
    m_email = email;
    emit emailChanged();
}

void OTPFlow::setCode(const QString& typed)
{
    if (typed == m_code)
        return;
    const QString filtered = OTPCode::filter(typed);
    m_code = filtered;
    // Also when the filtered code is unchanged, so a field showing the typed text is reset.
    emit codeChanged();
    if (OTPCode::isComplete(m_code))
        verify();
}

QString OTPFlow::stepName() const
{
    return m_step == Step::enterEmail ? u"enterEmail"_s : u"codeEntry"_s;
}

QString OTPFlow::accountLinkText() const
{
    return m_isRegistration ? u"Already have an account? Sign in"_s : u"New here? Create account"_s;
}

QString OTPFlow::codePrompt() const
{
    return u"Enter the 6-digit code sent to "_s + m_email;
}

QString OTPFlow::errorText() const
{
    if (m_localError)
        return *m_localError;
    if (m_authStore && m_authStore->error())
        return *m_authStore->error();
    return {};
}

void OTPFlow::sendCode()
{
    requestCode();
}

QCoro::Task<> OTPFlow::requestCode()
{
    if (m_email.isEmpty()) {
        setLocalError(u"Please enter your email"_s);
        co_return;
    }
    if (!m_authStore)
        co_return;
    QPointer<OTPFlow> self(this);
    setSending(true);
    setLocalError(std::nullopt);

    std::optional<QString> failure;
    try {
        const QString email = m_email;
        co_await m_authStore->authService().requestOTP(email);
    } catch (const EQAPIError& e) {
        failure = e.description();
    } catch (const TransportError& e) {
        failure = e.description();
    } catch (const std::exception& e) {
        failure = QString::fromUtf8(e.what());
    }
    if (!self)
        co_return;
    if (failure)
        setLocalError(failure);
    else
        setStep(Step::codeEntry);
    setSending(false);
}

void OTPFlow::verify()
{
    if (!OTPCode::isComplete(m_code)) {
        setLocalError(u"Please enter the full 6-digit code"_s);
        return;
    }
    setLocalError(std::nullopt);
    if (m_authStore)
        m_authStore->verifyOTP(m_email, m_code);
}

void OTPFlow::changeEmail()
{
    setStep(Step::enterEmail);
    if (!m_code.isEmpty()) {
        m_code.clear();
        emit codeChanged();
    }
}

void OTPFlow::toggleAccountLink()
{
    m_isRegistration = !m_isRegistration;
    emit isRegistrationChanged();
}

void OTPFlow::setStep(Step step)
{
    if (step == m_step)
        return;
    m_step = step;
    emit stepChanged();
}

void OTPFlow::setSending(bool sending)
{
    if (sending == m_isSending)
        return;
    m_isSending = sending;
    emit isSendingChanged();
}

void OTPFlow::setLocalError(std::optional<QString> error)
{
    if (error == m_localError)
        return;
    m_localError = std::move(error);
    emit errorTextChanged();
}
