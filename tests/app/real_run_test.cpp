#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QRadioButton>
#include <QTreeWidgetItem>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/choice_pages.h"
#include "app/folder_pages.h"
#include "app/setup_run_factory.h"
#include "tests/app/app_test_support.h"
#include "tools/market-sim/sim_market.h"
#include "tools/market-sim/sim_server.h"

namespace {

namespace fs = std::filesystem;

// The whole wizard with the real run against a small simulated market on
// 127.0.0.1: every kind of issue, margin balances, the archive, from last
// year on.
TEST_F(WizardFixture, RealRunAgainstTheSimulatedMarket) {
  ScopedEnv no_proxy("no_proxy", "*");
  CSimMarketOptions options;
  options.seed = 5;
  options.issueCount = 12;
  options.firstYear = CDate::Today().year - 1;
  const CSimMarket market(options);
  CSimServer server(market, CSimServerOptions{});
  ASSERT_TRUE(server.Start());
  const auto variables = server.Environment();
  std::vector<std::unique_ptr<ScopedEnv>> env;
  for (const auto& [name, value] : variables) {
    env.push_back(std::make_unique<ScopedEnv>(name.c_str(), value.c_str()));
  }

  Make({}, MakeSetupRun);
  Next();
  wizard_->FolderPage()->Edit()->setText(QFile::decodeName(temp_.Sub("db").c_str()));
  Next();
  Find<QRadioButton>("1014")->click();
  Next();
  for (int item = CRunOptions::kEtf; item <= CRunOptions::kOtherMarkets; ++item) {
    wizard_->CategoryPage()->Item(CRunOptions::MarketItem(item))->setCheckState(0, Qt::Checked);
  }
  Next();
  Find<QComboBox>("1002")->setCurrentIndex(Find<QComboBox>("1002")->count() - 2);
  Next();
  Find<QCheckBox>("1004")->setChecked(true);
  for (int i = 0; i < 3; ++i) Next();
  ASSERT_EQ(wizard_->currentId(), CCustomWizard::kWorkerPage);
  CWorkerPage* page = wizard_->WorkerPage();
  ASSERT_TRUE(WaitUntil([page] {
    page->Refresh();
    return page->state() != CWorkerPage::State::kRunning;
  }, 120));
  ASSERT_FALSE(boxes_.empty());
  ASSERT_EQ(boxes_.size(), 1u) << boxes_[0].text.toStdString();
  EXPECT_EQ(boxes_[0].text, QStringLiteral("ダウンロードを完了しました"));

  const std::string db = temp_.Sub("db");
  EXPECT_TRUE(fs::is_regular_file(db + "/stock.mdb"));
  EXPECT_TRUE(fs::is_regular_file(db + "/daily/quick2.dat"));
  EXPECT_TRUE(fs::is_regular_file(db + "/margin/quickmg2.dat"));
  auto count = [](const std::string& folder) {
    return std::distance(fs::directory_iterator(folder), fs::directory_iterator());
  };
  // More charts than the fourteen built-in issues have: listed issues came
  // too; margin files beside "quickmg2.dat".
  EXPECT_GT(count(db + "/daily"), 15);
  EXPECT_GT(count(db + "/margin"), 1);
  EXPECT_EQ(server.LogPosts().size(), 1u);
  Next();
  EXPECT_EQ(wizard_->currentId(), CCustomWizard::kEndPage);
}

}  // namespace
