#include "Notes.h"

#include "Dates.h"

#include <QJsonDocument>

using namespace Qt::StringLiterals;

namespace {

constexpr const char* columns = "id, source, status, created_ms, doc";

QJsonObject parse(const std::string& text)
{
    return QJsonDocument::fromJson(QByteArray::fromStdString(text)).object();
}

std::string serialize(const QJsonObject& doc)
{
    return QJsonDocument(doc).toJson(QJsonDocument::Compact).toStdString();
}

// One row of `columns` as the fields every reply shares.
struct Row {
    std::int64_t id;
    QString source;
    QString status;
    std::int64_t createdMs;
    QJsonObject doc;

    explicit Row(const Statement& s)
        : id(s.integer(0))
        , source(QString::fromStdString(s.text(1)))
        , status(QString::fromStdString(s.text(2)))
        , createdMs(s.integer(3))
        , doc(parse(s.text(4)))
    {
    }

    [[nodiscard]] QJsonObject listRow() const
    {
        QJsonObject row {
            { u"id"_s, qint64(id) },
            { u"source"_s, source },
            { u"title"_s, doc[u"title"_s] },
            { u"participants"_s, doc[u"participants"_s].toArray() },
            { u"createdDateTime"_s, Dates::iso(createdMs) },
            { u"time"_s, Dates::clock(createdMs) },
            { u"status"_s, status },
        };
        for (const auto& key : { u"duration"_s, u"snippet"_s })
            if (doc.contains(key))
                row[key] = doc[key];
        return row;
    }

    [[nodiscard]] QJsonObject detail() const
    {
        QJsonObject detail = doc;
        detail[u"id"_s] = qint64(id);
        detail[u"source"_s] = source;
        detail[u"status"_s] = status;
        detail[u"createdDateTime"_s] = Dates::iso(createdMs);
        detail.remove(u"snippet"_s);
        return detail;
    }
};

// Runs `visit` for each ready note of the account, newest first.
template <class F> void forEachReadyNote(Database& db, const std::string& accountId, F&& visit)
{
    auto rows = db.prepare(std::string("SELECT ") + columns
        + " FROM notes WHERE account_id = ? AND status != 'processing' ORDER BY created_ms DESC, id DESC");
    rows.bind(1, accountId);
    while (rows.step())
        visit(Row(rows));
}

}

Notes::Notes(Store& store, Timings timings)
    : m_store(store)
    , m_timings(timings)
{
}

QString Notes::itemKey(const QJsonObject& item)
{
    return item.contains(u"id"_s) ? item[u"id"_s].toString() : item[u"what"_s].toString();
}

std::int64_t Notes::createProcessing(
    const std::string& accountId, const std::string& micBlob, const std::optional<std::string>& systemBlob)
{
    const std::int64_t now = m_store.nowMs();
    const QJsonObject doc {
        { u"title"_s, u"Desktop recording"_s },
        { u"participants"_s, QJsonArray() },
        { u"decisions"_s, QJsonArray() },
        { u"actionItems"_s, QJsonArray() },
        { u"topics"_s, QJsonArray() },
    };
    return m_store.locked([&](Database& db) {
        db.prepare("INSERT INTO notes (account_id, source, status, created_ms, ready_ms, mic_blob, system_blob, doc) "
                   "VALUES (?, 'desktop', 'processing', ?, ?, ?, ?, ?)")
            .bind(1, accountId)
            .bind(2, now)
            .bind(3, now + std::int64_t(m_timings.processingSeconds) * 1000)
            .bind(4, micBlob)
            .bind(5, systemBlob)
            .bind(6, serialize(doc))
            .run();
        return db.lastInsertId();
    });
}

std::vector<Notes::Pending> Notes::due(std::int64_t untilMs)
{
    return m_store.locked([&](Database& db) {
        std::vector<Pending> pending;
        auto rows = db.prepare("SELECT id, account_id, created_ms, mic_blob, system_blob FROM notes "
                               "WHERE status = 'processing' AND ready_ms <= ? ORDER BY id");
        rows.bind(1, untilMs);
        while (rows.step())
            pending.push_back({ rows.integer(0), rows.text(1), rows.integer(2), rows.text(3), rows.optionalText(4) });
        return pending;
    });
}

bool Notes::complete(std::int64_t id, const QJsonObject& doc)
{
    return m_store.locked([&](Database& db) {
        db.prepare("UPDATE notes SET status = 'completed', doc = ? WHERE id = ? AND status = 'processing'")
            .bind(1, serialize(doc))
            .bind(2, id)
            .run();
        return db.changes() > 0;
    });
}

QJsonArray Notes::list(const std::string& accountId)
{
    return m_store.locked([&](Database& db) {
        QJsonArray list;
        forEachReadyNote(db, accountId, [&](const Row& note) { list.append(note.listRow()); });
        return list;
    });
}

std::optional<QJsonObject> Notes::detail(
    const std::string& accountId, std::int64_t id, const std::optional<std::string>& source)
{
    return m_store.locked([&](Database& db) -> std::optional<QJsonObject> {
        auto row = db.prepare(std::string("SELECT ") + columns + " FROM notes WHERE account_id = ? AND id = ?");
        if (!row.bind(1, accountId).bind(2, id).step())
            return std::nullopt;
        if (source && row.text(1) != *source)
            return std::nullopt;
        return Row(row).detail();
    });
}

Notes::Update Notes::setActionItemDone(const std::string& accountId, std::int64_t noteId,
    const std::optional<std::string>& source, const std::string& itemKey, bool done)
{
    return m_store.locked([&](Database& db) {
        auto row = db.prepare("SELECT source, doc FROM notes WHERE account_id = ? AND id = ?");
        if (!row.bind(1, accountId).bind(2, noteId).step() || (source && row.text(0) != *source))
            return Update::NoNote;
        QJsonObject doc = parse(row.text(1));
        QJsonArray items = doc[u"actionItems"_s].toArray();
        const QString key = QString::fromStdString(itemKey);
        for (qsizetype i = 0; i < items.size(); ++i) {
            QJsonObject item = items[i].toObject();
            if (Notes::itemKey(item) != key)
                continue;
            item[u"done"_s] = done;
            items[i] = item;
            doc[u"actionItems"_s] = items;
            db.prepare("UPDATE notes SET doc = ? WHERE id = ?").bind(1, serialize(doc)).bind(2, noteId).run();
            return Update::Stored;
        }
        return Update::NoItem;
    });
}

QJsonArray Notes::actionItems(const std::string& accountId)
{
    return m_store.locked([&](Database& db) {
        QJsonArray list;
        forEachReadyNote(db, accountId, [&](const Row& note) {
            for (const auto& value : note.doc[u"actionItems"_s].toArray()) {
                const QJsonObject item = value.toObject();
                QJsonObject entry {
                    { u"id"_s, itemKey(item) },
                    { u"meetingId"_s, qint64(note.id) },
                    { u"meetingSource"_s, note.source },
                    { u"meetingTitle"_s, note.doc[u"title"_s] },
                    { u"meetingDate"_s, Dates::iso(note.createdMs) },
                    { u"who"_s, item[u"who"_s] },
                    { u"what"_s, item[u"what"_s] },
                    { u"done"_s, item[u"done"_s].toBool() },
                };
                if (item.contains(u"due"_s))
                    entry[u"due"_s] = item[u"due"_s];
                list.append(entry);
            }
        });
        return list;
    });
}

void Notes::seed(const std::string& accountId, const std::string& demoKey, const std::string& source,
    const std::string& status, std::int64_t createdMs, QJsonObject doc)
{
    m_store.locked([&](Database& db) {
        auto existing = db.prepare("SELECT doc FROM notes WHERE demo_key = ?");
        if (existing.bind(1, demoKey).step()) {
            // The user's ticks survive a restart; everything else is written afresh.
            QJsonObject done;
            for (const auto& value : parse(existing.text(0))[u"actionItems"_s].toArray())
                done[itemKey(value.toObject())] = value.toObject()[u"done"_s];
            QJsonArray items = doc[u"actionItems"_s].toArray();
            for (auto&& value : items) {
                QJsonObject item = value.toObject();
                if (done.contains(itemKey(item)))
                    item[u"done"_s] = done[itemKey(item)];
                value = item;
            }
            doc[u"actionItems"_s] = items;
            db.prepare("UPDATE notes SET source = ?, status = ?, created_ms = ?, doc = ? WHERE demo_key = ?")
                .bind(1, source)
                .bind(2, status)
                .bind(3, createdMs)
                .bind(4, serialize(doc))
                .bind(5, demoKey)
                .run();
            return;
        }
        db.prepare(
              "INSERT INTO notes (account_id, source, status, created_ms, demo_key, doc) VALUES (?, ?, ?, ?, ?, ?)")
            .bind(1, accountId)
            .bind(2, source)
            .bind(3, status)
            .bind(4, createdMs)
            .bind(5, demoKey)
            .bind(6, serialize(doc))
            .run();
    });
}
