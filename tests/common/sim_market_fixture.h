#ifndef TICKORA_TESTS_COMMON_SIM_MARKET_FIXTURE_H_
#define TICKORA_TESTS_COMMON_SIM_MARKET_FIXTURE_H_

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/common/scoped_env.h"
#include "tests/common/temp_dir.h"
#include "tests/market_sim/sim_test_market.h"
#include "tools/market-sim/sim_server.h"

// A simulated market served in-process (the small market unless the test
// serves another), every site address pointed at it, no proxy in the way,
// and the temporary folder at a folder of the test's own.
class SimMarketFixture : public ::testing::Test {
 protected:
  void SetUp() override { Serve(SmallMarket()); }

  void Serve(const CSimMarket& market, const CSimServerOptions& options = {}) {
    sites_.clear();
    server_ = std::make_unique<CSimServer>(market, options);
    ASSERT_TRUE(server_->Start());
    for (const auto& [name, value] : server_->Environment()) {
      sites_.push_back(std::make_unique<ScopedEnv>(name.c_str(), value.c_str()));
    }
  }

  // Adds a fault written as the simulator's option takes it; its id.
  int AddFault(const std::string& text) {
    CSimFault fault;
    EXPECT_TRUE(ParseSimFault(text, fault)) << text;
    return server_->AddFault(fault);
  }

  ScopedEnv noProxy_{"no_proxy", "*"};
  ScopedEnv noProxyUpper_{"NO_PROXY", "*"};
  TempDir tmp_;
  ScopedEnv tmpdir_{"TMPDIR", tmp_.path().c_str()};
  std::vector<std::unique_ptr<ScopedEnv>> sites_;
  std::unique_ptr<CSimServer> server_;
};

#endif  // TICKORA_TESTS_COMMON_SIM_MARKET_FIXTURE_H_
