#pragma once

#include <QDesktopServices>
#include <QObject>
#include <QStringList>
#include <QUrl>

// Stands in for the default browser while it lives: keeps every web or meeting address the client opens.
class Browser : public QObject {
    Q_OBJECT
public:
    Browser()
    {
        for (const QString& scheme : schemes)
            QDesktopServices::setUrlHandler(scheme, this, "open");
    }
    ~Browser() override
    {
        for (const QString& scheme : schemes)
            QDesktopServices::unsetUrlHandler(scheme);
    }
    const QStringList schemes { QStringLiteral("http"), QStringLiteral("https"), QStringLiteral("zoommtg") };
    QList<QUrl> opened;

public slots:
    void open(const QUrl& url) { opened << url; }
};
