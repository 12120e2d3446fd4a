#pragma once

#include <QString>
#include <QStringList>

#include <functional>

// One plain line per call on standard output, flushed at once. The component
// prefix is part of the text ("[APIClient] …"), exactly as callers pass it.
namespace Log {

void line(const QString& text);

// Collects every line written while it lives (lines still reach standard
// output). Safe to use while other threads log.
class Capture {
public:
    Capture();
    ~Capture();
    Capture(const Capture&) = delete;
    Capture& operator=(const Capture&) = delete;

    [[nodiscard]] QStringList lines() const;
    [[nodiscard]] bool contains(const QString& text) const;
    [[nodiscard]] bool containsPrefix(const QString& prefix) const;
    [[nodiscard]] int count(const QString& prefix) const;
    void clear();

private:
    int m_id;
};

}
