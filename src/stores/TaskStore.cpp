#include "TaskStore.h"

#include <algorithm>

namespace {

// Tasks compare by id alone; a store notifies on any changed field.
bool sameFields(const EQTask& a, const EQTask& b)
{
    return a.id == b.id && a.name == b.name && a.isActive == b.isActive && a.logo == b.logo
        && a.yellowAfterSeconds == b.yellowAfterSeconds && a.redAfterSeconds == b.redAfterSeconds
        && a.statusChangedAt == b.statusChangedAt;
}

}

TaskStore::TaskStore(QObject* parent)
    : QObject(parent)
{
}

void TaskStore::setTasks(const QList<EQTask>& tasks)
{
    if (std::equal(tasks.begin(), tasks.end(), m_tasks.begin(), m_tasks.end(), sameFields))
        return;
    m_tasks = tasks;
    emit tasksChanged();
}

void TaskStore::setSelectedTask(const std::optional<EQTask>& task)
{
    const bool same = task.has_value() == m_selectedTask.has_value() && (!task || sameFields(*task, *m_selectedTask));
    if (same)
        return;
    m_selectedTask = task;
    emit selectedTaskChanged();
}

void TaskStore::setLoading(bool on)
{
    if (on == m_isLoading)
        return;
    m_isLoading = on;
    emit isLoadingChanged();
}

void TaskStore::setError(const std::optional<QString>& error)
{
    if (error == m_error)
        return;
    m_error = error;
    emit errorChanged();
}
