#pragma once

#include <QPointer>
#include <QQuickItem>
#include <QQuickView>
#include <QUrl>
#include <QVariantMap>

// The floating window of the recording widget: frameless and transparent so
// only the capsule shows, above other windows on every desktop, and never
// focused, so the meeting keeps the keyboard. Hiding keeps it for later.
// Outside the capsule the panel is cut away, so it neither hides nor catches
// anything there, with or without a compositor.
class RecordingPanel : public QQuickView {
    Q_OBJECT
public:
    RecordingPanel();

    // Loads the widget; its items named "capsule" and "closeButton" give the panel its shape.
    void setContent(const QUrl& source, const QVariantMap& initialProperties);

    // Shows the panel above other windows without activating it or the application.
    void showAbove();
    void withdraw();

private:
    // Marks the not yet mapped window for every desktop; the window manager reads it when mapping.
    void joinAllDesktops();
    void followShape(QQuickItem* item);
    void updateShape();

    QPointer<QQuickItem> m_capsule;
    QPointer<QQuickItem> m_closeButton;
};
