#pragma once

#include "JsonReader.h"

#include <QMetaType>
#include <QString>
#include <QVariant>

#include <optional>

// The signed-in user's account record, the reply of "/api/desktop/me". A
// gadget so that QML reads its fields through the session store.
struct EQUser {
    Q_GADGET
    Q_PROPERTY(QString id MEMBER id CONSTANT)
    Q_PROPERTY(QString name MEMBER name CONSTANT)
    Q_PROPERTY(QString email MEMBER email CONSTANT)
    Q_PROPERTY(qint64 freeCredits MEMBER freeCredits CONSTANT)
    Q_PROPERTY(qint64 paidCredits MEMBER paidCredits CONSTANT)
    Q_PROPERTY(qint64 topUpCredits MEMBER topUpCredits CONSTANT)
    Q_PROPERTY(qint64 currentStreak MEMBER currentStreak CONSTANT)
    Q_PROPERTY(qint64 longestStreak MEMBER longestStreak CONSTANT)
    Q_PROPERTY(bool isFounder MEMBER isFounder CONSTANT)
    // null when the account has no Google picture.
    Q_PROPERTY(QVariant googlePicture READ googlePictureForQml CONSTANT)

public:
    QString id;
    QString name;
    QString email;
    qint64 freeCredits = 0;
    qint64 paidCredits = 0;
    qint64 topUpCredits = 0;
    qint64 currentStreak = 0;
    qint64 longestStreak = 0;
    bool isFounder = false;
    std::optional<QString> googlePicture;

    [[nodiscard]] QVariant googlePictureForQml() const;

    static EQUser fromJson(const Json::ObjectReader& r);
    bool operator==(const EQUser& other) const { return id == other.id; }
};

Q_DECLARE_METATYPE(EQUser)
