#include "EchoquillDesktopApp.h"

#include <QtQml/qqmlextensionplugin.h>

Q_IMPORT_QML_PLUGIN(Echoquill_AppPlugin)
Q_IMPORT_QML_PLUGIN(Echoquill_UiPlugin)
Q_IMPORT_QML_PLUGIN(Echoquill_WidgetPlugin)

int main(int argc, char** argv)
{
    return EchoquillDesktopApp::run(argc, argv);
}
