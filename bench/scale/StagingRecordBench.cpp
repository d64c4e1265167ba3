// What the staging record costs a paste: the reading at its start, and a note and its drop for each
// item it stages, with a second record (as a second running copy of the program has) holding the
// file open.
//
//   quillbarrow_bench_staging_record [--items N] [--rounds N] [--old-notes N]
//
// Rows, each the median of the rounds (every round starts from a new record file):
//   reading after N items came and went (10,000 by default): one record notes and drops N items
//       while a second one holds the file open with an item of its own noted; then the reading a
//       paste's start makes (StagingRecord::known) is timed, with the size of the file it read.
//   reading at the record's largest: the file holds the most items it keeps (maximumItems) and as
//       many dropped notes beside them as it may gather before a note rewrites it; the reading
//       rewrites it.
//   first and second reading of an older program's record of N live notes (500,000 by default):
//       what an older program left beside a second running copy, read (and rewritten) once.
//   a note and its drop, alone and beside the second record: N items noted and dropped, per item.
// Each reading is checked to give the items noted. Prints detail lines and a Markdown table; exits
// 1 when something fails. Never judges a time.

#include "../Samples.h"
#include "async/Allocator.h"
#include "viewmodels/transfers/StagingRecord.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <QTemporaryDir>
#include <QUuid>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <optional>
#include <stdexcept>

namespace quillbarrow {

namespace {

using Clock = std::chrono::steady_clock;
using Note = StagingRecord::Note;

struct Options {
    int items = 10'000;
    int rounds = 5;
    int oldNotes = 500'000;
};

void say(const QString& text)
{
    std::fprintf(stdout, "%s\n", text.toUtf8().constData());
    std::fflush(stdout);
}

void require(bool condition, const QString& what)
{
    if (!condition) {
        throw std::runtime_error(what.toStdString());
    }
}

// A note as a copy into a folder of the user's makes it, with numbers of the sizes a disk gives.
Note noteOf(qint64 index)
{
    const qint64 born = 1'796'822'581'000'000'000 + index * 1'000;
    return Note{{65025, quint64(10'000'000 + index), born},
                std::nullopt,
                {65025, 10'953'442, 1'796'822'500'123'456'789},
                ".quillbarrow-" + QUuid::createUuid().toByteArray(QUuid::WithoutBraces) + ".copying"};
}

double seconds(const std::function<void()>& work)
{
    const Clock::time_point start = Clock::now();
    work();
    return std::chrono::duration<double>(Clock::now() - start).count();
}

struct Row {
    QString what;
    Samples time;
    Samples bytes;
    QString unit = QStringLiteral("ms");
};

void writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    require(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size(),
            QStringLiteral("cannot write ") + path);
}

// One round of each row, added to `rows`.
void round(const Options& options, QList<Row>& rows)
{
    QTemporaryDir temp;
    require(temp.isValid(), QStringLiteral("cannot make a temporary folder"));
    int made = 0;
    const auto file = [&] { return temp.filePath(QStringLiteral("state-%1/staging-items").arg(++made)); };

    {
        StagingRecord record(file());
        StagingRecord second(record.file());
        const Note others = noteOf(-1);
        require(second.add(others), QStringLiteral("the second record takes no note"));
        for (qint64 index = 0; index < options.items; ++index) {
            const Note note = noteOf(index);
            record.add(note);
            record.remove(note);
        }
        const qint64 size = QFileInfo(record.file()).size();
        QList<Note> known;
        rows[0].time.add(seconds([&] { known = record.known(); }) * 1e3);
        rows[0].bytes.add(double(size));
        require(known == QList<Note>{others}, QStringLiteral("the reading after the items came and went is wrong"));
    }
    {
        StagingRecord record(file());
        QByteArray text;
        QList<Note> live;
        for (qint64 index = 0; index < StagingRecord::maximumItems; ++index) {
            live.append(noteOf(index));
        }
        StagingRecord writer(temp.filePath(QStringLiteral("lines")));
        for (const Note& note : std::as_const(live)) {
            writer.add(note);
        }
        QFile lines(writer.file());
        require(lines.open(QIODevice::ReadOnly), QStringLiteral("cannot read the lines written"));
        text = lines.readAll();
        const qint64 mark = text.size() + StagingRecord::growthBeforeRewrite;
        for (qint64 index = StagingRecord::maximumItems; text.size() < mark; ++index) {
            const QByteArray line = noteOf(index).name; // a dropped pair: its note and its drop
            text += "+ 1 " + QByteArray::number(index) + " 7 - 1 2 7 " + line + "\n- 1 " + QByteArray::number(index) +
                    " 7 - 1 2 7 " + line + '\n';
        }
        writeFile(record.file(), text);
        QList<Note> known;
        rows[1].time.add(seconds([&] { known = record.known(); }) * 1e3);
        rows[1].bytes.add(double(text.size()));
        require(known == live, QStringLiteral("the reading at the record's largest is wrong"));
    }
    {
        StagingRecord record(file());
        QByteArray text;
        text.reserve(qsizetype(options.oldNotes) * 40);
        for (qint64 index = 0; index < options.oldNotes; ++index) {
            text += "+ 65025 " + QByteArray::number(10'000'000 + index) + " 1796822581" +
                    QByteArray::number(100'000'000 + index) + '\n';
        }
        writeFile(record.file(), text);
        QList<Note> first;
        QList<Note> second;
        rows[2].time.add(seconds([&] { first = record.known(); }) * 1e3);
        rows[2].bytes.add(double(text.size()));
        const qint64 rewritten = QFileInfo(record.file()).size();
        rows[3].time.add(seconds([&] { second = record.known(); }) * 1e3);
        rows[3].bytes.add(double(rewritten));
        require(first.size() == std::min<qsizetype>(options.oldNotes, StagingRecord::maximumItems) && second == first,
                QStringLiteral("the older program's record is not read to its newest items"));
    }
    for (const bool beside : {false, true}) {
        StagingRecord record(file());
        std::optional<StagingRecord> second;
        if (beside) {
            second.emplace(record.file());
            require(second->add(noteOf(-1)), QStringLiteral("the second record takes no note"));
        }
        QList<Note> notes;
        for (qint64 index = 0; index < options.items; ++index) {
            notes.append(noteOf(index));
        }
        bool noted = true;
        const double total = seconds([&] {
            for (const Note& note : std::as_const(notes)) {
                noted = record.add(note) && noted;
                record.remove(note);
            }
        });
        require(noted, QStringLiteral("a note could not be written"));
        Row& row = rows[beside ? 5 : 4];
        row.time.add(total * 1e6 / options.items);
        row.bytes.add(double(QFileInfo(record.file()).size()));
        require(record.known().size() == (beside ? 1 : 0), QStringLiteral("notes were left after their drops"));
    }
}

[[noreturn]] void usage()
{
    std::fputs("usage: quillbarrow_bench_staging_record [--items N] [--rounds N] [--old-notes N]\n"
               "Times the staging record's reading at a paste's start and a note with its drop, beside a\n"
               "second record holding the file open (default 10000 items, 5 rounds, 500000 old notes).\n",
               stderr);
    std::exit(2);
}

Options parse(int argc, char** argv)
{
    Options options;
    const std::pair<const char*, int*> named[] = {
        {"--items", &options.items}, {"--rounds", &options.rounds}, {"--old-notes", &options.oldNotes}};
    for (int index = 1; index < argc; index += 2) {
        const auto option = std::find_if(std::begin(named), std::end(named),
                                         [&](const auto& known) { return std::strcmp(known.first, argv[index]) == 0; });
        bool ok = option != std::end(named) && index + 1 < argc;
        const int value = ok ? QByteArray(argv[index + 1]).toInt(&ok) : 0;
        if (!ok || value < 1) {
            usage();
        }
        *option->second = value;
    }
    return options;
}

// Runs the rounds and prints the rows; the exit code.
int run(const Options& options)
{
    QList<Row> rows{
        {QStringLiteral("reading after %1 items came and went beside a second record").arg(options.items), {}, {}},
        {QStringLiteral("reading at the record's largest (%1 items noted)").arg(StagingRecord::maximumItems), {}, {}},
        {QStringLiteral("first reading of an older program's %1 notes").arg(options.oldNotes), {}, {}},
        {QStringLiteral("second reading of it"), {}, {}},
        {QStringLiteral("a note and its drop, alone"), {}, {}, QStringLiteral("µs")},
        {QStringLiteral("a note and its drop, beside a second record"), {}, {}, QStringLiteral("µs")},
    };
    try {
        for (int index = 0; index < options.rounds; ++index) {
            round(options, rows);
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "quillbarrow_bench_staging_record: %s\n", error.what());
        return 1;
    }
    for (const Row& row : std::as_const(rows)) {
        say(QStringLiteral("detail: %1: %2 %3").arg(row.what, row.time.listed(3), row.unit));
    }
    say(QStringLiteral("| what | time | the file's size (after, for a note) |"));
    say(QStringLiteral("|---|---|---|"));
    for (const Row& row : std::as_const(rows)) {
        say(QStringLiteral("| %1 | %2 %3 | %4 bytes |")
                .arg(row.what)
                .arg(row.time.median(), 0, 'f', 3)
                .arg(row.unit)
                .arg(row.bytes.median(), 0, 'f', 0));
    }
    return 0;
}

} // namespace

} // namespace quillbarrow

int main(int argc, char** argv)
{
    quillbarrow::configureAllocator(); // as the program sets it, before anything allocates
    return quillbarrow::run(quillbarrow::parse(argc, argv));
}
