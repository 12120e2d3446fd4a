#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// The one table from the symbol names the screens use ("house", "waveform",
// "gearshape", …) to our SVG drawings in icons/. The drawings use
// "currentColor" for every stroke and fill, so one drawing serves every tint,
// and "knockoutColor" for the inner mark of a filled symbol.
class SymbolCatalog {
public:
    [[nodiscard]] static QStringList names();
    // The drawing's resource path, empty for a name that is not in the table.
    [[nodiscard]] static QString resourcePath(const QString& symbolName);
    // The SVG text of the drawing, empty when there is none.
    [[nodiscard]] static QByteArray svg(const QString& symbolName);
};
