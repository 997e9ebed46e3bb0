// The catalogue reader: SETUP.INI from a real medium folder into the list and the key table.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "catalogue/catalogue_scan.h"
#include "dialog/setup_dlg.h"
#include "platform/kernel/files.h"
#include "platform/kernel/host/faults.h"
#include "tests/dialog/shell_fixture.h"

namespace {

using shell_test::ScratchDevice;

// Runs the setup directory and catalogue steps alone (a stop would end the test process).
class CatalogueProbe : public CSetupDlg {
  public:
    int result = -1;
    int sel = -2;
    std::vector<std::u16string> items, keys;

  protected:
    BOOL OnInitDialog() override {
        CDialog::OnInitDialog();
        FindSetupDir();
        result = LoadCatalogue();
        sel = m_lbProducts.GetCurSel();
        for (int i = 0; i < m_lbProducts.GetCount(); ++i) {
            CString text;
            m_lbProducts.GetText(i, text);
            items.emplace_back(static_cast<LPCWSTR>(text));
            keys.emplace_back(m_aszProductKeys[i]);
        }
        EndDialog(IDOK);
        return TRUE;
    }
};

struct Outcome {
    int result;
    std::vector<std::u16string> items, keys;
    std::string messages;            // what the message boxes printed
    std::vector<std::string> notes;  // "warning: LINE" or "cause: LINE"
};

Outcome ReadCatalogue();

// The catalogue bytes read on a scratch device with the code page given.
Outcome ReadCatalogueOf(const std::string& bytes, UINT codePage) {
    wce::kernel::DeviceConfig config;
    config.codePage = codePage;
    ScratchDevice device(config);
    device.WriteCatalogue(bytes);
    return ReadCatalogue();
}

Outcome ReadCatalogue() {
    shell_test::UseProbeDisplay();
    CatalogueProbe dlg;
    std::vector<std::string> notes;
    catalogue::SetNoteSink([&](catalogue::NoteKind kind, const std::string& line) {
        notes.push_back((kind == catalogue::NoteKind::Cause ? "cause: " : "warning: ") + line);
    });
    testing::internal::CaptureStdout();
    dlg.DoModal();
    catalogue::SetNoteSink(nullptr);
    Outcome out{dlg.result, dlg.items, dlg.keys, testing::internal::GetCapturedStdout(), notes};
    if (out.result == 1) {
        EXPECT_EQ(dlg.sel, 0) << "the first entry is selected";
    }
    return out;
}

std::string Packages(int count) {
    std::string text = "[PRODUCT]\r\n";
    for (int i = 1; i <= count; ++i)
        text += std::to_string(i) + "=Package " + std::to_string(i) + "\r\n";
    return text;
}

const std::string kInvalid = "message: SETUP: Invalid SETUP.INI\n";
const std::u16string kName31 = u"ABCDEFGHIJKLMNOPQRSTUVWXYZabcde";

struct Row {
    const char* name;
    std::string bytes;
    std::vector<std::u16string> items;  // empty: the catalogue is invalid
    std::vector<std::u16string> keys;
    UINT codePage = 932;
};

TEST(CatalogueReader, LineAndSectionRules) {
    const std::string line259(259, 'x');
    const std::vector<Row> rows = {
        {"plain",
         "[PRODUCT]\r\n1=English\r\n2=Deutsch\r\n",
         {u"English", u"Deutsch"},
         {u"1", u"2"}},
        {"empty file", "", {}, {}},
        {"LF only", "[PRODUCT]\n1=English\n", {}, {}},
        {"last line without end", "[PRODUCT]\r\n1=A\r\n2=B", {u"A"}, {u"1"}},
        {"last line ends in CR", "[PRODUCT]\r\n1=A\r\n2=B\r", {u"A", u"B"}, {u"1", u"2"}},
        {"header lower case", "[product]\r\n1=A\r\n", {}, {}},
        {"header trailing blank", "[PRODUCT] \r\n1=A\r\n", {}, {}},
        {"byte-order mark", "\xEF\xBB\xBF[PRODUCT]\r\n1=A\r\n", {}, {}},
        {"NUL ends a line",
         std::string("[PRODUCT]\r\n1=A\0junk\r\n2=B\r\n", 25),
         {u"A", u"B"},
         {u"1", u"2"}},
        {"equals rules",
         "[PRODUCT]\r\na = b\r\n=NoKey\r\nk=\r\nk=x=y\r\nno equals\r\n",
         {u" b", u"NoKey", u"", u"x=y"},
         {u"a ", u"", u"k", u"k"}},
        {"sections",
         "0=Before\r\n[PRODUCT]\r\n1=In\r\n[OTHER]\r\n2=Out\r\n[PRODUCT]\r\n3=Again\r\n",
         {u"In", u"Again"},
         {u"1", u"3"}},
        {"259-byte line: LF beyond the window",
         "[PRODUCT]\r\n" + line259 + "\r\n1=A\r\n",
         {u"A"},
         {u"1"}},
        {"line without end in its window",
         "[PRODUCT]\r\n1=A\r\n" + std::string(300, 'x') + "\r\n2=B\r\n",
         {u"A"},
         {u"1"}},
        {"no line end before a package",
         std::string(300, 'x') + "\r\n[PRODUCT]\r\n1=A\r\n",
         {},
         {}},
        {"code page 932", "[PRODUCT]\r\n3=\x93\xFA\x96\x7B\x8C\xEA\r\n", {u"日本語"}, {u"3"}},
        {"key of 16 kept, of 17 skipped",
         "[PRODUCT]\r\n12345678901234567=Long\r\n1234567890123456=Sixteen\r\n",
         {u"Sixteen"},
         {u"1234567890123456"}},
        {"display name cut to 31",
         "[PRODUCT]\r\n1=ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghij\r\n",
         {kName31},
         {u"1"}},
        {"name cut before a split surrogate pair",
         "[PRODUCT]\r\n1=" + std::string(30, 'a') + "\xF0\x9F\x98\x80" + "z\r\n",
         {std::u16string(30, u'a')},
         {u"1"},
         65001},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const Outcome out = ReadCatalogueOf(row.bytes, row.codePage);
        EXPECT_EQ(out.result, row.items.empty() ? 0 : 1);
        EXPECT_EQ(out.items, row.items);
        EXPECT_EQ(out.keys, row.keys);
        EXPECT_EQ(out.messages, row.items.empty() ? kInvalid : "");
        EXPECT_EQ(wce::kernel::OpenHandleCount(), 0) << "file and enumeration are released";
    }
}

// A key names the folder PRODUCT<key> beside the program: one that could name anything else is
// left out with a warning, and a catalogue left with none is invalid.
TEST(CatalogueReader, KeysThatCouldLeaveThePackageFolderAreNotListed) {
    struct KeyRow {
        std::string key;
        const char* why;  // nullptr: listed
    };
    const KeyRow rows[] = {
        {"\\..\\..\\Private", "holds a path separator"},
        {"1/../2", "holds a path separator"},
        {"..", nullptr},
        {"a..b", nullptr},
        {"*", nullptr},
        {"1\t2", nullptr},
        {"1.2 x", nullptr},
        {"", nullptr},
    };
    for (const KeyRow& row : rows) {
        SCOPED_TRACE(row.key);
        wce::kernel::DeviceConfig config;
        config.codePage = 65001;
        ScratchDevice device(config);
        device.WriteCatalogue("[PRODUCT]\r\n1=First\r\n" + row.key + "=Bad\r\n");
        const Outcome out = ReadCatalogue();
        const std::vector<std::string>& notes = out.notes;
        if (row.why == nullptr) {
            EXPECT_EQ(out.items, (std::vector<std::u16string>{u"First", u"Bad"}));
            EXPECT_EQ(testing::PrintToString(notes).find("not listed"), std::string::npos);
            continue;
        }
        EXPECT_EQ(out.items, std::vector<std::u16string>{u"First"});
        ASSERT_EQ(notes.size(), 1u);
        EXPECT_EQ(notes[0].rfind("warning: SETUP.INI:3: key \"", 0), 0u) << notes[0];
        EXPECT_NE(notes[0].find(row.why), std::string::npos) << notes[0];
        EXPECT_EQ(notes[0].find_first_of("\t\x1B"), std::string::npos) << "controls are spelt out";
    }

    ScratchDevice device;
    device.WriteCatalogue("[PRODUCT]\r\n\\..\\..\\Private=Mine\r\n../x=Yours\r\n");
    const Outcome out = ReadCatalogue();
    EXPECT_EQ(out.result, 0) << "only refused keys: nothing to offer";
    EXPECT_EQ(out.messages, kInvalid);
}

// What is wrong, and on which line, goes to standard error: the cause of an invalid catalogue,
// and warnings for lines not read or text not valid in the code page.
TEST(CatalogueReader, NotesSayWhatIsWrongAndWhere) {
    struct NoteRow {
        const char* name;
        std::string bytes;
        std::vector<std::string> notes;  // each the start of one note
        UINT codePage = 932;
    };
    const std::string japanese8 = "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E";
    const NoteRow rows[] = {
        {"empty", "", {"cause: SETUP.INI: the file is empty"}},
        {"LF alone",
         "[PRODUCT]\n1=A\n",
         {"cause: SETUP.INI:1: the line ends in LF alone where CR LF is needed"}},
        {"header in lower case",
         "[product]\r\n1=A\r\n",
         {"cause: SETUP.INI:1: the line is not exactly [PRODUCT]"}},
        {"byte-order mark",
         "\xEF\xBB\xBF[PRODUCT]\r\n1=A\r\n",
         {"warning: SETUP.INI:1: bytes that are not text in code page 932; they read as UTF-8",
          "cause: SETUP.INI:1: the line is not exactly [PRODUCT]"}},
        {"no header", "[OTHER]\r\n1=A\r\n", {"cause: SETUP.INI: no line is [PRODUCT]"}},
        {"no package line",
         "[PRODUCT]\r\nnothing\r\n",
         {"warning: SETUP.INI:2: the line holds no \"=\"",
          "cause: SETUP.INI:1: the [PRODUCT] section holds no KEY=NAME line"}},
        {"last line unread",
         "[PRODUCT]\r\n1=A\r\n2=B",
         {"warning: SETUP.INI:3: the last line does not end in CR LF, so it is not read"}},
        {"long line unread",
         "[PRODUCT]\r\n1=A\r\n" + std::string(300, 'x'),
         {"warning: SETUP.INI:3: no CR LF ends the line within 260 bytes"}},
        // Listed as the device lists them, but said; a stray LF counts as a line, as in an editor.
        {"stray LF, empty key and name, no equals, long name",
         "[PRODUCT]\r\n1=English\n2=Deutsch\r\n=NoKey\r\n3=\r\n\r\njunk\r\n4=" +
             std::string(40, 'n') + "\r\n",
         {"warning: SETUP.INI:2: a LF without CR before it does not end the line: \"2=Deutsch\" "
          "after it",
          "warning: SETUP.INI:4: the key is empty", "warning: SETUP.INI:5: the name is empty",
          "warning: SETUP.INI:7: the line holds no \"=\"",
          "warning: SETUP.INI:8: the name \"" + std::string(40, 'n') +
              "\" is longer than 31 characters; it is listed as \"" + std::string(31, 'n') + "\""}},
        {"key too long",
         "[PRODUCT]\r\n1=A\r\n12345678901234567=B\r\n",
         {"warning: SETUP.INI:3: key \"12345678901234567\" is longer than the key table holds"}},
        {"UTF-8 not valid in 932",
         "[PRODUCT]\r\n1=A\r\n3=" + japanese8 + "\r\n",
         {"warning: SETUP.INI:3: bytes that are not text in code page 932; they read as UTF-8: set "
          "WCE_CODEPAGE=65001"}},
        {"UTF-8 that 932 reads too",
         "[PRODUCT]\r\n1=Espa\xC3\xB1"
         "ol\r\n2=Fran\xC3\xA7"
         "ais\r\n",
         {"warning: SETUP.INI:2: the text reads as UTF-8, not as code page 932 (and on 1 more "
          "lines); if names "
          "show wrongly, set WCE_CODEPAGE=65001"}},
        {"code page 1252 read as UTF-8",
         "[PRODUCT]\r\n1=Fran\xE7"
         "ais\r\n",
         {"warning: SETUP.INI:2: bytes that are not text in code page 65001\n"},
         65001},
        {"U+FFFD itself in UTF-8", "[PRODUCT]\r\n1=\xEF\xBF\xBD\r\n", {}, 65001},
        {"code page 932", "[PRODUCT]\r\n3=\x93\xFA\x96\x7B\x8C\xEA\r\n", {}},
    };
    for (const NoteRow& row : rows) {
        SCOPED_TRACE(row.name);
        const Outcome out = ReadCatalogueOf(row.bytes, row.codePage);
        ASSERT_EQ(out.notes.size(), row.notes.size()) << testing::PrintToString(out.notes);
        for (std::size_t i = 0; i < row.notes.size(); ++i)
            EXPECT_EQ((out.notes[i] + "\n").rfind(row.notes[i], 0), 0u) << out.notes[i];
    }
}

TEST(CatalogueReader, ListHoldsTheFirstHundredPackages) {
    ScratchDevice device;
    device.WriteCatalogue(Packages(105));
    const Outcome out = ReadCatalogue();
    ASSERT_EQ(out.items.size(), 100u);
    EXPECT_EQ(out.items.back(), u"Package 100");
    EXPECT_EQ(out.keys.back(), u"100");
    EXPECT_EQ(wce::kernel::OpenHandleCount(), 0);
}

// The stop messages themselves are checked end to end; here, that nothing stays open.
TEST(CatalogueReader, UnreachableCatalogueReleasesEverything) {
    struct Case {
        const char* name;
        wce::kernel::DeviceConfig config;
        bool asFolder;
        std::string message;
    };
    wce::kernel::DeviceConfig longPath;  // the executable's path fits, the catalogue's would not
    longPath.mediumName = std::u16string(250, u'm');
    longPath.exeName = u"S.exe";
    const Case cases[] = {
        {"a folder named SETUP.INI", {}, true, "message: SETUP: Failed in opening SETUP.INI\n"},
        {"catalogue path too long", longPath, false, "message: SETUP: Not found SETUP.INI\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchDevice device(c.config);
        if (c.asFolder)
            std::filesystem::create_directory(device.Medium() / "SETUP.INI");
        else
            device.WriteCatalogue(Packages(1));
        const Outcome out = ReadCatalogue();
        EXPECT_EQ(out.result, 0);
        EXPECT_EQ(out.messages, c.message);
        EXPECT_EQ(wce::kernel::OpenHandleCount(), 0);
    }
}

TEST(CatalogueReader, FailedReadKeepsPackagesReadBefore) {
    ScratchDevice device;
    device.WriteCatalogue(Packages(3));
    wce::kernel::FaultScope faults;
    faults.Fail(wce::kernel::HostOp::Read, 3, EIO, true);  // windows: header, 1=, then 2= fails
    const Outcome out = ReadCatalogue();
    EXPECT_EQ(out.items, std::vector<std::u16string>{u"Package 1"});
    EXPECT_EQ(wce::kernel::OpenHandleCount(), 0);
}

// A file rewritten after its length was taken: bytes beyond what a read delivered are never
// scanned, even where an earlier window left a CR LF in the buffer.
TEST(CatalogueScan, ShortReadScansOnlyDeliveredBytes) {
    const std::string before = "[PRODUCT]\r\nA\r\n";  // CR LF at 12, 13 stays in the buffer
    const std::string after = "[PRODUCT]\r\n1=ABCDEFGHIJ";
    std::vector<std::u16string> names;
    catalogue::ScanCatalogue(
        30,
        [&](LONG offset, BYTE* buffer, UINT count) {
            const std::string& now = offset == 0 ? before : after;
            const UINT got = std::min(count, static_cast<UINT>(now.size() - offset));
            std::copy_n(now.begin() + offset, got, buffer);
            return got;
        },
        [&](std::u16string_view, std::u16string_view name) {
            names.emplace_back(name);
            return true;
        });
    EXPECT_TRUE(names.empty());
}

}  // namespace
