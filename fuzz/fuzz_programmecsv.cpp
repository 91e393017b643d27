// A programme's CSV file as a spreadsheet or a person may have written it: any bytes, read against the
// built-in stages, a plan of a single stage or one whose descriptions two stages share. Nothing crashes. A
// refused file gives no talks and names a line within it. An accepted one holds 1 to 200 talks within the
// store's limits; its export reads back as the same talks and exports again byte for byte; its schedule
// and report are made at any clock state, past midnight.
#include "fuzzinput.h"
#include "programme/programmecsv.h"
#include "programme/programmereport.h"
#include "programme/schedule.h"

#include <algorithm>

namespace {

ClockSetting planOf(std::uint8_t choice)
{
    ClockSetting plan = DefaultClockSetting(QStringLiteral("/opt/kestrim"));
    if (choice % 3 == 1) {
        plan.Stages.resize(1);
    } else if (choice % 3 == 2) {
        plan.stage(2).Description = QStringLiteral("Questions");
        plan.stage(3).Description = QStringLiteral(" questions ");
    }
    return plan;
}

QString show(QByteArrayView bytes)
{
    return QString::fromLatin1(bytes.toByteArray().toPercentEncoding(" ,;\"\r\n"));
}

bool withinLimits(const Talk &talk, const ClockSetting &plan)
{
    return talk.title.size() <= MaxTalkTextLength && talk.speaker.size() <= MaxTalkTextLength &&
           talk.lengths.size() <= plan.Stages.size() && (!talk.start || talk.start->second() == 0) &&
           std::all_of(talk.lengths.cbegin(), talk.lengths.cend(),
                       [](std::int32_t s) { return s >= 0 && s <= MaxTalkStageSeconds; });
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FuzzInput input(data, size);
    const std::uint8_t mode = input.byte();
    const ClockSetting plan = planOf(mode);
    const QByteArray file =
        QByteArray(reinterpret_cast<const char *>(data + (size > 0)), static_cast<qsizetype>(size - (size > 0)));

    const ProgrammeCsvImport read = importProgrammeCsv(file, plan);
    if (read.error) {
        FUZZ_CHECK(read.talks.empty(), show(file));
        const std::int32_t lines = static_cast<std::int32_t>(file.count('\n') + file.count('\r')) + 1;
        FUZZ_CHECK(read.error->line >= 0 && read.error->line <= lines && read.error->column >= 0, show(file));
        FUZZ_CHECK(!read.error->message().isEmpty(), show(file));
        return 0;
    }
    FUZZ_CHECK(!read.talks.empty() && read.talks.size() <= std::size_t(MaxTalks), show(file));
    for (const Talk &talk : read.talks)
        FUZZ_CHECK(withinLimits(talk, plan) && talk.record.empty(), show(file));

    const QByteArray exported = exportProgrammeCsv(read.talks, plan);
    const ProgrammeCsvImport back = importProgrammeCsv(exported, plan);
    FUZZ_CHECK(!back.error, back.error->message() + u' ' + show(exported));
    FUZZ_CHECK(back.talks == read.talks, show(file) + QStringLiteral(" -> ") + show(exported));
    FUZZ_CHECK(exportProgrammeCsv(back.talks, plan) == exported, show(exported));

    Programme programme;
    programme.talks = read.talks;
    programme.sessionStart = mode & 0x80 ? std::optional(QTime(23, 30)) : std::nullopt;
    programme.current = 1 + (mode >> 2) % programme.count();
    const TalkClock clock{ClockState((mode >> 3) % 3), (mode >> 4) * 600};
    const Schedule schedule = computeSchedule(programme, plan, clock, QDateTime(QDate(2024, 5, 6), QTime(23, 50)));
    FUZZ_CHECK(schedule.talks.size() == read.talks.size() && schedule.expectedEnd.isValid(), show(file));
    FUZZ_CHECK(programmeReportCsv(programme, schedule).count("\r\n") >= programme.count() + 2, show(file));
    return 0;
}
