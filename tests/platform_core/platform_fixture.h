// A fresh platform for each test: a session on the virtual clock whose root
// is a new temporary directory, removed again afterwards.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>

#include "core/session.h"
#include "display/display.h"

class PlatformTest : public testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (std::filesystem::temp_directory_path() / "noctil-core-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        root_ = pattern;
        plat::SessionOptions options;
        options.root = root_;
        options.virtualClock = true;
        session_ = std::make_unique<plat::Session>(std::move(options));
    }

    void TearDown() override {
        session_.reset();
        std::error_code ec;
        std::filesystem::remove_all(root_, ec);
    }

    const std::filesystem::path &root() const { return root_; }
    void endSession() { session_.reset(); }

    static std::string readAll(const std::filesystem::path &file) {
        std::ifstream in(file, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    static void writeAll(const std::filesystem::path &file, std::string_view text) {
        std::filesystem::create_directories(file.parent_path());
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
    }

private:
    std::filesystem::path root_;
    std::unique_ptr<plat::Session> session_;
};
