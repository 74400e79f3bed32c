// Automatic numbering of the output file name, on the platform's drive C.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app_state.h"
#include "core/session.h"
#include "files/paths.h"
#include "test_session.h"

namespace {

class Numbering : public ::testing::Test {
protected:
    Numbering() : session_("noctil-numbering") {}

    static void Touch(const std::string &name)
    {
        std::filesystem::path path = plat::nativePath(name);
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path) << "taken";
    }

    // Runs the numbering on a copy of `name` in a field of the program's size.
    static std::string Number(const std::string &name, BOOL *result = nullptr)
    {
        char field[MAX_PATH] = {};
        snprintf(field, sizeof field, "%s", name.c_str());
        BOOL ok = NumberImageFile(field, sizeof field);
        if (result) *result = ok;
        return field;
    }

private:
    noctil::test::TestSession session_;
};

TEST_F(Numbering, TakesTheFirstFreeNumberAtOrAboveTheOneInTheName)
{
    struct Case {
        const char *before;
        std::vector<const char *> existing;
        const char *after;
    } cases[] = {
        {"C:\\Images.AVI", {}, "C:\\Images_000.AVI"},
        {"C:\\Images.AVI", {"C:\\Images_000.AVI"}, "C:\\Images_001.AVI"},
        {"C:\\Images_000.AVI", {"C:\\Images_000.AVI", "C:\\Images_001.AVI"}, "C:\\Images_002.AVI"},
        {"C:\\night_007.avi", {}, "C:\\night_007.avi"},
        {"C:\\night_007.avi", {"C:\\night_000.avi", "C:\\night_008.avi"}, "C:\\night_007.avi"},
        {"C:\\a.avi", {}, "C:\\a_000.avi"},
        {"a.avi", {}, "a_000.avi"},
        {"_001.avi", {}, "_001_000.avi"},
        {"ab_12.avi", {}, "ab_12_000.avi"},
        {"a_1234.avi", {}, "a_1234_000.avi"},
        {"run-003.avi", {}, "run-003_000.avi"},
        {"C:\\images.avi.old", {"C:\\images.avi.old"}, "C:\\images.avi.old"},
        {"C:\\x.Avi", {"C:\\x_000.Avi", "C:\\x_001.Avi", "C:\\x_002.Avi"}, "C:\\x_003.Avi"},
        {"C:\\run_099.avi", {"C:\\run_099.avi"}, "C:\\run_100.avi"},
        {".avi", {}, "_000.avi"},
        {"avi", {}, "avi"},
        {"C:\\a.avi.avi", {}, "C:\\a.avi_000.avi"},
        {"", {}, ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.before);
        for (const char *name : c.existing) Touch(name);
        BOOL ok = FALSE;
        EXPECT_EQ(Number(c.before, &ok), c.after);
        EXPECT_TRUE(ok);
        for (const char *name : c.existing) std::filesystem::remove(plat::nativePath(name));
    }
}

TEST_F(Numbering, ANameWithoutRoomForTheNumberIsRefused)
{
    for (size_t length = 252; length <= 259; length++) {
        SCOPED_TRACE(length);
        std::string name = std::string(length - 4, 'n') + ".avi";
        BOOL ok = TRUE;
        std::string after = Number(name, &ok);
        if (length <= 255) {
            EXPECT_TRUE(ok);
            EXPECT_EQ(after, std::string(length - 4, 'n') + "_000.avi");
            EXPECT_LE(after.size(), 259u);
        } else {
            EXPECT_FALSE(ok);
            EXPECT_EQ(after, name) << "the name is left as it was";
        }
    }
    // A long name that already has its number needs no room.
    std::string numbered = std::string(251, 'n') + "_004.avi";
    BOOL ok = FALSE;
    EXPECT_EQ(Number(numbered, &ok), numbered);
    EXPECT_TRUE(ok);
}

TEST_F(Numbering, TheSearchEndsWhenEveryNumberIsTaken)
{
    char name[32];
    for (int n = 0; n <= 999; n++) {
        snprintf(name, sizeof name, "C:\\full_%03d.avi", n);
        Touch(name);
    }
    BOOL ok = TRUE;
    EXPECT_EQ(Number("C:\\full.avi", &ok), "C:\\full.avi");
    EXPECT_FALSE(ok);
    EXPECT_EQ(Number("C:\\full_998.avi", &ok), "C:\\full_998.avi");
    EXPECT_FALSE(ok);

    std::filesystem::remove(plat::nativePath("C:\\full_999.avi"));
    EXPECT_EQ(Number("C:\\full_500.avi", &ok), "C:\\full_999.avi");
    EXPECT_TRUE(ok);
}

}  // namespace
