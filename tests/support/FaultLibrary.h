#pragma once
// A test fixture that runs the socket layer on the fault-injecting variant of the
// socket library, with its knobs at hand and put back after each test. For test
// binaries that link the socket layer (vt_net).

#include "net/Winsock32.h"
#include "platform/winsock/FaultControl.h"

#include <gtest/gtest.h>

namespace vt::test {

class TFaultLibraryTest : public ::testing::Test {
protected:
    void SetUp() override {
        WSocketUnload();
        vt::SetWinsockLibraryName("wsock32-fault.dll");
        Set = reinterpret_cast<VtFaultSetProc>(WSocketLoadProc("VtFaultSet"));
        Reset = reinterpret_cast<VtFaultResetProc>(WSocketLoadProc("VtFaultReset"));
        ASSERT_TRUE(Set && Reset);
        Reset();
    }
    void TearDown() override {
        if (Reset) Reset();
        vt::SetWinsockLibraryName("");
        WSocketUnload();
    }

    VtFaultSetProc Set = nullptr;
    VtFaultResetProc Reset = nullptr;
};

} // namespace vt::test
