// The command-line host's file handling under the conditions a hostile or unlucky user
// creates: devices, links, folders, a full disk, endless or oversized input.
#include "exchange/input_file.h"
#include "exchange/output_file.h"
#include "exchange/transport.h"

#include <fmt/format.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <latch>
#include <set>
#include <string>
#include <thread>

#include "data/bill_records.h"
#include "host/variant_dictionary.h"
#include "platform/error.h"
#include "support/branch_env.h"
#include "support/error_of.h"
#include "support/exchange_records.h"
#include "support/file_size_limit.h"

namespace orba::apps {

using namespace orba::exchange;
namespace {

namespace fs = std::filesystem;
using orba::testing::ErrorOf;
using orba::testing::ReadFile;

std::set<std::string> Names(const fs::path& dir) {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.insert(e.path().filename().string());
    return names;
}

void Put(const fs::path& path, const std::string& text) {
    FILE* f = std::fopen(path.c_str(), "wb");
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
}

// A device node of our own (needs root), so no test ever writes near the system's devices.
bool MakeDevice(const fs::path& path, unsigned minor) {
    return ::mknod(path.c_str(), S_IFCHR | 0666, makedev(1, minor)) == 0;
}

struct WriteCase {
    const char* name;
    std::function<void(const fs::path& dir)> prepare;
    const char* written;      // name whose content must then be "new", or "" when refused
    const char* error;        // part of the error, or "" when written
    std::function<void(const fs::path& dir)> check;
};

const WriteCase kWriteCases[] = {
    {"NewFile", [](const fs::path&) {}, "out.json", "", {}},
    {"ExistingFileKeepsItsMode",
     [](const fs::path& d) {
         Put(d / "out.json", "old");
         fs::permissions(d / "out.json", fs::perms(0640));
     },
     "out.json", "",
     [](const fs::path& d) { EXPECT_EQ(fs::status(d / "out.json").permissions(), fs::perms(0640)); }},
    {"LinkIsFollowedAndStays", [](const fs::path& d) { Put(d / "real.json", "old"); fs::create_symlink("real.json", d / "out.json"); },
     "real.json", "", [](const fs::path& d) { EXPECT_TRUE(fs::is_symlink(d / "out.json")); }},
    {"DanglingLinkCreatesItsTarget", [](const fs::path& d) { fs::create_symlink("real.json", d / "out.json"); },
     "real.json", "", [](const fs::path& d) { EXPECT_TRUE(fs::is_symlink(d / "out.json")); }},
    {"FolderIsRefused", [](const fs::path& d) { fs::create_directory(d / "out.json"); }, "", "it is a folder", {}},
    {"LinkLoopIsRefused",
     [](const fs::path& d) {
         fs::create_symlink("b", d / "out.json");
         fs::create_symlink("out.json", d / "b");
     },
     "", "Too many levels of symbolic links", {}},
    {"MissingFolderSaysSo", [](const fs::path& d) { fs::create_symlink("no/such/file", d / "out.json"); }, "",
     "No such file or directory", {}},
};

class WriteOutput : public ::testing::TestWithParam<WriteCase> {};

TEST_P(WriteOutput, WritesOnlyWhatItShouldAndLeavesNoTemporaryFile) {
    const WriteCase& c = GetParam();
    orba::testing::TempDir dir;
    c.prepare(dir.Path());
    const std::set<std::string> before = Names(dir.Path());
    if (*c.error) {
        const auto e = ErrorOf([&] { WriteOutputFile(dir.Path() / "out.json", "new"); });
        EXPECT_NE(e.Description().find(c.error), std::string::npos) << e.Description();
        EXPECT_NE(e.Description().find("out.json"), std::string::npos) << e.Description();
    } else {
        WriteOutputFile(dir.Path() / "out.json", "new");
        EXPECT_EQ(ReadFile(dir.Path() / c.written), "new");
    }
    std::set<std::string> expected = before;
    expected.insert(*c.written ? c.written : "out.json");
    if (!*c.written && !before.count("out.json")) expected.erase("out.json");
    EXPECT_EQ(Names(dir.Path()), expected) << "no temporary file is left";
    if (c.check) c.check(dir.Path());
}

INSTANTIATE_TEST_SUITE_P(Targets, WriteOutput, ::testing::ValuesIn(kWriteCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(WriteOutputDevice, IsWrittenStraightIntoAndStaysADevice) {
    orba::testing::TempDir dir;
    if (!MakeDevice(dir.Path() / "null", 3) || !MakeDevice(dir.Path() / "full", 7)) {
        GTEST_SKIP() << "making device nodes needs root";
    }
    WriteOutputFile(dir.Path() / "null", "text");
    EXPECT_TRUE(fs::is_character_file(dir.Path() / "null"));
    const auto e = ErrorOf([&] { WriteOutputFile(dir.Path() / "full", "text"); });
    EXPECT_NE(e.Description().find("No space left on device"), std::string::npos) << e.Description();
    EXPECT_TRUE(fs::is_character_file(dir.Path() / "full"));
    EXPECT_EQ(Names(dir.Path()), (std::set<std::string>{"full", "null"}));
}

// A write cut short (here by a file-size limit, as by a full disk) keeps the old file and
// removes the temporary one; the child process reports what it saw in its exit status.
TEST(WriteOutputFailure, KeepsTheOldFileRemovesTheTemporaryAndSaysWhy) {
    orba::testing::TempDir dir;
    Put(dir.Path() / "out.json", "old");
    EXPECT_EQ(orba::testing::WriteUnderFileSizeLimit(
                  4096, [&] { WriteOutputFile(dir.Path() / "out.json", std::string(100000, 'x')); }),
              0)
        << "2: another reason, 3: no error";
    EXPECT_EQ(ReadFile(dir.Path() / "out.json"), "old");
    EXPECT_EQ(Names(dir.Path()), (std::set<std::string>{"out.json"}));
}

TEST(ReadInput, RefusesWhatIsNotABoundedRegularFile) {
    orba::testing::TempDir dir;
    Put(dir.Path() / "list.json", "{}");
    fs::create_directory(dir.Path() / "folder");
    ASSERT_EQ(::mkfifo((dir.Path() / "pipe").c_str(), 0600), 0);
    Put(dir.Path() / "big.json", std::string(1024 * 1024 + 1, ' '));
    fs::create_symlink("list.json", dir.Path() / "link.json");
    EXPECT_EQ(ReadInputFile(dir.Path() / "link.json"), "{}");
    const struct {
        fs::path path;
        const char* error;
    } refused[] = {
        {"/dev/zero", "is not a regular file (a device)"},
        {dir.Path() / "folder", "is not a regular file (a folder)"},
        {dir.Path() / "pipe", "is not a regular file (a pipe)"},
        {dir.Path() / "missing.json", "No such file or directory"},
        {dir.Path() / "big.json", "more than the limit of 1 MB for an input file; raise the limit with --max-input-mb"},
    };
    {
        const InputLimitScope limit(1);
        for (const auto& r : refused) {
            SCOPED_TRACE(r.path.string());
            const auto e = ErrorOf([&] { ReadInputFile(r.path); });
            EXPECT_NE(e.Description().find(r.error), std::string::npos) << e.Description();
        }
    }
    const InputLimitScope limit(2);
    EXPECT_EQ(ReadInputFile(dir.Path() / "big.json").size(), 1024u * 1024 + 1);
}

// Each thread reads under its own limit (a service's worker under the service's, a command
// under its own), whatever another thread has in force at the same moment.
TEST(ReadInput, EachThreadHasTheLimitOfItsOwnScope) {
    orba::testing::TempDir dir;
    Put(dir.Path() / "big.json", std::string(1024 * 1024 + 1, ' '));
    std::latch both_in_force(2);
    std::latch both_read(2);
    const auto read_under = [&](uint64_t megabytes, std::string& seen) {
        const InputLimitScope limit(megabytes);
        both_in_force.arrive_and_wait();
        seen = fmt::format("{} MB: ", InputLimitMb());
        try {
            seen += std::to_string(ReadInputFile(dir.Path() / "big.json").size());
        } catch (const platform::Error&) {
            seen += "refused";
        }
        both_read.arrive_and_wait();  // neither scope ends before both have read
    };
    std::string one, two;
    {
        std::jthread a([&] { read_under(1, one); });
        std::jthread b([&] { read_under(2, two); });
    }
    EXPECT_EQ(one, "1 MB: refused");
    EXPECT_EQ(two, "2 MB: 1048577");
    EXPECT_EQ(InputLimitMb(), kDefaultInputLimitMb) << "this thread never had a scope";
    {
        const InputLimitScope outer(5);
        { const InputLimitScope inner(7); EXPECT_EQ(InputLimitMb(), 7u); }
        EXPECT_EQ(InputLimitMb(), 5u) << "the outer limit comes back";
    }
}

// Compression and privacy are the caller's word; a name ending in .gz is compressed anyway,
// and the file read back is the text written.
TEST(WriteOutputForm, CompressesWhenAskedOrNamedSoAndKeepsPrivateFilesToTheirOwner) {
    const struct {
        const char* name;
        OutputForm form;
        bool gzip;
        fs::perms mode;
    } cases[] = {
        {"plain.json", {}, false, fs::perms(0640)},
        {"asked.json", {.compress = true}, true, fs::perms(0640)},
        {"named.json.gz", {}, true, fs::perms(0640)},
        {"private.json", {.owner_only = true}, false, fs::perms(0600)},
        {"both.json", {.compress = true, .owner_only = true}, true, fs::perms(0600)},
    };
    orba::testing::TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path path = dir.Path() / c.name;
        Put(path, "old");
        fs::permissions(path, fs::perms(0640));
        WriteOutputFile(path, "new text", c.form);
        EXPECT_EQ(ReadFile(path).starts_with("\x1f\x8b"), c.gzip);
        EXPECT_EQ(ReadInputFile(path), "new text");
        EXPECT_EQ(fs::status(path).permissions(), c.mode);
    }
}

TEST(ReadInput, RepeatedRequestsOfOneTypeAreKeptOnceInFirstOrder) {
    auto requests = platform::MakeRef<host::VariantVector>();
    for (int16_t type : {502, 501, 502, 503, 501, 501}) {
        auto item = platform::MakeRef<host::VariantDictionary>();
        item->Let(data::key::kBillType, platform::Variant(type));
        requests->Add(platform::Variant(item));
    }
    auto distinct = DistinctRequests(*requests);
    std::vector<int32_t> types;
    for (int32_t i = 1; i <= distinct->UpperBound(); ++i) {
        types.push_back(platform::ObjectAs<host::VariantDictionary>(distinct->Item(i))->Value("BillType").ToLong());
    }
    EXPECT_EQ(types, (std::vector<int32_t>{502, 501, 503}));
}

}  // namespace
}  // namespace orba::apps
