#pragma once

#include <QAbstractNativeEventFilter>
#include <QKeySequence>
#include <QObject>
#include <QString>

#include <optional>

// "Record from anywhere": a key combination (Ctrl+Alt+R unless the user chose
// another) that works while another application is in front, without taking
// the focus from it. On X11 it is a key grab on the root window; where there is
// no X11 display, or another application holds the combination, `available`
// is false and `problem` says why. The choice and the switch are kept in the
// settings.
class GlobalShortcut : public QObject, public QAbstractNativeEventFilter {
    Q_OBJECT
    Q_PROPERTY(bool enabled READ enabled WRITE setEnabled NOTIFY changed)
    Q_PROPERTY(QString sequence READ sequenceText NOTIFY changed)
    Q_PROPERTY(bool available READ available NOTIFY changed)
    // What the user sees of it: how to use it, or why it does not work.
    Q_PROPERTY(QString line READ line NOTIFY changed)
    // While the user is choosing another combination, the present one is let go.
    Q_PROPERTY(bool isChoosing MEMBER m_isChoosing WRITE setChoosing NOTIFY changed)
public:
    static inline const QKeySequence defaultSequence { Qt::CTRL | Qt::ALT | Qt::Key_R };

    explicit GlobalShortcut(QObject* parent = nullptr);
    ~GlobalShortcut() override;

    [[nodiscard]] bool enabled() const { return m_enabled; }
    void setEnabled(bool on);
    void setChoosing(bool choosing);
    [[nodiscard]] QString sequenceText() const { return m_sequence.toString(QKeySequence::NativeText); }
    [[nodiscard]] bool available() const { return m_problem.isEmpty(); }
    [[nodiscard]] QString problem() const { return m_problem; }
    [[nodiscard]] QString line() const;

    // The combination pressed on the Profile screen (`key` and `modifiers` as a key event has them):
    // taken when it has Ctrl, Alt or Super and a letter, digit or function key; false otherwise.
    Q_INVOKABLE bool choose(int key, int modifiers);

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

signals:
    void changed();
    // The combination was pressed, wherever the focus is.
    void activated();

private:
    struct Grab {
        quint8 keycode = 0;
        quint16 modifiers = 0;
    };

    void apply();
    void release();
    [[nodiscard]] std::optional<Grab> grabFor(const QKeySequence& sequence, QString* problem) const;

    bool m_enabled = true;
    bool m_isChoosing = false;
    QKeySequence m_sequence;
    QString m_problem;
    std::optional<Grab> m_grab;
    quint32 m_releasedAt = 0;
};
