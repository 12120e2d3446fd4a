#pragma once

#include <QByteArray>
#include <QString>

#include <exception>

// A failure reported by the sound server: its error code and what we were doing.
class SoundServerError : public std::exception {
public:
    SoundServerError(int code, QString operation);

    [[nodiscard]] int code() const { return m_code; }
    // "Could not connect to the sound server: Connection refused"
    [[nodiscard]] QString description() const;
    const char* what() const noexcept override { return m_what.constData(); }

private:
    int m_code;
    QString m_operation;
    QByteArray m_what;
};
