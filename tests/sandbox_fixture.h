// A fresh sandbox laid out like the board, with the firmware's device paths
// mapped into it; removed afterwards.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "sim/sim_platform.h"
#include "sim/stick/sandbox.h"

class SandboxTest : public ::testing::Test {
  protected:
    void SetUp() override {
        root_ = sim::makeTempRoot();
        ASSERT_FALSE(root_.empty());
        std::string error;
        ASSERT_TRUE(sim::makeSandbox(root_, error)) << error;
        sim::configure(root_);
    }

    void TearDown() override {
        sim::configure("");
        std::error_code ec;
        std::filesystem::remove_all(root_, ec);
    }

    std::string root_;
};
