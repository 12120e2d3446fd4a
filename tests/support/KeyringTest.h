#pragma once

#include "KeychainService.h"

#include <gtest/gtest.h>

// Tests that use the test desktop's keyring start and end without a stored token.
class KeyringTest : public ::testing::Test {
protected:
    void SetUp() override { KeychainService::deleteToken(); }
    void TearDown() override { KeychainService::deleteToken(); }
};
