// The journal tool called as its main calls it, on real files in a scratch folder: what it
// writes, what it prints and what it leaves alone.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <iterator>
#include <string>
#include <vector>

#include "cli/journal_io.h"
#include "cli/journal_tool.h"
#include "journal/journal_sections.h"
#include "journal/picture_file.h"
#include "platform/fake/fake_file.h"
#include "platform/input.h"
#include "tests/common/bytes.h"
#include "tests/common/folder_test.h"
#include "tests/common/journal_image.h"

namespace {

const std::string kTrackHeader("Quorvatellianis\0", 16);

using testkit::GetU32;
using testkit::JournalImage;

// A move, a key pressed and let go, two moves 5 ms apart, a click: at 0, 100, 150, 160, 165
// and 365 ms.
const std::vector<platform::EventRecord> kEvents = {
    {0x200, 10, 20, 1000, 0x11}, {0x100, 0x1E41, 1, 1100, 0x11}, {0x101, 0x1E41, 1, 1150, 0x11},
    {0x200, 30, 40, 1160, 0},    {0x200, 35, 45, 1165, 0},       {0x201, 35, 45, 1365, 0}};

const std::string kTrack = Pattern(10000, 7);

// Two windows of kEvents: the move and the click in the first, the key in the second.
const std::string kLedger =
    testkit::WindowEntry("ledger.exe", "LedgerMain", "Accounts", 10, 20, 810, 620, 120);
const std::string kDialog = testkit::WindowEntry("", "#32770", "Save As");
const std::vector<uint32_t> kWindowOf = {1, 2, 2, 0, 1, 1};

std::string Windowed(const std::vector<uint32_t>& windowOf = kWindowOf) {
    return JournalImage(kEvents, {.recordSize = 24,
                                  .table = testkit::WindowTable({kLedger, kDialog}),
                                  .windowOf = windowOf});
}

// A journal of `events` whose header holds `sections` (records name their window where it has a
// table).
std::string WithSections(const std::vector<platform::EventRecord>& events,
                         const journal::HeaderSections& sections,
                         const std::vector<uint32_t>& windowOf = {}) {
    std::vector<uint8_t> extra = journal::EncodeHeaderBytes(sections);
    return JournalImage(events, {.recordSize = windowOf.empty() ? 20u : 24u,
                                 .table = std::string(extra.begin(), extra.end()),
                                 .windowOf = windowOf});
}

journal::ScreenPicture Picture(bool plain, uint32_t colour) {
    journal::ScreenPicture picture = {96, plain, {}};
    for (uint32_t i = 0; i < journal::kPicturePixels; i++)
        picture.pixels[i] = i % 3 ? colour : 0x000000;
    return picture;
}

// kEvents with the ledger's window entered elsewhere and moving back for the second of the
// moves 5 ms apart; a picture of the click; motion of every move, hidden and played.
std::string Sectioned() {
    platform::WindowInfo ledger = {}, dialog = {};
    snprintf(ledger.program, sizeof ledger.program, "ledger.exe");
    snprintf(ledger.windowClass, sizeof ledger.windowClass, "LedgerMain");
    snprintf(ledger.title, sizeof ledger.title, "Accounts");
    ledger.rect = {100, 100, 900, 700};
    ledger.dpi = 144;
    snprintf(dialog.windowClass, sizeof dialog.windowClass, "#32770");
    snprintf(dialog.title, sizeof dialog.title, "Save As");
    dialog.rect = {0, 0, 640, 480};
    dialog.dpi = 96;
    journal::HeaderSections sections;
    sections.windows = {ledger, dialog};
    sections.places = {{4, {10, 20, 810, 620}, 120}};
    sections.pictures = {{5, Picture(true, 0xFF8000)}};
    sections.motions = {
        {0, 1, 1, 0}, {3, 2, 2, journal::kMotionHidden}, {4, 3, 3, journal::kMotionPlayed}};
    sections.others = {{{'X', 'T', 'R', 'A'}, {1, 2, 3}}};
    return WithSections(kEvents, sections, kWindowOf);
}

struct Ran {
    int code;
    std::string out, err;
};

class JournalToolTest : public testkit::FolderTest {
  protected:
    void SetUp() override {
        fake::ResetFiles();
        EnterFolder();
        Write("a.Jnf", JournalImage(kEvents));
    }
    void TearDown() override { EXPECT_EQ(0, fake::OpenFileCount()); }
    // The scratch folder's own name.
    std::string Leaf() const { return folder.substr(folder.rfind('/') + 1); }

    Ran Run(std::vector<std::string> args) {
        args.insert(args.begin(), "qvjournal");
        std::vector<char*> argv;
        for (std::string& arg : args)
            argv.push_back(&arg[0]);
        FILE* out = tmpfile();
        FILE* err = tmpfile();
        Ran ran{RunJournalTool(int(argv.size()), argv.data(), out, err), Text(out), Text(err)};
        fclose(out);
        fclose(err);
        return ran;
    }
    // An edit whose output is out.Jnf.
    Ran RunToOut(std::vector<std::string> args) {
        args.insert(args.end(), {"-o", "out.Jnf"});
        return Run(args);
    }
    static std::string Text(FILE* file) {
        std::string text(size_t(ftell(file)), '\0');
        rewind(file);
        EXPECT_EQ(text.size(), fread(&text[0], 1, text.size(), file));
        return text;
    }
    // The times of a journal the tool wrote, after checking that its header is what Save
    // writes for those records.
    std::vector<uint32_t> Times(const std::string& path) {
        std::string bytes = Read(path);
        std::vector<uint32_t> times;
        EXPECT_EQ(kTrackHeader, bytes.substr(0, 16));
        uint32_t count = GetU32(bytes, 24);
        EXPECT_EQ(40u + 20u * count, bytes.size());
        for (uint32_t i = 0; i < count && 60 + 20 * i <= bytes.size(); i++)
            times.push_back(GetU32(bytes, 40 + 20 * i + 12));
        if (times.empty())
            return times;
        EXPECT_EQ(std::vector<uint32_t>(
                      {40, 20, times.front(), times.back(), times.back() - times.front()}),
                  std::vector<uint32_t>({GetU32(bytes, 16), GetU32(bytes, 20), GetU32(bytes, 28),
                                         GetU32(bytes, 32), GetU32(bytes, 36)}));
        return times;
    }
};

TEST_F(JournalToolTest, DumpThenBuildGivesBackEveryLoadableFileByteForByte) {
    std::vector<std::string> files = {QV_SOURCE_DIR "/samples/notepad_"};
    for (const auto& seed :
         std::filesystem::directory_iterator(QV_SOURCE_DIR "/tests/fuzz/corpus/journal"))
        files.push_back(seed.path().string());
    int loadable = 0;
    for (const std::string& file : files) {
        SCOPED_TRACE(file);
        Ran dump = Run({"dump", file, "-o", "text"});
        if (dump.code) {
            EXPECT_NE(std::string::npos, dump.err.find("not a journal the program loads"));
            continue;
        }
        loadable++;
        ASSERT_EQ(0, Run({"build", "text", "-o", "back.Jnf"}).code);
        EXPECT_EQ(Read(file), Read("back.Jnf"));
    }
    EXPECT_EQ(15, loadable);  // the sample and the corpus's valid seeds
}

TEST_F(JournalToolTest, ATextLineThatCannotBeReadIsNamedAndNothingIsWritten) {
    const struct {
        const char* text;
        const char* error;
    } kCases[] = {
        {"+10 key down A\nbogus 1\n", "line 2: expected an event (+GAP"},
        {"+x move 1,2", "line 1: expected the gap since the event before"},
        {"# note\r\n+5 move 1", "line 2: expected the screen position as X,Y, found '1'"},
        {"+5 key sideways A", "line 1: expected down or up, found 'sideways'"},
        {"+5 key down Nokey", "line 1: expected a key such as A"},
        {"+5 wheel 40000 1,2", "line 1: expected the wheel's turn"},
        {"+5 move 1,2 ext",
         "line 1: expected one of the fields msg-hi rel hidden confined played, in=N"},
        {"+5 key down A scan=0x1E scan=1", "line 1: the field 'scan' is given twice"},
        {"+5 move 1,2\nstart 5", "line 2: 'start' must come before the first event"},
        {"start 1\nstart 2", "line 2: a second 'start' line (the first is line 1)"},
        {"record-size 16", "line 1: expected a record size from 20 to 1048576"},
        {"record-size 24\n+5 move 1,2 pad=00112233445566", "line 2: pad= holds more bytes"},
        {"header-size 30", "would not load: header size 30 + 0 records x 20 bytes = 30, but"},
        {"win 2 class=\"A\"", "line 1: expected the window's number, 1, found '2'"},
        {"win 1 title=\"a\"b\"", "line 1: expected program=\"NAME\""},
        {"win 1\nheader-size 60", "line 2: 'header-size' cannot go with window lines"},
        {"win 1\n+5 move 1,2 in=2", "line 2: expected in= followed by the number of a win line"},
        {"+5 key down A rel=1,2", "line 1: expected one of the fields scan ext repeat"},
        {"win 1\n+5 move 1,2 at=0,0,1,1", "line 2: at= and dpi= tell where the event's window"},
        {"picture 1 0120", "line 1: expected the picture's bytes in hex, as dump writes them"},
        {"section WNDS 00", "line 1: a section WNDS is one this version writes itself"},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.text);
        Write("in.txt", c.text);
        Write("out.Jnf", "kept");
        Ran ran = Run({"build", "in.txt", "-o", "out.Jnf"});
        EXPECT_EQ(2, ran.code);
        EXPECT_NE(std::string::npos, ran.err.find(c.error)) << ran.err;
        EXPECT_NE(std::string::npos, ran.err.find("nothing written"));
        EXPECT_EQ("kept", Read("out.Jnf"));
    }
    // Keys by name or number, scan codes filled in, an editor's byte-order mark and line ends;
    // a longer header with no bytes given for it (the text fuzz target's first finding).
    Write("in.txt",
          "\xEF\xBB\xBFheader-size 48\r\nstart 7\r\n+0 key down a\r\n+9 key up 0x41 scan=0x1E\r\n");
    ASSERT_EQ(0, Run({"build", "in.txt", "-o", "out.Jnf"}).code);
    EXPECT_EQ(
        JournalImage({{0x100, 0x1E41, 1, 7, 0}, {0x101, 0x1E41, 1, 16, 0}}, {.headerSize = 48}),
        Read("out.Jnf"));
}

TEST_F(JournalToolTest, EditsKeepTheTimelineAsAsked) {
    const struct {
        std::vector<std::string> args;
        std::vector<uint32_t> times;
    } kCases[] = {
        // The default pause between the times is the last gap, 200 ms.
        {{"repeat", "2", "a.Jnf"},
         {1000, 1100, 1150, 1160, 1165, 1365, 1565, 1665, 1715, 1725, 1730, 1930}},
        {{"repeat", "2", "--gap", "0", "a.Jnf"},
         {1000, 1100, 1150, 1160, 1165, 1365, 1365, 1465, 1515, 1525, 1530, 1730}},
        {{"cat", "--gap=10", "a.Jnf", "a.Jnf"},
         {1000, 1100, 1150, 1160, 1165, 1365, 1375, 1475, 1525, 1535, 1540, 1740}},
        {{"cut", "--from", "100", "--to", "160", "a.Jnf"}, {1100, 1150, 1160}},
        {{"speed", "2", "a.Jnf"}, {1000, 1050, 1075, 1080, 1083, 1183}},
        {{"speed", "0.5", "--from", "100", "--to", "165", "a.Jnf"},
         {1000, 1100, 1200, 1220, 1230, 1430}},
        {{"moves", "--drop", "a.Jnf"}, {1100, 1150, 1365}},
        {{"moves", "--simplify", "8", "a.Jnf"}, {1000, 1100, 1150, 1165, 1365}},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.args[0] + " " + c.args[1]);
        Ran ran = RunToOut(c.args);
        ASSERT_EQ(0, ran.code) << ran.err;
        EXPECT_EQ(c.times, Times("out.Jnf"));
    }
    // An edit may replace its own input.
    ASSERT_EQ(0, Run({"cut", "--to", "100", "a.Jnf", "-o", "a.Jnf"}).code);
    EXPECT_EQ(std::vector<uint32_t>({1000, 1100}), Times("a.Jnf"));
}

// Each result names the windows its events belong to, each once, numbered as first met.
TEST_F(JournalToolTest, EditsKeepEachEventsWindow) {
    Write("w.Jnf", Windowed());
    using testkit::WindowTable;
    const struct {
        std::vector<std::string> args;
        std::string table;  // empty: the plain layout
        std::vector<uint32_t> windowOf;
    } kCases[] = {
        {{"cut", "--from", "100", "--to", "150", "w.Jnf"}, WindowTable({kDialog}), {1, 1}},
        {{"moves", "--drop", "w.Jnf"}, WindowTable({kDialog, kLedger}), {1, 1, 2}},
        {{"cat", "w.Jnf", "a.Jnf", "w.Jnf"},
         WindowTable({kLedger, kDialog}),
         {1, 2, 2, 0, 1, 1, 0, 0, 0, 0, 0, 0, 1, 2, 2, 0, 1, 1}},
        {{"speed", "2", "w.Jnf"}, WindowTable({kLedger, kDialog}), kWindowOf},
        {{"repeat", "2", "--no-windows", "w.Jnf"}, "", {}},
        {{"cut", "--from", "160", "--to", "160", "w.Jnf"}, "", {}},  // a move in no window
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.args[0] + " " + c.args[1]);
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {"-o", "out.Jnf"});
        ASSERT_EQ(0, Run(args).code);
        std::string bytes = Read("out.Jnf");
        uint32_t headerSize = GetU32(bytes, 16), recordSize = GetU32(bytes, 20);
        EXPECT_EQ(c.table, bytes.substr(40, headerSize - 40));
        EXPECT_EQ(c.table.empty() ? 20u : 24u, recordSize);
        std::vector<uint32_t> windowOf;
        for (size_t at = headerSize; recordSize == 24 && at < bytes.size(); at += recordSize)
            windowOf.push_back(GetU32(bytes, at + 20));
        EXPECT_EQ(c.windowOf, windowOf);
    }
}

// What a journal the tool wrote says beside its events, read as the program loads it: each
// window's entry, each place, picture and motion by the event it belongs to.
std::string SectionsOf(const std::string& path) {
    qvjournal::JournalImage image;
    journal::Refusal refusal;
    uint32_t size;
    std::string why, text;
    if (!qvjournal::ReadJournal(path, &image, &refusal, &size, &why))
        return why;
    auto place = [](const platform::WindowRect& r, uint32_t dpi) {
        return std::to_string(r.left) + "," + std::to_string(r.top) + "," +
               std::to_string(r.right) + "," + std::to_string(r.bottom) + "/" + std::to_string(dpi);
    };
    for (const platform::WindowInfo& w : image.windows)
        text += " win " + place(w.rect, w.dpi);
    for (const journal::WindowPlace& p : image.places)
        text += " at " + std::to_string(p.event) + "=" + place(p.rect, p.dpi);
    for (const qvjournal::PictureBytes& p : image.pictures)
        text += " shot " + std::to_string(p.event);
    for (const journal::EventMotion& m : image.motions)
        text += " rel " + std::to_string(m.event) + "=" + std::to_string(m.dx) + "," +
                std::to_string(m.dy) + (m.flags & journal::kMotionHidden ? "h" : "") +
                (m.flags & journal::kMotionPlayed ? "p" : "");
    return text.empty() ? text : text.substr(1);
}

// Each kept event keeps where its window stood, its picture and its motion; a window is entered
// where its first event found it and placed anew wherever it stood elsewhere than at its event
// before.
TEST_F(JournalToolTest, EditsKeepPlacesPicturesAndMotionWithTheirEvents) {
    Write("s.Jnf", Sectioned());
    Write("w.Jnf", Windowed());
    const std::string kAt = "100,100,900,700/144", kMoved = "10,20,810,620/120",
                      kDialogAt = "0,0,640,480/96";
    const std::string kInput = "win " + kAt + " win " + kDialogAt + " at 4=" + kMoved +
                               " shot 5 rel 0=1,1 rel 3=2,2h rel 4=3,3p";
    const struct {
        std::vector<std::string> args;
        std::string sections;
    } kCases[] = {
        {{"speed", "2", "s.Jnf"}, kInput},
        {{"cut", "--from", "150", "s.Jnf"},
         "win " + kDialogAt + " win " + kMoved + " shot 3 rel 1=2,2h rel 2=3,3p"},
        {{"repeat", "2", "s.Jnf"},
         "win " + kAt + " win " + kDialogAt + " at 4=" + kMoved + " at 6=" + kAt + " at 10=" +
             kMoved + " shot 5 shot 11 rel 0=1,1 rel 3=2,2h rel 4=3,3p rel 6=1,1 rel 9=2,2h " +
             "rel 10=3,3p"},
        // One window of equal names: where the second file's ledger stood is a place.
        {{"cat", "w.Jnf", "s.Jnf"},
         "win " + kMoved + " win " + kDialogAt + " at 6=" + kAt + " at 10=" + kMoved +
             " shot 11 rel 6=1,1 rel 9=2,2h rel 10=3,3p"},
        {{"moves", "--drop", "s.Jnf"}, "win " + kDialogAt + " win " + kMoved + " shot 2"},
        // The move merged into the next one hands it its counts; played stays.
        {{"moves", "--simplify", "8", "s.Jnf"},
         "win " + kAt + " win " + kDialogAt + " at 3=" + kMoved + " shot 4 rel 0=1,1 rel 3=5,5p"},
        {{"cut", "--no-screens", "--no-motion", "s.Jnf"},
         "win " + kAt + " win " + kDialogAt + " at 4=" + kMoved},
        {{"cut", "--no-windows", "s.Jnf"}, "shot 5 rel 0=1,1 rel 3=2,2h rel 4=3,3p"},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.args[0] + " " + c.args[1]);
        Ran ran = RunToOut(c.args);
        ASSERT_EQ(0, ran.code) << ran.err;
        EXPECT_EQ(c.sections, SectionsOf("out.Jnf"));
    }
}

// A picture for each press, named by its event, as the BMP of its own pixels.
TEST_F(JournalToolTest, PicturesWritesEachPressAsABmpNamedByItsEvent) {
    journal::HeaderSections sections;
    sections.pictures = {{0, Picture(true, 0x00FF00)}, {2, Picture(false, 0x0000FF)}};
    Write("p.Jnf",
          WithSections(
              {{0x201, 5, 5, 1000, 0}, {0x202, 5, 5, 1100, 0}, {0x20B | 2 << 16, 9, 9, 2500, 0}},
              sections));
    std::filesystem::create_directory("shots");
    Ran ran = Run({"pictures", "p.Jnf", "-o", "shots"});
    ASSERT_EQ(0, ran.code) << ran.err;
    EXPECT_EQ(
        "wrote 2 pictures into shots (1 too plain to check: those presses wait for "
        "nothing)\n",
        ran.out);
    const char* kNames[] = {"0001-left-down-at-0ms-plain.bmp", "0003-x2-down-at-1500ms.bmp"};
    for (size_t i = 0; i < 2; i++) {
        std::string bmp(journal::kPictureBmpSize, '\0');
        journal::WritePictureBmp(sections.pictures[i].picture, reinterpret_cast<uint8_t*>(&bmp[0]));
        EXPECT_TRUE(bmp == Read(std::string("shots/") + kNames[i])) << kNames[i];
    }
    EXPECT_EQ(2, std::distance(std::filesystem::directory_iterator("shots"), {}));
}

TEST_F(JournalToolTest, TheSoundTrackStartsWithTheResultsFirstEvent) {
    Write("a.Jnf_", kTrackHeader + kTrack);
    Write("b.Jnf", JournalImage(kEvents));
    // The track holds 10,000 bytes (453 ms); a part of 565 ms needs 12,458.
    const std::string silence(12458 - 10000, '\x80');
    const struct {
        std::vector<std::string> args;
        std::string track;
    } kCases[] = {
        {{"cut", "--from", "100", "a.Jnf"}, kTrack.substr(2205)},
        {{"cut", "--from", "100", "--to", "160", "a.Jnf"}, kTrack.substr(2205, 3528 - 2205)},
        {{"repeat", "2", "a.Jnf"}, kTrack + silence + kTrack},
        {{"cat", "a.Jnf", "b.Jnf"}, kTrack + silence},
        {{"cat", "b.Jnf", "a.Jnf"}, std::string(12458, '\x80') + kTrack},
        {{"moves", "--drop", "a.Jnf"}, kTrack.substr(2205)},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.args[0] + " " + c.args[1]);
        Write("out.Jnf_", kTrackHeader + "old");
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {"-o", "out.Jnf"});
        ASSERT_EQ(0, Run(args).code);
        EXPECT_TRUE(Read("out.Jnf_") == kTrackHeader + c.track);
    }
    // Where the timeline changes no track fits: none is written and the old one goes.
    Ran ran = Run({"speed", "2", "a.Jnf", "-o", "out.Jnf"});
    ASSERT_EQ(0, ran.code);
    EXPECT_FALSE(std::filesystem::exists("out.Jnf_"));
    EXPECT_NE(std::string::npos, ran.err.find("out.Jnf gets no sound track"));
    EXPECT_NE(std::string::npos, ran.err.find("removed out.Jnf_"));
    EXPECT_TRUE(Read("a.Jnf_") == kTrackHeader + kTrack);
}

TEST_F(JournalToolTest, BadInputIsRefusedAndLosesNothing) {
    Write("damaged.Jnf", JournalImage(kEvents) + "x");
    Write("s.Jnf", Sectioned());
    Write("windows.Jnf",
          JournalImage(kEvents, {.recordSize = 24,
                                 .table = testkit::WindowTable({kLedger}),
                                 .windowOf = std::vector<uint32_t>(kEvents.size(), 1)}));
    const struct {
        std::vector<std::string> args;
        const char* error;
    } kCases[] = {
        {{"info", "missing.Jnf"}, "missing.Jnf: no such file"},
        {{"dump", "."}, ".: a folder, not a file"},
        {{"repeat", "2", "damaged.Jnf", "-o", "out.Jnf"}, "x 20 bytes = 160, but the file is 161"},
        {{"speed", "0", "a.Jnf", "-o", "out.Jnf"}, "FACTOR must be a number above 0"},
        {{"speed", "-1", "a.Jnf", "-o", "out.Jnf"}, "FACTOR must be a number above 0"},
        {{"repeat", "0", "a.Jnf", "-o", "out.Jnf"}, "N must be at least 1"},
        {{"repeat", "99999999", "a.Jnf", "-o", "out.Jnf"}, "more than a journal file holds"},
        // Within 2 GiB at 20 bytes an event, beyond it at the 24 that windows take.
        {{"repeat", "16000000", "windows.Jnf", "-o", "out.Jnf"},
         "more than a journal file may hold (2 GiB)"},
        {{"repeat", "2", "a.Jnf"}, "repeat needs an output: -o FILE"},
        {{"cut", "--form", "5", "a.Jnf", "-o", "out.Jnf"}, "unknown option --form for cut"},
        {{"cut", "--from", "300", "--to", "200", "a.Jnf", "-o", "out.Jnf"}, "is after --to"},
        // Times a journal can span at most between two events: the sound offsets stay exact.
        {{"cut", "--to", "836587032821295000", "a.Jnf", "-o", "out.Jnf"},
         "--to must be a whole number from 0 to 4294967295"},
        {{"speed", "2", "--from", "4294967296", "a.Jnf", "-o", "out.Jnf"},
         "--from must be a whole number from 0 to 4294967295"},
        {{"cut", "--from", "5000", "a.Jnf", "-o", "out.Jnf"}, "no event of a.Jnf lies between"},
        {{"moves", "a.Jnf", "-o", "out.Jnf"}, "either --drop or --simplify MS"},
        {{"dump", "a.Jnf", "-o", "a.Jnf"}, "would replace the journal a.Jnf"},
        // The same file under another spelling.
        {{"dump", "a.Jnf", "-o", "./a.Jnf"}, "would replace the journal a.Jnf"},
        {{"build", "a.Jnf", "-o", "../" + Leaf() + "/a.Jnf"}, "would replace its text a.Jnf"},
        {{"cat", "a.Jnf", "-o", "no/such/out.Jnf"}, "its folder no/such does not exist"},
        {{"frobnicate"}, "unknown command 'frobnicate'"},
        {{"pictures", "a.Jnf", "-o", "."}, "a.Jnf holds no pictures of the screen"},
        {{"pictures", "s.Jnf", "-o", "no/such"}, "no/such: no such folder (make it first)"},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.error);
        Write("out.Jnf", "kept");
        Ran ran = Run(c.args);
        EXPECT_EQ(2, ran.code);
        EXPECT_NE(std::string::npos, ran.err.find(c.error)) << ran.err;
        EXPECT_EQ("kept", Read("out.Jnf"));
        EXPECT_EQ(JournalImage(kEvents), Read("a.Jnf"));
    }
    for (const char* command :
         {"info", "dump", "build", "repeat", "cat", "cut", "speed", "moves", "trim", "pictures"})
        EXPECT_EQ(0, Run({command, "--help"}).out.find(std::string("usage: qvjournal ") + command));
}

TEST_F(JournalToolTest, InfoSaysWhatAFileHoldsOrWhyTheProgramWouldRefuseIt) {
    Write("a.Jnf_", kTrackHeader + kTrack);
    Ran good = Run({"info", "a.Jnf"});
    EXPECT_EQ(0, good.code);
    for (const char* line :
         {"loads:        yes\n", "events:       6 (keys 2, buttons 1, moves 3, wheel 0, other 0)\n",
          "duration:     365 ms (0.365 s)\n",
          "sound:        a.Jnf_, 0.453 s of sound (10000 bytes)\n"})
        EXPECT_NE(std::string::npos, good.out.find(line)) << good.out;
    Write("w.Jnf", Windowed());
    Ran windows = Run({"info", "w.Jnf"});
    for (const char* line :
         {"windows:      2 (events in none of them: 1)\n",
          "  1: ledger.exe, class LedgerMain, \"Accounts\", 10,20 to 810,620, 120 dpi: 3 events\n",
          "  2: (program unknown), class #32770, \"Save As\", 0,0 to 640,480, 96 dpi: 2 events\n"})
        EXPECT_NE(std::string::npos, windows.out.find(line)) << windows.out;

    Write("s.Jnf", Sectioned());
    Ran sections = Run({"info", "s.Jnf"});
    for (const char* line :
         {"  1: ledger.exe, class LedgerMain, \"Accounts\", 100,100 to 900,700, 144 dpi: 3 events, "
          "moved 1 time\n",
          "pictures:     1 of 1 presses (1 too plain to check)\n",
          "motion:       3 of 3 moves (1 played by motion)\n",
          "later:        XTRA (3 bytes): sections of a later version, which edits leave out\n"})
        EXPECT_NE(std::string::npos, sections.out.find(line)) << sections.out;

    Write("back.Jnf",
          JournalImage({{0x200, 1, 1, 5000, 0}, {0x200, 2, 2, 4000, 0}, {0x200, 3, 3, 4100, 0}}));
    EXPECT_NE(std::string::npos, Run({"info", "back.Jnf"}).out.find("steps back:   1 ("));
    EXPECT_EQ(std::string::npos, good.out.find("steps back"));

    std::string lowerCase = JournalImage(kEvents);
    lowerCase[0] = 'q';
    std::string wrapping = JournalImage({}, {.headerSize = 100});
    wrapping.replace(20, 8, "\0\0\x10\0\0\x10\0\0", 8);  // 4096 records of 1 MiB
    const struct {
        std::string bytes;
        const char* reason;
    } kCases[] = {
        {JournalImage({}).substr(0, 39), "the file is 39 bytes, shorter than the 40-byte header"},
        {lowerCase, "it does not begin with the signature \"Quorvatellianis\""},
        {JournalImage({}).replace(20, 1, "\x10"),
         "its record size 16 is not between 20 and 1048576"},
        {wrapping, "= 4294967396, more than a journal file may hold"},
        {JournalImage(kEvents).substr(0, 159), "= 160, but the file is 159 bytes"},
        {JournalImage(kEvents, {.duration = 1}),
         "first time 1000 is not last time 1365 - duration 1"},
        {Windowed({1, 2, 3, 0, 0, 0}), "is damaged, or a record names a window the table lacks"},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.reason);
        Write("bad.Jnf", c.bytes);
        Ran ran = Run({"info", "bad.Jnf"});
        EXPECT_EQ(2, ran.code);
        EXPECT_NE(std::string::npos, ran.out.find("loads:        no: ")) << ran.out;
        EXPECT_NE(std::string::npos, ran.out.find(c.reason)) << ran.out;
        EXPECT_NE(std::string::npos, ran.err.find("bad.Jnf would not load"));
    }
}

// A recording made by an older version: the releases of Ctrl+Alt+Shift+R at its start, the
// presses of Ctrl+Alt+Shift+S at its end, a move and a key of the user's between and among them.
TEST_F(JournalToolTest, TrimRemovesTheHotkeysAtTheEndsAndKeepsTheRest) {
    const uint32_t D = 0x100, U = 0x101, M = 0x200;
    const std::vector<std::pair<uint32_t, uint32_t>> kOld = {
        {U, 'R'},  {U, 0xA2}, {M, 0},    {U, 0x12}, {U, 0x10}, {D, 'A'},
        {D, 0x11}, {U, 'A'},  {D, 0x12}, {M, 0},    {D, 0x10}, {D, 'S'}};  // A let go of late
    std::vector<platform::EventRecord> old;
    for (const auto& [message, key] : kOld)
        old.push_back({message, key, 1, uint32_t(1000 + 10 * old.size()), 0});
    Write("old.Jnf", JournalImage(old, {.recordSize = 24,
                                        .table = testkit::WindowTable({kLedger, kDialog}),
                                        .windowOf = {1, 1, 2, 1, 1, 2, 1, 2, 1, 1, 1, 1}}));
    std::vector<platform::EventRecord> caps;  // "oK", Shift still held into the stop chord
    for (const auto& [message, key] : std::vector<std::pair<uint32_t, uint32_t>>{
             {D, 'O'}, {U, 'O'}, {D, 0x10}, {D, 'K'}, {U, 'K'}, {D, 0x11}, {D, 0x12}, {D, 'S'}})
        caps.push_back({message, key, 1, uint32_t(2000 + 10 * caps.size()), 0});
    Write("caps.Jnf", JournalImage(caps));
    std::vector<platform::EventRecord> run = {kEvents[1], kEvents[2]};
    for (uint32_t key : {0x11u, 0x12u, 0x10u, 0x2Eu})
        run.push_back({D, key, 1, 1200, 0});
    Write("run.Jnf", JournalImage(run));

    Ran info = Run({"info", "old.Jnf"});
    for (const char* line :
         {"hotkeys:      1 press of the program's own (the first Ctrl+Alt+Shift+S at 110 ms)",
          "trim:         would remove the releases of Ctrl+Alt+Shift+R at the start and "
          "Ctrl+Alt+Shift+S at the end\n"})
        EXPECT_NE(std::string::npos, info.out.find(line)) << info.out;
    EXPECT_EQ(std::string::npos, Run({"info", "a.Jnf"}).out.find("hotkeys"));

    const struct {
        const char* input;
        const char* said;
        std::vector<uint32_t> times;
        std::vector<uint32_t> windowOf;  // of a windowed result
    } kCases[] = {
        {"old.Jnf",
         "removed the releases of Ctrl+Alt+Shift+R at the start (4 events)\n"
         "removed Ctrl+Alt+Shift+S at the end (4 events)\n",
         {1020, 1050, 1070, 1090},
         {1, 1, 1, 2}},
        {"run.Jnf", "removed Ctrl+Alt+Shift+Delete at the end (4 events)\n", {1100, 1150}, {}},
        {"caps.Jnf",
         "removed Ctrl+Alt+Shift+S at the end (3 events)\n",
         {2000, 2010, 2020, 2030, 2040},
         {}},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.input);
        Ran ran = Run({"trim", c.input, "-o", "out.Jnf"});
        ASSERT_EQ(0, ran.code) << ran.err;
        EXPECT_EQ(0u, ran.out.find(c.said)) << ran.out;
        std::string bytes = Read("out.Jnf");
        uint32_t headerSize = GetU32(bytes, 16), recordSize = GetU32(bytes, 20);
        std::vector<uint32_t> times, windowOf;
        for (size_t at = headerSize; at < bytes.size(); at += recordSize) {
            times.push_back(GetU32(bytes, at + 12));
            if (recordSize == 24)
                windowOf.push_back(GetU32(bytes, at + 20));
        }
        EXPECT_EQ(c.times, times);
        EXPECT_EQ(c.windowOf, windowOf);
        if (!c.windowOf.empty()) {
            // A windowed result carries its table in the header.
            EXPECT_EQ(testkit::WindowTable({kDialog, kLedger}), bytes.substr(40, headerSize - 40));
        }
    }
    Write("out.Jnf", "kept");
    Ran none = Run({"trim", "a.Jnf", "-o", "out.Jnf"});
    EXPECT_EQ(2, none.code);
    EXPECT_NE(std::string::npos, none.err.find("nothing to trim")) << none.err;
    EXPECT_EQ("kept", Read("out.Jnf"));
}

}  // namespace
