// The processing card's own actions: a failed upload with its files here
// offers Retry and asks before its ✕ drops it; an upload shows how much is sent.
#include "DemoSession.h"
#include "MeetingStore.h"
#include "SessionJournal.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace ScreenDriver;

namespace {

QQuickItem *card(QQuickItem *root, const QString &length)
{
    return find(root, [&](QQuickItem *item) {
        return QByteArray(item->metaObject()->className()).startsWith("ProcessingMeetingCard") && byText(item, length);
    });
}

class ProcessingCards : public DemoSession { };

}

TEST_F(ProcessingCards, AFailedCardRetriesOrAsksAboutItsFilesAndAnUploadShowsItsProgress)
{
    QTemporaryDir recordings;
    const auto session = [&](const QString &name) {
        const QString folder = QDir(recordings.path()).filePath(name);
        QDir().mkpath(folder);
        SessionJournal journal(folder);
        journal.setExported(u"upload_track.m4a"_s, std::nullopt);
        journal.setFailed({u"Server error (500)"_s, 3, std::nullopt});
        journal.save();
        return folder;
    };
    AppWindow app;
    openWindow(app);
    MeetingStore &store = *app.delegate.meetingStore();
    const QString retried = session(u"Session_retried"_s), kept = session(u"Session_kept"_s);
    store.updatePendingUpload(store.addPendingUpload(u"Session_retried"_s, 61, retried), UploadStatus::failed(u"Server error (500)"_s));
    store.updatePendingUpload(store.addPendingUpload(u"Session_kept"_s, 62, kept), UploadStatus::failed(u"Server error (500)"_s));
    store.addPendingUpload(u"Session_sending"_s, 63, session(u"Session_sending"_s));
    click(app.window, byText(app.root(), u"Meetings"_s));
    QQuickItem *column = app.detailColumn();
    ASSERT_TRUE(waitUntil([&] { return card(column, u"1M 3S"_s); }));

    click(app.window, byObjectName(card(column, u"1M 1S"_s), u"retry"_s));
    EXPECT_EQ(byObjectName(card(column, u"1M 1S"_s), u"statusText"_s)->property("text").toString(), u"UPLOADING…"_s);

    QQuickItem *keep = card(column, u"1M 2S"_s);
    click(app.window, byObjectName(keep, u"dismiss"_s));
    EXPECT_TRUE(byText(keep, u"Keep the recording's files?"_s));
    EXPECT_TRUE(store.pendingUploadFor(kept)) << "nothing goes before the answer";
    click(app.window, byObjectName(keep, u"keepFiles"_s));
    ASSERT_TRUE(waitUntil([&] { return !card(column, u"1M 2S"_s); }));
    EXPECT_TRUE(QDir(kept).exists());
    EXPECT_TRUE(SessionJournal::read(kept)->isDismissed()) << "a kept session is not offered again";

    store.setPendingUploadProgress(QDir(recordings.path()).filePath(u"Session_sending"_s), 0.42);
    ASSERT_TRUE(waitUntil([&] { return byText(card(column, u"1M 3S"_s), u"42%"_s); }));
    EXPECT_TRUE(byObjectName(card(column, u"1M 3S"_s), u"progressBar"_s)->isVisible());
}
