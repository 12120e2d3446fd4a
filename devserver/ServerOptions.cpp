#include "ServerOptions.h"

#include <QCommandLineParser>
#include <QDir>
#include <QStandardPaths>
#include <QStringList>

#include <limits>
#include <optional>

using namespace Qt::StringLiterals;

namespace {

// A whole number within [min, max], or nothing.
std::optional<qint64> number(const QString& text, qint64 min, qint64 max)
{
    bool ok = false;
    const qint64 value = text.toLongLong(&ok);
    if (!ok || value < min || value > max)
        return std::nullopt;
    return value;
}

}

std::variant<ServerOptions, ServerOptions::Exit> ServerOptions::parse(int argc, char** argv)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(u"Local stand-in for the Echoquill service and its blob store, on 127.0.0.1."_s);
    parser.addHelpOption();
    const QCommandLineOption port(u"port"_s, u"Port to listen on; 0 picks a free one (default 8787)."_s, u"N"_s);
    const QCommandLineOption data(
        u"data"_s, u"Folder for the database and the blobs (default: the user's data folder)."_s, u"DIR"_s);
    const QCommandLineOption ephemeral(u"ephemeral"_s, u"Keep everything in memory and a temporary folder."_s);
    const QCommandLineOption controls(u"dev-controls"_s, u"Serve the test controls under /__dev/."_s);
    const QCommandLineOption processing(
        u"processing-seconds"_s, u"Delay before an uploaded recording becomes a note (default 30)."_s, u"S"_s);
    const QCommandLineOption codeValidity(
        u"code-validity-seconds"_s, u"How long a one-time code is valid (default 600)."_s, u"S"_s);
    const QCommandLineOption codeTries(
        u"code-tries"_s, u"Wrong tries before a one-time code is void (default 5)."_s, u"N"_s);
    const QCommandLineOption codeRequests(
        u"code-requests"_s, u"Code requests per address within the window (default 5)."_s, u"N"_s);
    const QCommandLineOption codeWindow(
        u"code-request-window-seconds"_s, u"The window the code requests are counted in (default 600)."_s, u"S"_s);
    const QCommandLineOption logSecrets(
        u"log-secrets"_s, u"Keep tokens and one-time codes in the request log of the test controls."_s);
    const QCommandLineOption tokenValidity(
        u"client-token-seconds"_s, u"How long an upload client token is valid (default 600)."_s, u"S"_s);
    const QCommandLineOption blobLimit(
        u"blob-limit-bytes"_s, u"Largest accepted blob body (default 2 GiB)."_s, u"BYTES"_s);
    parser.addOptions({ port, data, ephemeral, controls, processing, codeValidity, codeTries, codeRequests, codeWindow,
        logSecrets, tokenValidity, blobLimit });

    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    // Without an application object the parser does not know the program's name.
    const std::string help = parser.helpText().replace(u"<executable_name>"_s, u"echoquill-devserver"_s).toStdString();
    if (!parser.parse(arguments))
        return Exit { 2, parser.errorText().toStdString() + "\n\n" + help };
    if (parser.isSet(u"help"_s))
        return Exit { 0, help };
    if (!parser.positionalArguments().isEmpty())
        return Exit { 2, "unexpected argument: " + parser.positionalArguments().first().toStdString() };

    ServerOptions options;
    std::string bad;
    auto read = [&](const QCommandLineOption& option, qint64 min, qint64 max, auto& target) {
        if (!parser.isSet(option))
            return;
        if (const auto value = number(parser.value(option), min, max))
            target = std::remove_reference_t<decltype(target)>(*value);
        else if (bad.empty())
            bad = "--" + option.names().first().toStdString() + " needs a whole number from " + std::to_string(min)
                + " to " + std::to_string(max);
    };
    read(port, 0, 65535, options.port);
    read(processing, 0, 86400, options.processingSeconds);
    read(codeValidity, 0, 86400, options.codeValiditySeconds);
    read(codeTries, 1, 1000, options.codeTries);
    read(codeRequests, 1, 1000, options.codeRequests);
    read(codeWindow, 0, 86400, options.codeRequestWindowSeconds);
    read(tokenValidity, 0, 86400, options.clientTokenSeconds);
    read(blobLimit, 1, std::numeric_limits<qint64>::max(), options.blobLimitBytes);
    if (!bad.empty())
        return Exit { 2, bad };

    options.ephemeral = parser.isSet(ephemeral);
    options.devControls = parser.isSet(controls);
    options.logSecrets = parser.isSet(logSecrets);
    if (parser.isSet(data) && options.ephemeral)
        return Exit { 2, "--data and --ephemeral exclude each other" };
    if (!options.ephemeral) {
        const QString dir = parser.isSet(data)
            ? parser.value(data)
            : QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + u"/echoquill-devserver"_s;
        options.dataDir = QDir(dir).absolutePath().toStdString();
    }
    return options;
}
