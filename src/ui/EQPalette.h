#pragma once

#include <QColor>
#include <QObject>
#include <QtQml/qqmlregistration.h>

class QJSEngine;
class QQmlEngine;

// The fixed colours every screen draws with, built once on first use. QML
// reads them as EQPalette.terracotta, …; C++ as EQPalette::shared().terracotta.
class EQPalette : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON

    Q_PROPERTY(QColor nightSurface MEMBER nightSurface CONSTANT)
    Q_PROPERTY(QColor nightHairline MEMBER nightHairline CONSTANT)
    Q_PROPERTY(QColor nightText MEMBER nightText CONSTANT)
    Q_PROPERTY(QColor peach MEMBER peach CONSTANT)
    Q_PROPERTY(QColor creamDeep MEMBER creamDeep CONSTANT)
    Q_PROPERTY(QColor cream MEMBER cream CONSTANT)
    Q_PROPERTY(QColor white MEMBER white CONSTANT)
    Q_PROPERTY(QColor creamLight MEMBER creamLight CONSTANT)
    Q_PROPERTY(QColor peachLight MEMBER peachLight CONSTANT)
    Q_PROPERTY(QColor peachGlow MEMBER peachGlow CONSTANT)
    Q_PROPERTY(QColor ink MEMBER ink CONSTANT)
    Q_PROPERTY(QColor inkSecondary MEMBER inkSecondary CONSTANT)
    Q_PROPERTY(QColor terracotta MEMBER terracotta CONSTANT)
    Q_PROPERTY(QColor terracottaSoft MEMBER terracottaSoft CONSTANT)
    Q_PROPERTY(QColor hairline MEMBER hairline CONSTANT)
    Q_PROPERTY(QColor hairlineSoft MEMBER hairlineSoft CONSTANT)
    Q_PROPERTY(QColor hairlineFaint MEMBER hairlineFaint CONSTANT)
    Q_PROPERTY(QColor inkTertiary MEMBER inkTertiary CONSTANT)
    Q_PROPERTY(QColor inkMuted MEMBER inkMuted CONSTANT)
    Q_PROPERTY(QColor alert MEMBER alert CONSTANT)
    Q_PROPERTY(QColor alertSoft MEMBER alertSoft CONSTANT)
    Q_PROPERTY(QColor shade MEMBER shade CONSTANT)

    Q_PROPERTY(QColor apricot MEMBER apricot CONSTANT)
    Q_PROPERTY(QColor blush MEMBER blush CONSTANT)
    Q_PROPERTY(QColor rose MEMBER rose CONSTANT)
    Q_PROPERTY(QColor hairlineStrong MEMBER hairlineStrong CONSTANT)
    Q_PROPERTY(QColor pillInk MEMBER pillInk CONSTANT)
    Q_PROPERTY(QColor pillShadow MEMBER pillShadow CONSTANT)
    Q_PROPERTY(QColor glowRing MEMBER glowRing CONSTANT)
    Q_PROPERTY(QColor glowShadow MEMBER glowShadow CONSTANT)
    Q_PROPERTY(QColor clear MEMBER clear CONSTANT)
    Q_PROPERTY(QColor badge MEMBER badge CONSTANT)
    Q_PROPERTY(QColor amber MEMBER amber CONSTANT)
    Q_PROPERTY(QColor recordRed MEMBER recordRed CONSTANT)
    Q_PROPERTY(QColor terracottaText MEMBER terracottaText CONSTANT)
    Q_PROPERTY(QColor focusRing MEMBER focusRing CONSTANT)

public:
    static EQPalette& shared();
    static EQPalette* create(QQmlEngine*, QJSEngine*);

    // The same colour at another opacity, for the few places a screen fades one.
    Q_INVOKABLE QColor withOpacity(const QColor& color, qreal opacity) const;

    const QColor nightSurface;
    const QColor nightHairline;
    const QColor nightText;
    const QColor peach;
    const QColor creamDeep;
    const QColor cream;
    const QColor white;
    const QColor creamLight;
    const QColor peachLight;
    const QColor peachGlow;
    const QColor ink;
    const QColor inkSecondary;
    const QColor terracotta;
    const QColor terracottaSoft;
    const QColor hairline;
    const QColor hairlineSoft;
    const QColor hairlineFaint;
    const QColor inkTertiary;
    const QColor inkMuted;
    const QColor alert;
    const QColor alertSoft;
    const QColor shade;

    // The screens' warm gradients, strong outlines, the pill's ink and shadow, avatar glow.
    const QColor apricot;
    const QColor blush;
    const QColor rose;
    const QColor hairlineStrong;
    const QColor pillInk;
    const QColor pillShadow;
    const QColor glowRing;
    const QColor glowShadow;
    const QColor clear;

    // The screens' round badges, the calendar warning, the recording dot.
    const QColor badge;
    const QColor amber;
    const QColor recordRed;
    // Text colours read at 4.5:1 at least on the light surfaces (white, the creams, and apricot and peach under the
    // live meeting); terracotta text is a shade darker than the terracotta of fills for that.
    const QColor terracottaText;
    // The keyboard's ring: at least 3:1 against every surface it is drawn on, in both themes.
    const QColor focusRing;

private:
    EQPalette();
};
