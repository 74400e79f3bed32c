// The converter's command line.
#include <gtest/gtest.h>

#include "options.h"

namespace {

using noctil::convert::OutputKind;
using noctil::convert::parseOptions;

TEST(ConverterOptions, ValidCommandLines) {
    std::string error;
    auto o = parseOptions({"M42_003.AVI"}, error);
    ASSERT_TRUE(o) << error;
    EXPECT_EQ(o->input, "M42_003.AVI");
    EXPECT_EQ(o->kind, OutputKind::Fits);
    EXPECT_TRUE(o->useLog);
    EXPECT_FALSE(o->log);
    EXPECT_FALSE(o->outputDirectory);
    EXPECT_FALSE(o->force);

    o = parseOptions({"--ser", "--log", "night.txt", "-o", "out", "--force", "n.avi"}, error);
    ASSERT_TRUE(o) << error;
    EXPECT_EQ(o->kind, OutputKind::Ser);
    EXPECT_EQ(o->log, std::filesystem::path("night.txt"));
    EXPECT_EQ(o->outputDirectory, std::filesystem::path("out"));
    EXPECT_TRUE(o->force);
    EXPECT_EQ(o->input, "n.avi");

    o = parseOptions({"--no-log", "--output", "d", "--", "-odd name.avi"}, error);
    ASSERT_TRUE(o) << error;
    EXPECT_FALSE(o->useLog);
    EXPECT_EQ(o->input, "-odd name.avi");

    o = parseOptions({"--stack", "--darks", "lib", "--flats", "flats", "night.avi"}, error);
    ASSERT_TRUE(o) << error;
    EXPECT_EQ(o->kind, OutputKind::Stack);
    EXPECT_EQ(o->darks, std::filesystem::path("lib"));
    EXPECT_EQ(o->flats, std::filesystem::path("flats"));

    o = parseOptions({"--help"}, error);
    ASSERT_TRUE(o) << error;
    EXPECT_TRUE(o->help);

    // --version needs no input file either.
    o = parseOptions({"--version"}, error);
    ASSERT_TRUE(o) << error;
    EXPECT_TRUE(o->version);
    EXPECT_FALSE(o->help);
}

TEST(ConverterOptions, RefusedCommandLines) {
    const struct {
        std::vector<std::string> args;
        const char *error;
    } cases[] = {
        {{}, "no input file"},
        {{"a.avi", "b.avi"}, "one input file, not two"},
        {{"--fits", "--ser", "a.avi"}, "--fits, --ser and --stack exclude each other"},
        {{"--stack", "--ser", "a.avi"}, "--fits, --ser and --stack exclude each other"},
        {{"--stack", "a.avi", "--darks"}, "--darks needs a library folder"},
        {{"--darks", "d", "a.avi"}, "--darks and --flats go with --stack"},
        {{"--ser", "--flats", "f", "a.avi"}, "--darks and --flats go with --stack"},
        {{"--log"}, "--log needs a file name"},
        {{"a.avi", "-o"}, "-o needs a directory"},
        {{"a.avi", "--output", ""}, "--output needs a directory"},
        {{"--overwrite", "a.avi"}, "unknown option --overwrite"},
        {{"--log", "x.log", "--no-log", "a.avi"}, "--log and --no-log exclude each other"},
        {{"a.avi", "--", "b.avi"}, "one input file, not two"},
    };
    for (const auto &c : cases) {
        std::string error;
        EXPECT_FALSE(parseOptions(c.args, error)) << c.error;
        EXPECT_EQ(error, c.error);
    }
}

}  // namespace
