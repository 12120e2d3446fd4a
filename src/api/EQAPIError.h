#pragma once

#include <QByteArray>
#include <QString>

#include <exception>

// The error of every service call, with the text the user sees.
class EQAPIError : public std::exception {
public:
    enum Kind { HttpError, DecodingError, NetworkError, InvalidCallback, Unauthorized };

    static EQAPIError httpError(int status) { return EQAPIError(HttpError, status, {}); }
    static EQAPIError decodingError(const QString& decoderDescription)
    {
        return EQAPIError(DecodingError, 0, decoderDescription);
    }
    static EQAPIError networkError(const QString& transportDescription)
    {
        return EQAPIError(NetworkError, 0, transportDescription);
    }
    static EQAPIError invalidCallback() { return EQAPIError(InvalidCallback, 0, {}); }
    static EQAPIError unauthorized() { return EQAPIError(Unauthorized, 0, {}); }

    [[nodiscard]] Kind kind() const { return m_kind; }
    [[nodiscard]] bool is(Kind kind) const { return m_kind == kind; }
    [[nodiscard]] int status() const { return m_status; }
    // The underlying decoder or transport error's own description.
    [[nodiscard]] QString underlying() const { return m_underlying; }
    [[nodiscard]] QString description() const;
    // The case and its payload, as log lines print an error: "httpError(500)".
    [[nodiscard]] QString printed() const;
    const char* what() const noexcept override { return m_what.constData(); }

private:
    EQAPIError(Kind kind, int status, QString underlying);

    Kind m_kind;
    int m_status;
    QString m_underlying;
    QByteArray m_what;
};

// A transport failure passed on unchanged (the one call that does not wrap it).
class TransportError : public std::exception {
public:
    explicit TransportError(QString description)
        : m_description(std::move(description))
        , m_what(m_description.toUtf8())
    {
    }
    [[nodiscard]] QString description() const { return m_description; }
    const char* what() const noexcept override { return m_what.constData(); }

private:
    QString m_description;
    QByteArray m_what;
};
