// Decoding a meetings list of 10,000 rows into records, next to a bare parse
// of the same bytes. The record reader should cost at most 1.5x the parse.
// ParseThenBuildRecords is the floor for any reader on top of QJsonDocument:
// the parse plus allocating the same records' strings, with no reading at all.
// The record reader walks the text once with simdjson and builds each string once from it.
// The table goes to standard error; standard output gets one "[figure]" line.
#include "MeetingNote.h"

#include <QJsonDocument>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <iostream>
#include <map>

namespace {

QByteArray makeReply(int rows)
{
    QByteArray out = R"({"success":true,"data":[)";
    for (int i = 0; i < rows; ++i) {
        if (i)
            out += ',';
        const bool snake = i % 2;
        const QByteArray created = snake ? "created_date_time" : "createdDateTime";
        const QByteArray date = QByteArray("2025-0") + QByteArray::number(1 + i % 9) + "-1" + QByteArray::number(i % 10)
            + "T0" + QByteArray::number(i % 10) + ":30:00" + (i % 3 ? ".123Z" : "+02:00");
        out += R"({"id":)" + QByteArray::number(100000 + i) + R"(,"source":")" + (i % 4 ? "desktop" : "zoom")
            + R"(","title":"Weekly sync with the platform team )" + QByteArray::number(i)
            + R"(","participants":["Ada Lovelace","Grace Hopper","Linus T"],"duration":"45 min","snippet":"We agreed to ship the export on Friday and to revisit the retry policy.","time":"9:30 AM",")"
            + created + R"(":")" + date + R"(","status":")" + (i % 5 ? "completed" : "processing")
            + R"(","is_pinned":false})";
    }
    out += "]}";
    return out;
}

struct Envelope {
    QList<MeetingNote> data;
    static Envelope fromJson(const Json::ObjectReader& r)
    {
        return { r.required<QList<MeetingNote>>(QLatin1StringView("data")) };
    }
};

const QByteArray& reply()
{
    static const QByteArray bytes = makeReply(10000);
    return bytes;
}

void BareJsonParse(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(QJsonDocument::fromJson(reply()));
}

void ParseThenBuildRecords(benchmark::State& state)
{
    const auto text = [](const char* latin1) { return QString::fromLatin1(latin1); };
    for (auto _ : state) {
        // Alive while the records are built and gone before them, as inside the reader.
        std::optional<QJsonDocument> document = QJsonDocument::fromJson(reply());
        benchmark::DoNotOptimize(document);
        QList<MeetingNote> notes;
        notes.reserve(10000);
        for (int i = 0; i < 10000; ++i) {
            MeetingNote n;
            n.id = 100000 + i;
            n.source = text("desktop");
            n.title = text("Weekly sync with the platform team 1234");
            n.participants = { text("Ada Lovelace"), text("Grace Hopper"), text("Linus T") };
            n.duration = text("45 min");
            n.snippet = text("We agreed to ship the export on Friday and to revisit the retry policy.");
            n.time = text("9:30 AM");
            // The date's text is read before it is parsed.
            n.createdDateTime = QDateTime::fromMSecsSinceEpoch(text("2025-01-10T00:30:00.123Z").size(), Qt::UTC);
            n.status = text("completed");
            notes.append(std::move(n));
        }
        document.reset();
        benchmark::DoNotOptimize(notes);
    }
}

void RecordReader(benchmark::State& state)
{
    for (auto _ : state) {
        const Envelope e = Json::decode<Envelope>(reply());
        if (e.data.size() != 10000)
            state.SkipWithError("wrong row count");
        benchmark::DoNotOptimize(e);
    }
}

// The console table, and each benchmark's time per iteration for the figure line.
class FigureReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs)
            if (!run.error_occurred && run.run_type == Run::RT_Iteration)
                milliseconds[run.run_name.function_name] = run.GetAdjustedRealTime();
    }
    std::map<std::string, double> milliseconds;
};

}

BENCHMARK(BareJsonParse)->Unit(benchmark::kMillisecond);
BENCHMARK(ParseThenBuildRecords)->Unit(benchmark::kMillisecond);
BENCHMARK(RecordReader)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    FigureReporter reporter;
    reporter.SetOutputStream(&std::cerr);
    reporter.SetErrorStream(&std::cerr);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const double parse = reporter.milliseconds["BareJsonParse"];
    const double floor = reporter.milliseconds["ParseThenBuildRecords"];
    const double reader = reporter.milliseconds["RecordReader"];
    if (parse > 0 && reader > 0 && floor > 0)
        std::printf("[figure] decoding 10,000 meeting rows: %.1f ms through the record reader, %.1f ms for a bare "
                    "QJsonDocument parse of the same %.1f MB (%.2fx the parse; aim: at most 1.5x); a reader on top of "
                    "QJsonDocument costs at least %.1f ms (%.2fx: the parse, then the same records' strings)\n",
            reader, parse, reply().size() / 1e6, reader / parse, floor, floor / parse);
    return 0;
}
