#include "TrayIcon.h"

#include <QAction>
#include <QMenu>
#include <QPainter>
#include <QSystemTrayIcon>

using namespace Qt::StringLiterals;

TrayIcon::TrayIcon(QObject* parent)
    : QObject(parent)
    , m_menu(std::make_unique<QMenu>())
    , m_icon(std::make_unique<QSystemTrayIcon>())
{
    connect(m_menu->addAction(u"Open Echoquill"_s), &QAction::triggered, this, &TrayIcon::openRequested);
    m_recordAction = m_menu->addAction(u"Start recording"_s);
    connect(m_recordAction, &QAction::triggered, this, [this] {
        if (m_look == Look::Recording)
            emit stopRequested();
        else
            emit startRequested();
    });
    connect(m_menu->addAction(u"Show recording widget"_s), &QAction::triggered, this, &TrayIcon::showWidgetRequested);
    m_menu->addSeparator();
    connect(m_menu->addAction(u"Quit"_s), &QAction::triggered, this, &TrayIcon::quitRequested);
    m_icon->setContextMenu(m_menu.get());
    m_icon->setIcon(drawn(m_look));
    m_icon->setToolTip(u"Echoquill"_s);
    connect(m_icon.get(), &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
            emit openRequested();
    });
    m_icon->show();
}

TrayIcon::~TrayIcon() = default;

void TrayIcon::setLook(Look look)
{
    if (look == m_look)
        return;
    m_look = look;
    m_recordAction->setText(look == Look::Recording ? u"Stop recording"_s : u"Start recording"_s);
    m_icon->setIcon(drawn(look));
    m_icon->setToolTip(look == Look::Recording ? u"Echoquill — recording"_s
            : look == Look::Uploading          ? u"Echoquill — uploading"_s
                                               : u"Echoquill"_s);
}

QIcon TrayIcon::drawn(Look look)
{
    // The tile, rings and dot of packaging/icons/com.echoquill.Desktop.svg on a 128 grid.
    const QColor ripple = look == Look::Recording ? QColor(0xe5, 0x48, 0x4d)
        : look == Look::Uploading                 ? QColor(0x7f, 0xb8, 0xff)
                                                  : QColor(0xff, 0xb4, 0x81);
    QIcon icon;
    for (const int size : { 16, 22, 24, 32, 48, 64 }) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.scale(size / 128.0, size / 128.0);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(0x1f, 0x1f, 0x25));
        painter.drawRoundedRect(QRectF(8, 8, 112, 112), 26, 26);
        const struct {
            qreal radius, width, opacity;
        } rings[] = { { 17, 6, 0.85 }, { 30, 5.5, 0.55 }, { 43, 5, 0.3 } };
        for (const auto& ring : rings) {
            QColor colour = ripple;
            colour.setAlphaF(float(ring.opacity));
            painter.setPen(QPen(colour, ring.width));
            painter.setBrush(Qt::NoBrush);
            painter.drawEllipse(QPointF(64, 64), ring.radius, ring.radius);
        }
        painter.setPen(Qt::NoPen);
        painter.setBrush(ripple);
        // Recording shows a larger dot, so the look reads at 16 pixels as well.
        const qreal dot = look == Look::Recording ? 14 : 7.5;
        painter.drawEllipse(QPointF(64, 64), dot, dot);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}
