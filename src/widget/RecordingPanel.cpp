#include "RecordingPanel.h"

#include "RecordingWidgetLayout.h"

#include <QGuiApplication>
#include <QPainterPath>
#include <QQmlEngine>
#include <QScreen>
#include <QSurfaceFormat>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>

using namespace Qt::StringLiterals;

namespace {

xcb_atom_t internAtom(xcb_connection_t* connection, const char* name)
{
    xcb_intern_atom_reply_t* reply
        = xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 0, std::strlen(name), name), nullptr);
    const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return atom;
}

}

RecordingPanel::RecordingPanel()
{
    setTitle(u"Echoquill recording widget"_s);
    setFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus);
    // Only the capsule is drawn; the rest of the panel is see-through.
    QSurfaceFormat surface = format();
    surface.setAlphaBufferSize(8);
    setFormat(surface);
    setColor(Qt::transparent);
    setResizeMode(QQuickView::SizeRootObjectToView);
    setMinimumSize(RecordingWidgetLayout::panelSize);
    setMaximumSize(RecordingWidgetLayout::panelSize);
    resize(RecordingWidgetLayout::panelSize);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        setPosition(RecordingWidgetLayout::panelPosition(screen->availableGeometry()));
    // Our QML modules live in the resources under their URI path.
    engine()->addImportPath(u"qrc:/"_s);
}

void RecordingPanel::setContent(const QUrl& source, const QVariantMap& initialProperties)
{
    setInitialProperties(initialProperties);
    setSource(source);
    if (!rootObject())
        return;
    m_capsule = rootObject()->findChild<QQuickItem*>(u"capsule"_s);
    m_closeButton = rootObject()->findChild<QQuickItem*>(u"closeButton"_s);
    followShape(m_capsule);
    followShape(m_closeButton);
    updateShape();
}

void RecordingPanel::followShape(QQuickItem* item)
{
    if (!item)
        return;
    for (auto change : { &QQuickItem::xChanged, &QQuickItem::yChanged, &QQuickItem::widthChanged,
             &QQuickItem::heightChanged, &QQuickItem::visibleChanged, &QQuickItem::scaleChanged })
        connect(item, change, this, &RecordingPanel::updateShape);
}

void RecordingPanel::updateShape()
{
    // One pixel of margin keeps the capsule's smoothed edge inside the shape.
    const auto outline = [](QQuickItem* item) {
        return item->mapRectToScene(QRectF(0, 0, item->width(), item->height())).adjusted(-1, -1, 1, 1);
    };
    QRegion shape;
    if (m_capsule) {
        const QRectF capsule = outline(m_capsule);
        QPainterPath path;
        path.addRoundedRect(capsule, capsule.height() / 2, capsule.height() / 2);
        shape += QRegion(path.toFillPolygon().toPolygon());
    }
    if (m_closeButton && m_closeButton->isVisible())
        shape += QRegion(outline(m_closeButton).toAlignedRect(), QRegion::Ellipse);
    setMask(shape);
}

void RecordingPanel::showAbove()
{
    if (!isVisible()) {
        // The window manager forgets a window's desktops when it is hidden.
        create();
        joinAllDesktops();
        show();
    }
    raise();
}

void RecordingPanel::withdraw()
{
    hide();
}

void RecordingPanel::joinAllDesktops()
{
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11 || !x11->connection())
        return;
    xcb_connection_t* connection = x11->connection();
    const auto window = xcb_window_t(winId());

    // Both ways of saying it: the desktop "all" and the sticky state. Qt adds
    // its own states to the property when it maps the window.
    const uint32_t allDesktops = 0xFFFFFFFF;
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, window, internAtom(connection, "_NET_WM_DESKTOP"),
        XCB_ATOM_CARDINAL, 32, 1, &allDesktops);
    const xcb_atom_t sticky = internAtom(connection, "_NET_WM_STATE_STICKY");
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, window, internAtom(connection, "_NET_WM_STATE"),
        XCB_ATOM_ATOM, 32, 1, &sticky);
    xcb_flush(connection);
}
