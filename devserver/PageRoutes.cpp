#include "PageRoutes.h"

#include "Console.h"
#include "DemoData.h"
#include "HttpJson.h"
#include "Router.h"

namespace {

constexpr const char* style = R"css(
body { font-family: Inter, system-ui, sans-serif; background: #faf2e8; color: #1a1a1a; margin: 0; }
main { max-width: 380px; margin: 12vh auto; background: #fff; border-radius: 14px; padding: 32px;
       border: 1px solid rgba(0,0,0,.06); }
h1 { font-size: 22px; font-weight: 600; margin: 0 0 8px; }
p { color: #4a4a4a; font-size: 14px; line-height: 1.45; }
p.error { color: #b3261e; }
label { display: block; font-size: 12px; color: #7a7a7a; margin: 18px 0 6px; }
input { width: 100%; box-sizing: border-box; font-size: 15px; padding: 10px 12px; border-radius: 8px;
        border: 1px solid rgba(0,0,0,.15); }
button { margin-top: 16px; width: 100%; font-size: 15px; padding: 11px; border: 0; border-radius: 999px;
         background: #1a1a1a; color: #faf2e8; cursor: pointer; }
)css";

std::string page(const std::string& title, const std::string& content)
{
    return "<!doctype html><html lang=\"en\"><head><meta charset=\"utf-8\"><title>" + HttpJson::htmlEscape(title)
        + "</title><style>" + style + "</style></head><body><main><h1>" + HttpJson::htmlEscape(title) + "</h1>"
        + content + "</main></body></html>";
}

std::string emailForm(const std::string& action, const std::string& button, const std::string& value,
    const std::string& error, const std::string& state = {})
{
    return (error.empty() ? std::string() : "<p class=\"error\">" + HttpJson::htmlEscape(error) + "</p>")
        + "<form method=\"post\" action=\"" + action + "\">"
        + (state.empty() ? std::string()
                         : "<input type=\"hidden\" name=\"state\" value=\"" + HttpJson::htmlEscape(state) + "\">")
        + "<label for=\"email\">E-mail</label>"
        + "<input id=\"email\" name=\"email\" type=\"email\" placeholder=\"you@company.com\" value=\""
        + HttpJson::htmlEscape(value) + "\" required autofocus><button type=\"submit\">" + button + "</button></form>";
}

void html(httplib::Response& res, int status, const std::string& text)
{
    res.status = status;
    res.set_content(text, "text/html; charset=utf-8");
}

// One field of a submitted form; empty when it is missing.
std::string formField(const std::string& body, const std::string& name)
{
    httplib::Params fields;
    httplib::detail::parse_query_text(body, fields);
    const auto field = fields.find(name);
    return field == fields.end() ? std::string() : field->second;
}

std::string formEmail(const std::string& body)
{
    return formField(body, "email");
}

const std::string signInTitle = "Sign in to Echoquill";
const std::string signInText = "<p>This is the local Echoquill service standing in for Google sign-in. Enter the "
                               "address of the account to use; a new address makes a new account.</p>";
const std::string connectTitle = "Connect Google Calendar";
const std::string connectText = "<p>The local Echoquill service has no Google account to reach. Connecting here gives "
                                "the account a sample calendar.</p>";

}

PageRoutes::PageRoutes(Service& service)
    : m_service(service)
{
}

void PageRoutes::registerOn(Router& router)
{
    // The client's "state" goes through the form and comes back on the callback address.
    router.get("/desktop-auth", [](const httplib::Request& req, httplib::Response& res) {
        html(res, 200,
            page(signInTitle,
                signInText
                    + emailForm("/desktop-auth", "Continue", DemoData::email, {}, req.get_param_value("state"))));
    });
    router.post("/desktop-auth",
        [this](const httplib::Request&, httplib::Response& res, const std::string& body) { signIn(body, res); });
    router.get("/api/recall/calendar/connect", [](const httplib::Request&, httplib::Response& res) {
        html(res, 200,
            page(
                connectTitle, connectText + emailForm("/api/recall/calendar/connect", "Connect", DemoData::email, {})));
    });
    router.post("/api/recall/calendar/connect",
        [this](
            const httplib::Request&, httplib::Response& res, const std::string& body) { connectCalendar(body, res); });
}

void PageRoutes::signIn(const std::string& body, httplib::Response& res)
{
    const std::string typed = formEmail(body);
    const std::string state = formField(body, "state");
    const auto email = Accounts::normalizedEmail(typed);
    if (!email)
        return html(res, 400,
            page(signInTitle,
                signInText + emailForm("/desktop-auth", "Continue", typed, "Enter an e-mail address.", state)));
    const Account account = m_service.accounts.findOrCreate(*email);
    const std::string token = m_service.accounts.openSession(account.id);
    Console::line("signed in " + account.email + " through the sign-in page");
    // The client's sign-in window stops at this address and reads the token from it.
    res.status = 302;
    res.set_header("Location",
        "echoquill://auth?"
            + (state.empty() ? std::string() : "state=" + httplib::detail::encode_query_param(state) + "&")
            + "token=" + token);
}

void PageRoutes::connectCalendar(const std::string& body, httplib::Response& res)
{
    const std::string typed = formEmail(body);
    const auto email = Accounts::normalizedEmail(typed);
    const auto account = email ? m_service.accounts.byEmail(*email) : std::nullopt;
    if (!account)
        return html(res, email ? 404 : 400,
            page(connectTitle,
                connectText
                    + emailForm("/api/recall/calendar/connect", "Connect", typed,
                        email ? "No account has this address; sign in from the app first."
                              : "Enter an e-mail address.")));
    m_service.calendar.setStatus(account->id, true, false);
    DemoData::fillEmptyCalendar(m_service.calendar, account->id, m_service.store.nowMs());
    Console::line("calendar connected for " + account->email);
    html(res, 200,
        page("Calendar connected",
            "<p>Google Calendar is connected for " + HttpJson::htmlEscape(account->email)
                + ". You can close this page and return to Echoquill.</p>"));
}
