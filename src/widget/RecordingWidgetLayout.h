#pragma once

#include <QEasingCurve>
#include <QList>
#include <QObject>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>
#include <QVariantList>
#include <QtQml/qqmlregistration.h>

class QJSEngine;
class QQmlEngine;

// What the recording widget shows, in order of priority.
enum class RecordingWidgetState { saved, recording, detected, notice, idle };

// The rules of the recording widget's drawing that are worth a test: which
// state wins, how wide the capsule is in each, where the panel goes on the
// screen, how high the level bars stand, and the capsule's spring.
class RecordingWidgetLayout : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON
    Q_PROPERTY(qreal capsuleHeight MEMBER capsuleHeight CONSTANT)
    Q_PROPERTY(QList<qreal> recordingMultipliers READ recordingMultipliers CONSTANT)
    Q_PROPERTY(QEasingCurve capsuleSpring READ capsuleSpring CONSTANT)
    Q_PROPERTY(int capsuleSpringMs MEMBER capsuleSpringMs CONSTANT)

public:
    static constexpr QSize panelSize { 380, 68 };
    // Distance of the panel from the top and right edges of the screen's free area.
    static constexpr int screenMargin = 32;
    static constexpr qreal capsuleHeight = 56;
    // Silence still shows bars at this share of their range.
    static constexpr qreal levelFloor = 0.12;
    // The capsule's width follows a spring of this response and damping fraction.
    static constexpr qreal springResponse = 0.28;
    static constexpr qreal springDamping = 0.85;
    // Long enough for the spring to come to rest (its residue is below 0.02 %).
    static constexpr int capsuleSpringMs = 500;

    // A notice (why a recording did not start or had to stop) stays until a detection or a recording replaces it.
    [[nodiscard]] static RecordingWidgetState stateFor(
        bool showSaved, bool isRecording, bool hasDetection, bool hasNotice = false);
    [[nodiscard]] static QString name(RecordingWidgetState state);
    // A recording with a warning in place of its level gets the room the warning needs.
    [[nodiscard]] static qreal capsuleWidth(RecordingWidgetState state, bool withWarning = false);
    // Top-left corner of the panel in the screen's free area `available`.
    [[nodiscard]] static QPoint panelPosition(const QRect& available);

    // The level bars of a recording, from the left.
    [[nodiscard]] static QList<qreal> recordingMultipliers();
    [[nodiscard]] static qreal barHeight(qreal level, qreal multiplier, qreal minH, qreal maxH);
    // The first `barCount` bars; never more bars than multipliers.
    [[nodiscard]] static QList<qreal> barHeights(
        qreal level, const QList<qreal>& multipliers, int barCount, qreal minH, qreal maxH);
    // The same for QML, where the multipliers are a list of numbers.
    Q_INVOKABLE QList<qreal> heights(
        qreal level, const QVariantList& multipliers, int barCount, qreal minH, qreal maxH) const;

    // The spring's way from 0 to 1 over `capsuleSpringMs`, as an easing curve.
    [[nodiscard]] static qreal springProgress(qreal progress);
    [[nodiscard]] static QEasingCurve capsuleSpring();

    static RecordingWidgetLayout* create(QQmlEngine*, QJSEngine*) { return new RecordingWidgetLayout; }
};
