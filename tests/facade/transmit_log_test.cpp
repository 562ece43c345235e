// The transmission log writer on a folder of the test's own, with a fixed day: file names,
// numbering past existing logs, the folder made when missing, existing files never
// replaced, the text in the locale's code page, and where the folder goes for a library in
// a build tree, a private install and the system's folders.
#include "facade/transmit_log.h"

#include <gtest/gtest.h>
#include <locale.h>
#include <stdlib.h>
#include <unistd.h>


#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/error.h"
#include "support/branch_env.h"
#include "support/exchange_records.h"
#include "support/file_size_limit.h"

namespace orba::facade {
namespace {

namespace fs = std::filesystem;
using platform::Date;
using platform::Error;
using platform::ErrorCode;
using testing::ReadFile;
using testing::TempDir;

Date May12() { return Date::FromParts(2003, 5, 12); }

void WriteFile(const fs::path& path, std::string_view text) {
    std::ofstream(path, std::ios::binary) << text;
}

TEST(TransmitLogTest, FileNamesAreDateAndSequence) {
    EXPECT_EQ(LogFileName(May12(), 1), "20030512_1.log");
    EXPECT_EQ(LogFileName(Date::FromParts(2026, 1, 3), 12), "20260103_12.log");
    EXPECT_EQ(LogFileName(Date::FromParts(999, 12, 31, 23, 59, 59), 7), "09991231_7.log");
}

TEST(TransmitLogTest, TheFolderIsBesideTheLibrary) {
    EXPECT_EQ(LogDirectory().filename(), kLogFolderName);
    EXPECT_TRUE(fs::exists(LogDirectory().parent_path() / "libOrbaBillTransmit.so"));
}

TEST(TransmitLogTest, TheFolderIsBesideAWritableLibraryAndOtherwiseInTheUsersDataFolder) {
    struct Case {
        const char* name;
        std::string module_dir;  // "@" stands for the test's own folder
        bool log_folder_exists;
        std::vector<std::string> writable;  // folders the process may write ("@" as above)
        const char* xdg_data_home;          // "@" as above, or nullptr
        const char* home;
        std::string expected;  // "@" as above
    };
    const std::string per_user = "@/data/OrbaBillTransmit/TransmitLog";
    const Case cases[] = {
        {"build tree", "@/bin", false, {"@/bin"}, "@/data", "@/home", "@/bin/TransmitLog"},
        {"the folder exists and may be written", "@/bin", true, {"@/bin/TransmitLog"}, "@/data", "@/home",
         "@/bin/TransmitLog"},
        {"read-only install", "@/bin", false, {}, "@/data", "@/home", per_user},
        {"the folder exists but is read-only", "@/bin", true, {"@/bin"}, "@/data", "@/home", per_user},
        {"system library folder, even for root", "/usr/lib/x86_64-linux-gnu", false, {"/usr/lib/x86_64-linux-gnu"},
         "@/data", "@/home", per_user},
        {"local system folder", "/usr/local/lib", false, {"/usr/local/lib"}, "@/data", "@/home", per_user},
        {"top-level library folder", "/lib64", false, {"/lib64"}, "@/data", "@/home", per_user},
        {"a name that only starts like /usr", "/usrdata/lib", false, {"/usrdata/lib"}, "@/data", "@/home",
         "/usrdata/lib/TransmitLog"},
        {"no data home: the home folder's", "@/bin", false, {}, nullptr, "@/home",
         "@/home/.local/share/OrbaBillTransmit/TransmitLog"},
        {"a relative data home is ignored", "@/bin", false, {}, "rel/data", "@/home",
         "@/home/.local/share/OrbaBillTransmit/TransmitLog"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        auto at = [&dir](const std::string& text) {
            return text.rfind('@', 0) == 0 ? dir.Path().string() + text.substr(1) : text;
        };
        const fs::path module_dir = at(c.module_dir);
        if (c.log_folder_exists) fs::create_directories(module_dir / kLogFolderName);
        std::set<fs::path> writable;
        for (const std::string& w : c.writable) writable.insert(at(w));
        const std::string xdg = c.xdg_data_home ? at(c.xdg_data_home) : "";
        const std::string home = at(c.home);
        const fs::path chosen = ChooseLogDirectory(
            module_dir, [&writable](const fs::path& p) { return writable.count(p) > 0; },
            [&](const char* var) -> const char* {
                if (std::string_view(var) == "XDG_DATA_HOME") return c.xdg_data_home ? xdg.c_str() : nullptr;
                if (std::string_view(var) == "HOME") return home.c_str();
                return nullptr;
            });
        EXPECT_EQ(chosen, fs::path(at(c.expected)));
        if (chosen.string().rfind(dir.Path().string(), 0) == 0 && chosen.parent_path() != module_dir) {
            // The user's folder needs only its last level made when the first log is written.
            EXPECT_TRUE(fs::is_directory(chosen.parent_path()));
            EXPECT_EQ(WriteTransmitLog(chosen, "saved", May12), chosen / "20030512_1.log");
        }
    }
}

TEST(TransmitLogTest, TakesTheFirstFreeNumberAndLeavesExistingLogsAlone) {
    struct Case {
        const char* name;
        std::vector<std::string> existing;
        std::string expected;
    };
    const Case cases[] = {
        {"empty folder", {}, "20030512_1.log"},
        {"two logs of the day", {"20030512_1.log", "20030512_2.log"}, "20030512_3.log"},
        {"a gap is filled", {"20030512_1.log", "20030512_3.log"}, "20030512_2.log"},
        {"other days do not count", {"20030511_1.log", "20030513_1.log"}, "20030512_1.log"},
        {"a folder under the name counts as taken", {"20030512_1.log/"}, "20030512_2.log"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        for (const std::string& name : c.existing) {
            if (name.back() == '/') {
                fs::create_directory(dir / name.substr(0, name.size() - 1));
            } else {
                WriteFile(dir / name, "old " + name);
            }
        }
        const fs::path written = WriteTransmitLog(dir.Path(), "new text\r\n", May12);
        EXPECT_EQ(written, dir / c.expected);
        EXPECT_EQ(ReadFile(written), "new text\r\n");
        for (const std::string& name : c.existing) {
            if (name.back() != '/') {
                EXPECT_EQ(ReadFile(dir / name), "old " + name);
            }
        }
    }
}

TEST(TransmitLogTest, ALinkUnderTheNameIsNeverFollowed) {
    // A name already taken by a link to a file elsewhere: writing through it would replace
    // (or create) that file.
    TempDir dir;
    TempDir elsewhere;
    const fs::path target = elsewhere / "precious.txt";
    fs::create_symlink(target, dir / "20030512_1.log");  // dangling: the target does not exist yet
    const fs::path written = WriteTransmitLog(dir.Path(), "log", May12);
    EXPECT_EQ(written.filename(), "20030512_2.log");
    EXPECT_FALSE(fs::exists(target));

    WriteFile(target, "keep me");
    EXPECT_EQ(WriteTransmitLog(dir.Path(), "log", May12).filename(), "20030512_3.log");
    EXPECT_EQ(ReadFile(target), "keep me");
}

TEST(TransmitLogTest, WritersRacingForTheSameNamesEachGetTheirOwnFile) {
    TempDir dir;
    constexpr int kWriters = 4;
    constexpr int kEach = 25;
    std::vector<std::thread> writers;
    for (int w = 0; w < kWriters; ++w) {
        writers.emplace_back([&dir, w] {
            for (int i = 0; i < kEach; ++i) {
                WriteTransmitLog(dir.Path(), "writer " + std::to_string(w) + " log " + std::to_string(i), May12);
            }
        });
    }
    for (auto& t : writers) t.join();

    std::set<std::string> texts;
    int files = 0;
    for (const auto& entry : fs::directory_iterator(dir.Path())) {
        ++files;
        texts.insert(ReadFile(entry.path()));
    }
    EXPECT_EQ(files, kWriters * kEach);
    EXPECT_EQ(texts.size(), static_cast<size_t>(kWriters * kEach));  // none lost, none replaced
    for (int n = 1; n <= kWriters * kEach; ++n) EXPECT_TRUE(fs::exists(dir / LogFileName(May12(), n))) << n;
}

TEST(TransmitLogTest, AMissingFolderIsMadeOneLevelOnly) {
    TempDir dir;
    const fs::path folder = dir / "TransmitLog";
    const fs::path written = WriteTransmitLog(folder, "first", May12);
    EXPECT_TRUE(fs::is_directory(folder));
    EXPECT_EQ(written, folder / "20030512_1.log");
    EXPECT_EQ(ReadFile(written), "first");

    const fs::path deep = dir / "missing" / "TransmitLog";
    try {
        WriteTransmitLog(deep, "lost", May12);
        FAIL() << "a folder two levels down was made";
    } catch (const Error& e) {
        EXPECT_EQ(e.Code(), ErrorCode::kPathNotFound);
        EXPECT_NE(e.Description().find(deep.string()), std::string::npos) << e.Description();
    }
    EXPECT_FALSE(fs::exists(dir / "missing"));
}

TEST(TransmitLogTest, AFileWhereTheFolderShouldBeIsAnError) {
    TempDir dir;
    WriteFile(dir / "TransmitLog", "a file");
    EXPECT_THROW(WriteTransmitLog(dir / "TransmitLog", "text", May12), Error);
    EXPECT_EQ(ReadFile(dir / "TransmitLog"), "a file");
}

// Sets the locale variables for the duration of a test and restores them after.
class LocaleEnvironment {
public:
    explicit LocaleEnvironment(const std::string& name) {
        for (const char* var : {"LC_ALL", "LC_CTYPE", "LANG"}) {
            const char* value = getenv(var);
            saved_.push_back({var, value ? std::optional<std::string>(value) : std::nullopt});
        }
        setenv("LC_ALL", name.c_str(), 1);
    }
    ~LocaleEnvironment() {
        for (const auto& [var, value] : saved_) {
            if (value) {
                setenv(var, value->c_str(), 1);
            } else {
                unsetenv(var);
            }
        }
    }

private:
    std::vector<std::pair<const char*, std::optional<std::string>>> saved_;
};

// The first of the names that this machine has as a locale.
std::optional<std::string> InstalledLocale(std::initializer_list<const char*> names) {
    for (const char* name : names) {
        locale_t loc = newlocale(LC_CTYPE_MASK, name, static_cast<locale_t>(0));
        if (loc != static_cast<locale_t>(0)) {
            freelocale(loc);
            return name;
        }
    }
    return std::nullopt;
}

TEST(TransmitLogCodePageTest, UnderAUtf8LocaleTheTextStaysAsItIs) {
    LocaleEnvironment env("C.UTF-8");
    EXPECT_EQ(ToLocaleCodePage("中文 saved"), "中文 saved");
}

TEST(TransmitLogCodePageTest, UnderAChineseLocaleTheLogIsInItsCodePage) {
    auto name = InstalledLocale({"zh_CN.GB18030", "zh_CN.gb18030", "zh_CN.GBK", "zh_CN.gbk"});
    if (!name) GTEST_SKIP() << "no GB18030 or GBK locale is installed on this machine";
    LocaleEnvironment env(*name);
    EXPECT_EQ(ToLocaleCodePage("中文 ok\r\n"), "\xD6\xD0\xCE\xC4 ok\r\n");
    TempDir dir;
    const fs::path written = WriteTransmitLog(dir.Path(), "数据 中文", May12);
    EXPECT_EQ(ReadFile(written), "\xCA\xFD\xBE\xDD \xD6\xD0\xCE\xC4");
}

TEST(TransmitLogCodePageTest, UnderALatin1LocaleCharactersItLacksAreMarked) {
    auto name = InstalledLocale({"en_US.ISO-8859-1", "en_US.iso88591", "de_DE.ISO-8859-1", "fr_FR.ISO-8859-1"});
    if (!name) GTEST_SKIP() << "no ISO-8859-1 locale is installed on this machine";
    LocaleEnvironment env(*name);
    const std::string converted = ToLocaleCodePage("café 中 end");
    EXPECT_EQ(converted.substr(0, 5), "caf\xE9 ");
    EXPECT_EQ(converted.substr(converted.size() - 4), " end");
    EXPECT_EQ(converted.find("中"), std::string::npos);
    EXPECT_NE(converted.find('?'), std::string::npos);
}

// A log that cannot be written whole (here a file-size limit, as a full disk) is removed,
// not left empty or cut off; the child process reports what it saw in its exit status.
TEST(TransmitLogTest, ALogThatCannotBeWrittenIsRemoved) {
    TempDir dir;
    EXPECT_EQ(orba::testing::WriteUnderFileSizeLimit(0, [&] {
                  WriteTransmitLog(dir.Path(), "Purchase order PO-1 from branch 01.001: saved\r\n", May12);
              }),
              0)
        << "2: another reason, 3: no error";
    EXPECT_TRUE(fs::is_empty(dir.Path())) << "the empty log is gone";
}

}  // namespace
}  // namespace orba::facade
