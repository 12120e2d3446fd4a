#pragma once

#include <QObject>
#include <QStringList>

// One client per desktop session: the first process holds the session bus
// name and answers Activate; a later launch hands its arguments over and ends.
class SingleInstance : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.echoquill.Desktop")
public:
    enum class Claim { First, Running, NoBus };

    explicit SingleInstance(QObject* parent = nullptr);
    ~SingleInstance() override;

    // Takes the name and serves Activate; Running when another process has it.
    Claim claim();
    // Passes `arguments` to the process holding the name; false when it did not answer.
    static bool handOver(const QStringList& arguments);

public slots:
    Q_SCRIPTABLE void Activate(const QStringList& arguments);

signals:
    void activated(const QStringList& arguments);

private:
    bool m_claimed = false;
};
