#pragma once

#include <QObject>
#include <QStringList>

// One client per desktop session: the first process holds the session bus
// name and answers Activate; a later launch hands its arguments over and ends.
// A lock file in the user's runtime folder, held for the process's life, keeps
// a second client out also where the name cannot tell (no bus, a bus per login).
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
    // Takes the lock file; false when another process holds it. A lock file that cannot be
    // made at all (no runtime folder) is logged and does not keep the client from starting.
    bool lock();
    QString lockPath() const { return m_lockPath; }

public slots:
    Q_SCRIPTABLE void Activate(const QStringList& arguments);

signals:
    void activated(const QStringList& arguments);

private:
    bool m_claimed = false;
    int m_lockFd = -1;
    QString m_lockPath;
};
