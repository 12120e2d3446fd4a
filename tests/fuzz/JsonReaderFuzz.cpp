// Arbitrary bytes through the record reader as each reply the client reads.
// Rejecting them is fine, but the only allowed failure is Json::DecodingError;
// a record that decodes holds valid dates; a reply read in place reads exactly
// as through QJsonDocument (the same records or the same failure); and a list
// reads each row exactly as that row would be read on its own (rows share
// remembered key positions).
#include "ActionListItem.h"
#include "EQTask.h"
#include "EQUser.h"
#include "JsonReader.h"
#include "MeetingNote.h"
#include "MeetingNoteDetail.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <tuple>

using namespace Qt::StringLiterals;

namespace {

// The service's reply envelope, as the stores read it.
template <class T> struct Envelope {
    std::optional<bool> success;
    std::optional<T> data;
    static Envelope fromJson(const Json::ObjectReader& r)
    {
        return { r.optional<bool>("success"_L1), r.optional<T>("data"_L1) };
    }
};

void require(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "broken invariant: %s\n", what);
        std::abort();
    }
}

// Every field, since the records compare by identity only.
auto fields(const MeetingNote& n)
{
    return std::tie(
        n.id, n.source, n.title, n.participants, n.duration, n.snippet, n.time, n.createdDateTime, n.status);
}
auto fields(const ActionListItem& a)
{
    return std::tie(a.id, a.meetingId, a.meetingSource, a.meetingTitle, a.meetingDate, a.who, a.what, a.due, a.done);
}
auto fields(const EQTask& t)
{
    return std::tie(t.id, t.name, t.isActive, t.logo, t.yellowAfterSeconds, t.redAfterSeconds, t.statusChangedAt);
}
auto fields(const EQUser& u)
{
    return std::tie(u.id, u.name, u.email, u.freeCredits, u.paidCredits, u.topUpCredits, u.currentStreak,
        u.longestStreak, u.isFounder, u.googlePicture);
}

template <class T> bool same(const T& a, const T& b)
{
    if constexpr (requires { fields(a); })
        return fields(a) == fields(b);
    else
        return a == b;
}
template <class T> bool same(const QList<T>& a, const QList<T>& b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const T& x, const T& y) { return same(x, y); });
}
template <class T> bool same(const Envelope<T>& a, const Envelope<T>& b)
{
    return a.success == b.success && a.data.has_value() == b.data.has_value() && (!a.data || same(*a.data, *b.data));
}

void check(const MeetingNote& n)
{
    require(n.createdDateTime.isValid(), "meeting date");
}
void check(const MeetingNoteDetail& d)
{
    require(d.createdDateTime.isValid(), "detail date");
}
void check(const ActionListItem& a)
{
    require(a.meetingDate.isValid(), "action date");
}
void check(const EQTask& t)
{
    require(t.statusChangedAt.isValid(), "task date");
}
void check(const EQUser&)
{
}

template <class T> void check(const QList<T>& list)
{
    for (const T& item : list)
        check(item);
}

template <class T> void check(const Envelope<T>& e)
{
    if (e.data)
        check(*e.data);
}

struct Failure {
    Json::DecodingError::Kind kind;
    QString path;
    QString detail;
    bool operator==(const Failure&) const = default;
};

template <class T> void decodeAs(const QByteArray& bytes, const QJsonValue& root)
{
    std::optional<T> read, inPlace;
    std::optional<Failure> failure, inPlaceFailure;
    try {
        read = Json::Decoder<T>::decode(root, Json::Path {});
        check(*read);
    } catch (const Json::DecodingError& e) {
        require(!e.description().isEmpty() && e.what()[0] != '\0', "error description");
        failure = Failure { e.kind(), e.codingPath(), e.detail() };
    }
    try {
        inPlace = Json::decode<T>(bytes);
    } catch (const Json::DecodingError& e) {
        inPlaceFailure = Failure { e.kind(), e.codingPath(), e.detail() };
    }
    require(failure == inPlaceFailure && (!read || same(*read, *inPlace)), "read in place as through QJsonDocument");
}

// Reads `root` as a list of T and each of its elements alone: the list holds
// the same rows, or fails where its first failing row does.
template <class T> void decodeRowsAlone(const QByteArray& bytes, const QJsonValue& root)
{
    decodeAs<QList<T>>(bytes, root);
    if (!root.isArray())
        return;
    std::optional<QList<T>> list;
    std::optional<Failure> listFailure;
    try {
        list = Json::Decoder<QList<T>>::decode(root, Json::Path {});
    } catch (const Json::DecodingError& e) {
        listFailure = Failure { e.kind(), e.codingPath(), e.detail() };
    }
    const QJsonArray array = root.toArray();
    for (qsizetype k = 0; k < array.size(); ++k) {
        const QJsonValue element = array.at(k);
        const QString at = u'[' + QString::number(k) + u']';
        std::optional<Failure> alone;
        T row;
        if (element.isNull()) {
            alone = Failure { Json::DecodingError::ValueNotFound, at, u"Expected a value but found null."_s };
        } else {
            try {
                row = Json::Decoder<T>::decode(element, Json::Path {});
            } catch (const Json::DecodingError& e) {
                alone = Failure { e.kind(), e.codingPath().isEmpty() ? at : at + u'.' + e.codingPath(), e.detail() };
            }
        }
        if (alone) {
            require(listFailure && listFailure->kind == alone->kind && listFailure->path == alone->path
                    && listFailure->detail == alone->detail,
                "the list fails where its first failing row fails");
            return;
        }
        require(!list || fields(list->at(k)) == fields(row), "a row reads as it reads alone");
    }
    require(list && list->size() == array.size(), "a list of good rows decodes");
}

}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    QJsonValue root;
    try {
        root = Json::parse(bytes);
    } catch (const Json::DecodingError&) {
        require(!Json::JsonTree::index(bytes), "text that QJsonDocument refuses is not read in place");
        return 0;
    }
    decodeAs<Envelope<QList<MeetingNote>>>(bytes, root);
    decodeAs<Envelope<MeetingNoteDetail>>(bytes, root);
    decodeAs<Envelope<QList<ActionListItem>>>(bytes, root);
    decodeAs<Envelope<QList<EQTask>>>(bytes, root);
    decodeAs<MeetingNoteDetail>(bytes, root);
    decodeAs<EQUser>(bytes, root);
    decodeRowsAlone<MeetingNote>(bytes, root);
    decodeRowsAlone<ActionListItem>(bytes, root);
    decodeRowsAlone<EQTask>(bytes, root);
    return 0;
}
