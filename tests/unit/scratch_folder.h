// A fresh temporary folder made current for one test, removed afterwards with
// the directory that was current before restored.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

class ScratchFolderTest : public ::testing::Test {
   protected:
    void SetUp() override {
        char pattern[] = "/tmp/vnupdate-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root_ = pattern;
        ASSERT_NE(getcwd(saved_, sizeof saved_), nullptr);
        ASSERT_EQ(chdir(root_.c_str()), 0);
    }
    void TearDown() override {
        ASSERT_EQ(chdir(saved_), 0);
        std::string command = "rm -rf '" + root_ + "'";
        ASSERT_EQ(system(command.c_str()), 0);
    }
    std::string root_;
    char saved_[4096];
};
