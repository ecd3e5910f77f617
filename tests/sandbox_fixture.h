// A fresh sandbox laid out like the board, with the firmware's device paths
// mapped into it and firmware time at speed(); removed afterwards.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "sandbox.h"
#include "sim_platform.h"

class SandboxTest : public ::testing::Test {
  protected:
    virtual double speed() const { return 1.0; }

    void SetUp() override {
        root_ = sim::makeTempRoot();
        ASSERT_FALSE(root_.empty());
        std::string error;
        ASSERT_TRUE(sim::makeSandbox(root_, error)) << error;
        sim::configure(root_, speed());
    }

    void TearDown() override {
        sim::configure("", 1.0);
        std::error_code ec;
        std::filesystem::remove_all(root_, ec);
    }

    std::string root_;
};
