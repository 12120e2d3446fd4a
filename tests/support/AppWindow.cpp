#include "AppWindow.h"

#include "Await.h"

#include <QtQml/qqmlextensionplugin.h>

Q_IMPORT_QML_PLUGIN(Echoquill_AppPlugin)
Q_IMPORT_QML_PLUGIN(Echoquill_UiPlugin)

using namespace Qt::StringLiterals;

AppWindow::AppWindow()
{
    delegate.exposeTo(engine);
    engine.load(QUrl(u"qrc:/Echoquill/App/Main.qml"_s));
    window = qobject_cast<QQuickWindow*>(engine.rootObjects().value(0));
    if (window) {
        window->requestActivate();
        waitUntil([&] { return window->isExposed() && window->isActive(); });
    }
}
