#pragma once

#include "MeetingApp.h"

#include <QMetaType>
#include <QString>

// One meeting seen in the foreground, as offered to the user. A gadget, so
// QML reads its fields straight from the detector's published value.
struct MeetingDetection {
    Q_GADGET
    Q_PROPERTY(QString appName READ appName)
    Q_PROPERTY(double confidence MEMBER confidence)
    Q_PROPERTY(QString reason MEMBER reason)
    Q_PROPERTY(QString displayName MEMBER displayName)

public:
    MeetingApp app = MeetingApp::zoom;
    double confidence = 0;
    // Names the rule that fired.
    QString reason;
    // The window title, or the application's default meeting name.
    QString displayName;

    [[nodiscard]] QString appName() const { return rawValue(app); }

    bool operator==(const MeetingDetection&) const = default;
};
