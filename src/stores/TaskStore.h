#pragma once

#include "EQTask.h"

#include <QList>
#include <QObject>

#include <optional>

// The user's task list and the task picked from it. It only holds state;
// whoever fills it sets the fields.
class TaskStore : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool isLoading READ isLoading WRITE setLoading NOTIFY isLoadingChanged)
    Q_PROPERTY(QString error READ errorText NOTIFY errorChanged)
public:
    explicit TaskStore(QObject* parent = nullptr);

    [[nodiscard]] const QList<EQTask>& tasks() const { return m_tasks; }
    void setTasks(const QList<EQTask>& tasks);
    [[nodiscard]] const std::optional<EQTask>& selectedTask() const { return m_selectedTask; }
    void setSelectedTask(const std::optional<EQTask>& task);
    [[nodiscard]] bool isLoading() const { return m_isLoading; }
    void setLoading(bool on);
    [[nodiscard]] const std::optional<QString>& error() const { return m_error; }
    [[nodiscard]] QString errorText() const { return m_error.value_or(QString()); }
    void setError(const std::optional<QString>& error);

signals:
    void tasksChanged();
    void selectedTaskChanged();
    void isLoadingChanged();
    void errorChanged();

private:
    QList<EQTask> m_tasks;
    std::optional<EQTask> m_selectedTask;
    bool m_isLoading = false;
    std::optional<QString> m_error;
};
