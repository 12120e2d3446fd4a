#include "X11ForegroundReader.h"

#include <QDeadlineTimer>
#include <QHash>
#include <QStringDecoder>

#include <xcb/xcb.h>
#include <xcb/xcb_ewmh.h>
#include <xcb/xcbext.h>

#include <poll.h>

#include <cstdlib>
#include <initializer_list>
#include <thread>
#include <vector>

namespace {

// Longest property value read, in 32-bit units: enough for any window title worth showing.
constexpr uint32_t kMaxPropertyLength = 1024;

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};

// One GetProperty answer; no reply means the server refused the request (e.g. the window is gone).
struct Property {
    std::unique_ptr<xcb_get_property_reply_t, FreeDeleter> reply;

    [[nodiscard]] bool failed() const { return !reply; }
    [[nodiscard]] bool isSet() const { return reply && reply->type != XCB_ATOM_NONE; }

    [[nodiscard]] std::optional<uint32_t> firstValue(xcb_atom_t type) const
    {
        if (!isSet() || reply->type != type || reply->format != 32 || xcb_get_property_value_length(reply.get()) < 4)
            return std::nullopt;
        return *static_cast<const uint32_t*>(xcb_get_property_value(reply.get()));
    }

    [[nodiscard]] std::optional<QByteArray> bytes() const
    {
        if (!isSet() || reply->format != 8)
            return std::nullopt;
        return QByteArray(
            static_cast<const char*>(xcb_get_property_value(reply.get())), xcb_get_property_value_length(reply.get()));
    }
};

// Clients label UTF-8 as STRING as often as they write real Latin-1, so anything
// that is valid UTF-8 is read as such.
QString decodeText(const Property& property, xcb_atom_t utf8String)
{
    QByteArray bytes = *property.bytes();
    while (bytes.endsWith('\0'))
        bytes.chop(1);
    if (property.reply->type == utf8String)
        return QString::fromUtf8(bytes);
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8(bytes);
    return utf8.hasError() ? QString::fromLatin1(bytes) : text;
}

}

class X11ForegroundReader::Connection {
public:
    struct Request {
        xcb_window_t window;
        xcb_atom_t property;
        xcb_atom_t type;
    };

    static std::unique_ptr<Connection> open(const QByteArray& displayName)
    {
        int screen = 0;
        xcb_connection_t* c = xcb_connect(displayName.isEmpty() ? nullptr : displayName.constData(), &screen);
        std::unique_ptr<Connection> connection(new Connection(c));
        if (connection->isBroken())
            return nullptr;
        xcb_intern_atom_cookie_t* cookies = xcb_ewmh_init_atoms(c, &connection->ewmh);
        if (!cookies || !xcb_ewmh_init_atoms_replies(&connection->ewmh, cookies, nullptr))
            return nullptr;
        connection->m_ewmhReady = true;
        if (screen < 0 || screen >= connection->ewmh.nb_screens)
            return nullptr;
        connection->root = connection->ewmh.screens[screen]->root;
        return connection;
    }

    ~Connection()
    {
        if (m_ewmhReady)
            xcb_ewmh_connection_wipe(&ewmh);
        xcb_disconnect(m_c);
    }

    [[nodiscard]] bool isBroken() const { return xcb_connection_has_error(m_c) != 0; }

    // Sends the requests together and collects their answers in order. Absent when
    // the connection broke or the deadline passed; unanswered requests are dropped.
    std::optional<std::vector<Property>> getProperties(
        std::initializer_list<Request> requests, const QDeadlineTimer& deadline)
    {
        std::vector<unsigned int> sequences;
        for (const Request& r : requests)
            sequences.push_back(xcb_get_property(m_c, 0, r.window, r.property, r.type, 0, kMaxPropertyLength).sequence);
        xcb_flush(m_c);

        std::vector<Property> answers;
        for (size_t i = 0; i < sequences.size(); ++i) {
            void* reply = nullptr;
            xcb_generic_error_t* error = nullptr;
            if (!waitForReply(sequences[i], deadline, &reply, &error)) {
                for (size_t j = i; j < sequences.size(); ++j)
                    xcb_discard_reply(m_c, sequences[j]);
                return std::nullopt;
            }
            std::free(error);
            answers.push_back({ decltype(Property::reply)(static_cast<xcb_get_property_reply_t*>(reply)) });
        }
        discardEvents();
        return answers;
    }

    xcb_ewmh_connection_t ewmh {};
    xcb_window_t root = XCB_WINDOW_NONE;

private:
    explicit Connection(xcb_connection_t* c)
        : m_c(c)
    {
    }

    // Never blocks past the deadline: xcb_wait_for_reply would wait forever on a stopped server.
    bool waitForReply(unsigned int sequence, const QDeadlineTimer& deadline, void** reply, xcb_generic_error_t** error)
    {
        for (;;) {
            if (xcb_poll_for_reply(m_c, sequence, reply, error))
                return !isBroken();
            if (deadline.hasExpired())
                return false;
            pollfd fd { xcb_get_file_descriptor(m_c), POLLIN, 0 };
            ::poll(&fd, 1, static_cast<int>(deadline.remainingTime()));
        }
    }

    // We select no events, but the server still sends some to every client; they would pile up.
    void discardEvents()
    {
        while (xcb_generic_event_t* event = xcb_poll_for_event(m_c))
            std::free(event);
    }

    xcb_connection_t* m_c;
    bool m_ewmhReady = false;
};

X11ForegroundReader::X11ForegroundReader(QByteArray displayName, std::chrono::milliseconds replyTimeout)
    : m_displayName(std::move(displayName))
    , m_replyTimeout(replyTimeout)
{
}

X11ForegroundReader::~X11ForegroundReader() = default;

X11ForegroundReader::Connection* X11ForegroundReader::connection(const QDeadlineTimer& deadline)
{
    if (m_connection && m_connection->isBroken())
        m_connection.reset();
    if (m_connection)
        return m_connection.get();
    // xcb_connect and the atom replies wait without a limit, so they run aside; an attempt
    // that outlasts the deadline is waited for again by the next call, never started twice.
    if (!m_opening.valid()) {
        std::promise<std::unique_ptr<Connection>> opened;
        m_opening = opened.get_future();
        std::thread([opened = std::move(opened), name = m_displayName]() mutable {
            opened.set_value(Connection::open(name));
        }).detach();
    }
    if (m_opening.wait_for(deadline.remainingTimeAsDuration()) != std::future_status::ready)
        return nullptr;
    m_connection = m_opening.get();
    return m_connection.get();
}

std::optional<FrontmostApplication> X11ForegroundReader::frontmostApplication()
{
    const QDeadlineTimer deadline(m_replyTimeout);
    Connection* x = connection(deadline);
    if (!x)
        return std::nullopt;

    const auto active = x->getProperties({ { x->root, x->ewmh._NET_ACTIVE_WINDOW, XCB_ATOM_WINDOW } }, deadline);
    if (!active)
        return std::nullopt;
    const auto window = active->front().firstValue(XCB_ATOM_WINDOW);
    if (!window || *window == XCB_WINDOW_NONE)
        return std::nullopt;

    const auto properties = x->getProperties(
        {
            { *window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING },
            { *window, x->ewmh._NET_WM_PID, XCB_ATOM_CARDINAL },
        },
        deadline);
    if (!properties || (*properties)[0].failed() || (*properties)[1].failed())
        return std::nullopt;

    FrontmostApplication application;
    if ((*properties)[0].bytes()) {
        // WM_CLASS holds the instance name, then the class name, each ending in a NUL.
        const QString names = decodeText((*properties)[0], x->ewmh.UTF8_STRING);
        application.windowClass = names.section(QChar(0), 1, 1);
    }
    application.localizedName = applicationName(application.windowClass);
    application.processIdentifier = (*properties)[1].firstValue(XCB_ATOM_CARDINAL).value_or(0);
    application.window = *window;
    return application;
}

std::optional<QString> X11ForegroundReader::focusedWindowTitle(const FrontmostApplication& application)
{
    // Only frontmostApplication() reconnects, so one poll costs at most one connection attempt.
    if (!m_connection || m_connection->isBroken())
        return std::nullopt;
    Connection& x = *m_connection;
    const auto titles = x.getProperties(
        {
            { application.window, x.ewmh._NET_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY },
            { application.window, XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY },
        },
        QDeadlineTimer(m_replyTimeout));
    if (!titles)
        return std::nullopt;
    for (const Property& title : *titles) {
        if (title.bytes())
            return decodeText(title, x.ewmh.UTF8_STRING);
    }
    return std::nullopt;
}

QString X11ForegroundReader::applicationName(const QString& windowClass)
{
    // Keys are lower-case: some applications changed the case of their class between versions.
    static const QHash<QString, QString> names {
        { QStringLiteral("google-chrome"), QStringLiteral("Google Chrome") },
        { QStringLiteral("chromium"), QStringLiteral("Chromium") },
        { QStringLiteral("chromium-browser"), QStringLiteral("Chromium") },
        { QStringLiteral("microsoft-edge"), QStringLiteral("Microsoft Edge") },
        { QStringLiteral("microsoft-edge-beta"), QStringLiteral("Microsoft Edge") },
        { QStringLiteral("firefox"), QStringLiteral("Firefox") },
        { QStringLiteral("firefox-esr"), QStringLiteral("Firefox") },
        { QStringLiteral("zoom"), QStringLiteral("Zoom") },
        { QStringLiteral("microsoft teams - preview"), QStringLiteral("Microsoft Teams") },
        { QStringLiteral("microsoft teams"), QStringLiteral("Microsoft Teams") },
        { QStringLiteral("teams-for-linux"), QStringLiteral("Teams for Linux") },
    };
    return names.value(windowClass.toLower(), windowClass);
}
