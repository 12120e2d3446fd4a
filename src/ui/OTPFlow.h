#pragma once

#include "AuthStore.h"

#include <QCoroTask>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QtQml/qqmlregistration.h>

#include <optional>

// The state and rules of the e-mail code sign-in: the address, the code as
// filtered, which of the two steps shows, the wording of the account link,
// and the error line (this form's own error before the session store's).
// A new flow starts empty, as the sign-in screen does each time it appears.
class OTPFlow : public QObject {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(AuthStore* authStore READ authStore WRITE setAuthStore NOTIFY authStoreChanged)
    Q_PROPERTY(QString email READ email WRITE setEmail NOTIFY emailChanged)
    // Writing keeps the first six characters' numbers; six of them verify at once.
    Q_PROPERTY(QString code READ code WRITE setCode NOTIFY codeChanged)
    // "enterEmail" or "codeEntry".
    Q_PROPERTY(QString step READ stepName NOTIFY stepChanged)
    Q_PROPERTY(bool isRegistration READ isRegistration NOTIFY isRegistrationChanged)
    Q_PROPERTY(QString accountLinkText READ accountLinkText NOTIFY isRegistrationChanged)
    Q_PROPERTY(QString codePrompt READ codePrompt NOTIFY emailChanged)
    Q_PROPERTY(bool isSending READ isSending NOTIFY isSendingChanged)
    // The error line's text, empty when there is nothing to show.
    Q_PROPERTY(QString errorText READ errorText NOTIFY errorTextChanged)

public:
    enum class Step { enterEmail, codeEntry };

    explicit OTPFlow(QObject* parent = nullptr);

    [[nodiscard]] AuthStore* authStore() const { return m_authStore; }
    void setAuthStore(AuthStore* store);
    [[nodiscard]] QString email() const { return m_email; }
    void setEmail(const QString& email);
    [[nodiscard]] QString code() const { return m_code; }
    void setCode(const QString& typed);
    [[nodiscard]] Step step() const { return m_step; }
    [[nodiscard]] QString stepName() const;
    [[nodiscard]] bool isRegistration() const { return m_isRegistration; }
    [[nodiscard]] QString accountLinkText() const;
    [[nodiscard]] QString codePrompt() const;
    [[nodiscard]] bool isSending() const { return m_isSending; }
    [[nodiscard]] const std::optional<QString>& localError() const { return m_localError; }
    [[nodiscard]] QString errorText() const;

    // "Send code": checks the address, then asks the service to mail a code.
    Q_INVOKABLE void sendCode();
    // "Verify code" (and six typed characters): signs in through the session store.
    Q_INVOKABLE void verify();
    // Back to the address, which stays filled in; the code is emptied.
    Q_INVOKABLE void changeEmail();
    // Flips the account link's wording; nothing is sent differently.
    Q_INVOKABLE void toggleAccountLink();

    QCoro::Task<> requestCode();

signals:
    void authStoreChanged();
    void emailChanged();
    void codeChanged();
    void stepChanged();
    void isRegistrationChanged();
    void isSendingChanged();
    void errorTextChanged();

private:
    void setStep(Step step);
    void setSending(bool sending);
    void setLocalError(std::optional<QString> error);

    QPointer<AuthStore> m_authStore;
    QMetaObject::Connection m_storeErrorConnection;
    QString m_email;
    QString m_code;
    Step m_step = Step::enterEmail;
    bool m_isRegistration = true;
    std::optional<QString> m_localError;
    bool m_isSending = false;
};
