#pragma once

#include "MeetingNote.h"
#include "PendingUpload.h"
#include "RecordingRecovery.h"
#include "SessionJournal.h"
#include "TokenProvider.h"
#include "UploadStatus.h"

#include <QCoroTask>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QVariantList>

#include <chrono>
#include <functional>
#include <optional>

class AudioRecorder;
class UploadPipeline;
class UploadQueue;

// How long the follow-up of a processing note waits between its stages.
struct RecordingLibraryTimings {
    std::chrono::milliseconds transcribingAfter { 2000 };
    std::chrono::milliseconds generatingAfter { 20000 };
    std::chrono::milliseconds pollInterval { 10000 };
    int maxPolls = 60;
};

// Every recording on this computer, from the moment it stops until its note is
// there: the recordings folder and, per session folder, its journal, its card,
// its upload and the follow-up of its note. A recording belongs to the account
// that was signed in when it started, and only that account's recordings are
// uploaded; another account's show whose they are, and the ones made while
// signed out are offered to the next account that signs in, never sent silently.
class RecordingLibrary : public QObject {
    Q_OBJECT
    // Interrupted recordings of the signed-in account: maps with "folder", "date" and "duration" (seconds).
    Q_PROPERTY(QVariantList interrupted READ interruptedList NOTIFY interruptedChanged)
    // "Upload 1 recording made while signed out to b@example.com?"; empty when there is nothing to ask.
    Q_PROPERTY(QString signedOutQuestion READ signedOutQuestion NOTIFY signedOutQuestionChanged)
public:
    using Owner = SessionJournal::Owner;
    using Timings = RecordingLibraryTimings;
    // The signed-in account; nothing while signed out or not known yet.
    using AccountSource = std::function<std::optional<Owner>()>;
    // One look at the service's notes: note `noteId`, or without one the first made since `since`.
    using NoteFinder = std::function<QCoro::Task<std::optional<MeetingNote>>(std::optional<qint64>, QDateTime)>;

    // `folder` empty: defaultFolder(). `pipeline` null: one of its own to the hosted service.
    RecordingLibrary(AudioRecorder* recorder, AccountSource account, TokenProvider tokens, QString folder = {},
        UploadPipeline* pipeline = nullptr, Timings timings = {}, QObject* parent = nullptr);
    ~RecordingLibrary() override;

    // "Echoquill Recordings" in the user's documents folder.
    [[nodiscard]] static QString defaultFolder();
    [[nodiscard]] QString folder() const { return m_folder; }
    void setNoteFinder(NoteFinder finder) { m_findNote = std::move(finder); }
    void setTimings(const Timings& timings) { m_timings = timings; }

    // The one way a recording ends (the home capsule, the widget, the status icon).
    Q_INVOKABLE void stopRecording();
    // Takes up what earlier runs left: the retention sweep (`keepDays`, nothing: forever),
    // the unfinished uploads and the interrupted recordings.
    QCoro::Task<> scan(std::optional<int> keepDays = std::nullopt);
    // The signed-in account changed: the queue stops for the one that left and the cards follow.
    void accountChanged();

    [[nodiscard]] const QList<PendingUpload>& cards() const { return m_cards; }
    [[nodiscard]] std::optional<PendingUpload> card(const QString& folder) const;
    // True while a recording is being sent.
    [[nodiscard]] bool isUploading() const;
    [[nodiscard]] UploadQueue* queue() const { return m_queue; }
    [[nodiscard]] RecordingRecovery* recovery() const { return m_recovery; }

    // "Retry" on a failed card, or on the notification of a failed upload; its tracks are
    // exported again first when they never came out.
    Q_INVOKABLE void retry(const QString& folder);
    // "✕": the card goes away for now; nothing on disk changes.
    Q_INVOKABLE void dismiss(const QString& folder);
    // "✕" on a failed card once the user answered, or "Discard" on an interrupted one: the files
    // stay and the session is not offered again, or they go to the trash. False when it could not
    // (it is being uploaded, or the trash refused).
    Q_INVOKABLE bool discard(const QString& folder, bool keepFiles);
    // "VIEW TRANSCRIPT →": the card goes away and the note opens.
    Q_INVOKABLE void viewTranscript(const QString& folder);
    // "Upload" on an interrupted recording's card.
    Q_INVOKABLE void upload(const QString& folder);
    [[nodiscard]] QVariantList interruptedList() const;
    [[nodiscard]] QString signedOutQuestion() const;
    // The answers to signedOutQuestion.
    Q_INVOKABLE void uploadSignedOut();
    Q_INVOKABLE void notNow();

signals:
    void cardsChanged();
    void interruptedChanged();
    void signedOutQuestionChanged();
    // A recording's note has come back from the service.
    void noteReady(qint64 noteId, const QString& title);
    void openNote(qint64 noteId);
    // A session's upload ended in failure.
    void uploadFailed(const QString& folder, const QString& message);

private:
    QCoro::Task<> resume();
    QCoro::Task<> exportAgainAndRetry(QString folder);
    QCoro::Task<> followUp(QString folder, std::optional<qint64> noteId, QDateTime since);
    void sessionStopping(const QString& folder, double seconds, const std::optional<Owner>& owner);
    void sessionStopped(const SessionJournal& journal);
    void statusChanged(const QString& folder, const UploadStatus& status);
    // Where a session stands for the signed-in account: its card (and upload), or the question.
    void place(const SessionJournal& journal);
    [[nodiscard]] bool isMine(const std::optional<Owner>& owner) const;
    [[nodiscard]] qsizetype cardIndex(const QString& folder) const;
    [[nodiscard]] PendingUpload* cardAt(const QString& folder);
    void putCard(PendingUpload card);
    void setStatus(const QString& folder, const UploadStatus& status);
    void removeCard(const QString& folder);
    // Asks the signed-in account about a session recorded while nobody was signed in.
    void offerSignedOut(const QString& folder);
    void setUnowned(QStringList folders);

    QPointer<AudioRecorder> m_recorder;
    AccountSource m_account;
    TokenProvider m_tokens;
    QString m_folder;
    Timings m_timings;
    UploadPipeline* m_pipeline = nullptr;
    UploadQueue* m_queue = nullptr;
    RecordingRecovery* m_recovery = nullptr;
    NoteFinder m_findNote;
    QList<PendingUpload> m_cards;
    // Sessions recorded while signed out, offered to the signed-in account.
    QStringList m_unowned;
    // The account the cards are for; counts changes so that work begun for another one stops.
    QString m_accountId;
    quint64 m_generation = 0;
};
