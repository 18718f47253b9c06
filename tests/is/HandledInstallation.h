// Fixture base: an installation whose project handler answers the
// installation's interfaces, as the engineering system's handler does, so
// that type objects given the holder reach the installation back.
#pragma once

#include "is/CZEBIntInstallation.h"
#include "samples/CSampleProjectHdl.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

namespace zeb::test {

class HandledInstallation : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(CZEBIntInstallation::createObject(&inst), S_OK);
        ASSERT_EQ(CSampleProjectHdl::createObject(&hdl), S_OK);
        hdl->setInstallation(static_cast<IMC_Installation*>(inst.get()));
        ComPtr<IMC_PrjHdlHolder> holder;
        hdl->getProjectHdlHolder(&holder);
        inst->setPrjHdlHolder(holder);
    }
    void TearDown() override {
        inst.Release(); // cached objects die and call back through the handler
        hdl->setInstallation(nullptr);
    }

    TempDir dir;
    ScopedEnv registry{"ZEB_REGISTRY", dir.file("registry.reg")};
    ComPtr<CZEBIntInstallation> inst;
    ComPtr<CSampleProjectHdl> hdl;
};

} // namespace zeb::test
