#include "RecordingWidgetLayout.h"

#include <algorithm>
#include <cmath>
#include <numbers>

using namespace Qt::StringLiterals;

RecordingWidgetState RecordingWidgetLayout::stateFor(
    bool showSaved, bool isRecording, bool hasDetection, bool hasNotice)
{
    if (showSaved)
        return RecordingWidgetState::saved;
    if (isRecording)
        return RecordingWidgetState::recording;
    if (hasDetection)
        return RecordingWidgetState::detected;
    if (hasNotice)
        return RecordingWidgetState::notice;
    return RecordingWidgetState::idle;
}

QString RecordingWidgetLayout::name(RecordingWidgetState state)
{
    switch (state) {
    case RecordingWidgetState::saved:
        return u"saved"_s;
    case RecordingWidgetState::recording:
        return u"recording"_s;
    case RecordingWidgetState::detected:
        return u"detected"_s;
    case RecordingWidgetState::notice:
        return u"notice"_s;
    case RecordingWidgetState::idle:
        return u"idle"_s;
    }
    return {};
}

qreal RecordingWidgetLayout::capsuleWidth(RecordingWidgetState state, bool withWarning)
{
    switch (state) {
    case RecordingWidgetState::recording:
        return withWarning ? 368 : 300;
    case RecordingWidgetState::detected:
    case RecordingWidgetState::notice:
        return 368;
    case RecordingWidgetState::saved:
    case RecordingWidgetState::idle:
        return 165;
    }
    return 165;
}

QPoint RecordingWidgetLayout::panelPosition(const QRect& available)
{
    return { available.x() + available.width() - panelSize.width() - screenMargin, available.y() + screenMargin };
}

QList<qreal> RecordingWidgetLayout::recordingMultipliers()
{
    return { 0.55, 0.85, 1.0, 0.7, 1.0, 0.8, 0.45 };
}

qreal RecordingWidgetLayout::barHeight(qreal level, qreal multiplier, qreal minH, qreal maxH)
{
    return minH + (maxH - minH) * std::max(level, levelFloor) * multiplier;
}

QList<qreal> RecordingWidgetLayout::barHeights(
    qreal level, const QList<qreal>& multipliers, int barCount, qreal minH, qreal maxH)
{
    QList<qreal> heights;
    const qsizetype count = std::clamp<qsizetype>(barCount, 0, multipliers.size());
    for (qsizetype i = 0; i < count; ++i)
        heights.append(barHeight(level, multipliers[i], minH, maxH));
    return heights;
}

QList<qreal> RecordingWidgetLayout::heights(
    qreal level, const QVariantList& multipliers, int barCount, qreal minH, qreal maxH) const
{
    QList<qreal> numbers;
    for (const QVariant& multiplier : multipliers)
        numbers.append(multiplier.toDouble());
    return barHeights(level, numbers, barCount, minH, maxH);
}

qreal RecordingWidgetLayout::springProgress(qreal progress)
{
    if (progress >= 1)
        return 1;
    if (progress <= 0)
        return 0;
    // The step response of an underdamped spring of unit mass.
    const qreal t = progress * capsuleSpringMs / 1000.0;
    const qreal omega = 2 * std::numbers::pi / springResponse;
    const qreal root = std::sqrt(1 - springDamping * springDamping);
    const qreal omegaD = omega * root;
    const qreal decay = std::exp(-springDamping * omega * t);
    return 1 - decay * (std::cos(omegaD * t) + springDamping / root * std::sin(omegaD * t));
}

QEasingCurve RecordingWidgetLayout::capsuleSpring()
{
    QEasingCurve curve;
    curve.setCustomType(&springProgress);
    return curve;
}
