#include "RippleGeometry.h"

#include <QDateTime>
#include <QVariantMap>

#include <cmath>

using namespace Qt::StringLiterals;

QList<RippleGeometry::Ring> RippleGeometry::ringsAt(double seconds, qreal width)
{
    const double base = std::fmod(seconds, cycleSeconds) / cycleSeconds;
    const qreal half = width / 2;
    QList<Ring> rings;
    for (int i = 0; i < ringCount; ++i) {
        double phase = base + double(i) / ringCount;
        phase -= std::floor(phase);
        // From 15% of the half width at the start to the edge at the end of the cycle.
        const qreal radius = half * (0.15 + 0.85 * phase);
        rings.append({ phase, radius, (1 - phase) * 0.6 });
    }
    return rings;
}

QVariantList RippleGeometry::rings(qreal width) const
{
    const double now = double(QDateTime::currentMSecsSinceEpoch()) / 1000.0;
    QVariantList list;
    for (const Ring& ring : ringsAt(now, width))
        list.append(QVariantMap { { u"radius"_s, ring.radius }, { u"opacity"_s, ring.opacity } });
    return list;
}
