#include "TaskStore.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

TEST(TaskStore, StartsEmptyAndAnnouncesOnlyRealChanges)
{
    TaskStore store;
    EXPECT_TRUE(store.tasks().isEmpty());
    EXPECT_FALSE(store.selectedTask());
    EXPECT_FALSE(store.isLoading());
    EXPECT_FALSE(store.error());

    int tasks = 0, selected = 0, loading = 0, errors = 0;
    QObject::connect(&store, &TaskStore::tasksChanged, [&] { ++tasks; });
    QObject::connect(&store, &TaskStore::selectedTaskChanged, [&] { ++selected; });
    QObject::connect(&store, &TaskStore::isLoadingChanged, [&] { ++loading; });
    QObject::connect(&store, &TaskStore::errorChanged, [&] { ++errors; });

    EQTask task;
    task.id = u"t1"_s;
    task.name = u"Follow up"_s;
    task.statusChangedAt = QDateTime(QDate(2024, 5, 1), QTime(9, 30), Qt::UTC);
    store.setTasks({task});
    store.setTasks({task});
    EQTask renamed = task;
    renamed.yellowAfterSeconds = 60;
    store.setTasks({renamed});
    EXPECT_EQ(tasks, 2) << "a changed field of the same task is a change";

    store.setSelectedTask(task);
    store.setSelectedTask(task);
    store.setSelectedTask(renamed);
    store.setSelectedTask(std::nullopt);
    EXPECT_EQ(selected, 3);

    store.setLoading(true);
    store.setLoading(true);
    store.setError(u""_s);
    store.setError(u""_s);
    store.setError(std::nullopt);
    EXPECT_EQ(loading, 1);
    EXPECT_EQ(errors, 2) << "an empty error text is not an absent one";
}
