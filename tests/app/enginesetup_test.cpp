// Any user: the demo import, and an import into a catalogue root made, run as "nobody".
#include "app/enginesetup.h"

#include "childprocess.h"
#include "importtestsupport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

using namespace importtest;
using testing::HasSubstr;

namespace {

namespace fs = std::filesystem;

class TAnyUser : public testing::Test {
protected:
    void SetUp() override
    {
        if (geteuid() != 0)
            GTEST_SKIP() << "switching to an unprivileged account needs root";
        const passwd* nobody = ::getpwnam("nobody");
        if (!nobody)
            GTEST_SKIP() << "no account \"nobody\"";
        for (const char* tool : { "/usr/bin/setpriv", "/usr/bin/python3", "/usr/bin/cjpeg", "/usr/bin/djpeg" })
            if (::access(tool, X_OK) != 0)
                GTEST_SKIP() << tool << " is missing";
        std::string reason;
        if (!CreateCatalogue(Folder / "root.fdb", { { 1, 1 } }, reason))
            GTEST_SKIP() << "no embedded Firebird: " << reason;
        // The build and source trees need not be open to nobody: what it runs is copied into a
        // folder of its own, with a home folder and no runtime folder.
        MakeFolder(Folder / "scripts");
        MakeFolder(Folder / "home");
        MakeFolder(Folder / "images");
        fs::copy_file(IBI_SOURCE_DIR "/scripts/demo", Folder / "scripts/demo");
        fs::copy_file(IBI_SOURCE_DIR "/scripts/catalogue.sql", Folder / "scripts/catalogue.sql");
        fs::copy_file(ProgramPath(), Folder / "images-by-id");
        fs::copy_file(IBI_SOURCE_DIR "/tests/lsan.supp", Folder / "lsan.supp");
        WritePng(Folder / "images/1_1.png", 40, 30);
        ::chmod(Folder.Path().c_str(), 0755);
        for (const auto& entry : fs::recursive_directory_iterator(Folder.Path()))
            EXPECT_EQ(::lchown(entry.path().c_str(), nobody->pw_uid, nobody->pw_gid), 0);
        EXPECT_EQ(::chown(Folder.Path().c_str(), nobody->pw_uid, nobody->pw_gid), 0);
    }

    std::unique_ptr<TChildProcess> AsNobody(const std::vector<std::string>& command)
    {
        std::vector<std::string> args { "/usr/bin/setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups", "--" };
        args.insert(args.end(), command.begin(), command.end());
        return std::make_unique<TChildProcess>(args, std::vector<std::string> { "HOME=" + Folder / "home", "XDG_RUNTIME_DIR",
            "XDG_CACHE_HOME", "FIREBIRD_LOCK", "ISC_USER", "LSAN_OPTIONS=suppressions=" + Folder / "lsan.supp" });
    }

    TTempFolder Folder;
};

TEST_F(TAnyUser, DemoImportRuns)
{
    const auto demo = AsNobody({ Folder / "scripts/demo", Folder / "images-by-id" });
    ASSERT_TRUE(demo->Wait(std::chrono::minutes(8)));
    EXPECT_EQ(demo->Ending(), ExitEnding(0)) << demo->Out() << demo->Err();
    EXPECT_THAT(demo->Out(), HasSubstr("80 pictures imported, 80 thumbnails written"));
    EXPECT_THAT(demo->Out(), HasSubstr("== Thumbnails: 80 files"));
}

// The catalogue's tables belong to the account that made it; the import names their owner.
TEST_F(TAnyUser, ImportsIntoACatalogueAnotherAccountMade)
{
    const auto import = AsNobody({ Folder / "images-by-id", "import", "--db", Folder / "root.fdb", "--images",
        Folder / "images", "--thumbs", Folder / "thumbs", "--kind", "front", "--set-folder" });
    ASSERT_TRUE(import->Wait(std::chrono::minutes(2)));
    EXPECT_EQ(import->Ending(), ExitEnding(0)) << import->Err();
    EXPECT_EQ(import->Err(), "");
    EXPECT_THAT(import->Out(), HasSubstr("1 pictures imported, 1 thumbnails written"));
    EXPECT_EQ(Query(Folder / "root.fdb", "SELECT \"imgpath\" FROM thumbnails"), (TRows { { "1_1.png" } }));
    // Where nobody cannot write the default lock folder, it got one of its own.
    const std::string folder = DefaultLockFolder;
    const auto test = AsNobody({ "/bin/sh", "-c", "[ ! -e " + folder + " ] || [ -w " + folder + " ]" });
    ASSERT_TRUE(test->Wait(std::chrono::minutes(1)));
    EXPECT_EQ(fs::is_directory(Folder / "home/.cache/images-by-id/firebird"), test->Ending() != ExitEnding(0));
}

} // namespace
