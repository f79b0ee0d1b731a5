#include "korvel/settings.h"

#include "test_support.h"

namespace {

using korvel::test::readText;
using korvel::test::TempDir;
using korvel::test::writeText;

class Settings : public ::testing::Test {
 protected:
  void TearDown() override { SettingsManager::resetForTesting((dir / "unused.ini").string()); }
  SettingsManager& open() {
    SettingsManager::resetForTesting(ini().string());
    return SettingsManager::sharedInstance();
  }
  std::filesystem::path ini() const { return dir / "korvel.ini"; }
  TempDir dir;
};

TEST_F(Settings, FirstRunWritesTheNineteenDefaultsInKeyOrder) {
  open();
  const std::string expected =
      "BTN_BASE_US=5.0\nBTN_BOUNCE=1.0\nBTN_MAX_BOUNCE=10.0\nBTN_MIN_BOUNCE=1.0\n"
      "BTN_SIGMA=1.0\nBTN_UP_BOUNCE_RATE=2.0\nBTN_US_RANGE=3.0\nPOTMETER_BOUNCE=1.0\n"
      "POTMETER_PERC_OF_RAND=1.0\nPOTMETER_SIGMA=0.005\nSCALE_CUSTOM=0.0\n"
      "SCALE_CUSTOM_VALUE=1.0\nSCALE_RIT=0.0\nSCALE_TIM0=0.0\nSCALE_TIM1=0.0\nSCALE_TIM2=0.0\n"
      "SCALE_TIM3=0.0\nSIN_TABLE_SIZE=45.0\nSPEAKER_IN_DLL_VOLUME=10.0\n";
  EXPECT_EQ(readText(ini()), expected);
}

TEST_F(Settings, AKeyMissingFromAnExistingFileStaysMissing) {
  writeText(ini(), "SCALE_CUSTOM=1\n% a comment\n");
  auto& s = open();
  float v = 42.0f;
  EXPECT_EQ(s.getValueWithKey("SCALE_CUSTOM_VALUE", v), 0);
  EXPECT_EQ(v, 42.0f);
  EXPECT_EQ(s.getValueWithKey("SCALE_CUSTOM_VALUE"), 0.0f);
  EXPECT_EQ(readText(ini()), "SCALE_CUSTOM=1\n") << "rewritten in key order without comments";
}

TEST_F(Settings, RepeatedKeysReadTheFirstValueUntilSetCollapsesThem) {
  writeText(ini(), "X=1\nX=2\n");
  auto& s = open();
  EXPECT_EQ(s.getValueWithKey("X"), 1.0f);
  EXPECT_EQ(readText(ini()), "X=1\nX=2\n");
  s.setValueWithKey("X", 3.0f);
  EXPECT_EQ(s.Save(), 1);
  EXPECT_EQ(readText(ini()), "X=3.000000\n");
}

TEST_F(Settings, ValuesReadTheirNumericPrefixAndTextWithoutOneCountsAsMissing) {
  writeText(ini(), "A= 10.0 ms\nB=abc\nC=1e99\n");
  auto& s = open();
  EXPECT_EQ(s.getValueWithKey("A"), 10.0f);
  float v = 7.0f;
  EXPECT_EQ(s.getValueWithKey("B", v), 0);
  EXPECT_EQ(v, 7.0f);
  EXPECT_EQ(s.getValueWithKey("C", v), 0) << "out of the float range";
  EXPECT_NE(readText(ini()).find("B=abc"), std::string::npos) << "the stored text stays as it was";
}

TEST_F(Settings, SetValuesReachTheFileOnSaveOrWhenTheStoreGoes) {
  auto& s = open();
  s.setValueWithKey("SCALE_CUSTOM_VALUE", 0.005f);
  EXPECT_NE(readText(ini()).find("SCALE_CUSTOM_VALUE=1.0\n"), std::string::npos) << "not written yet";
  SettingsManager::resetForTesting((dir / "other.ini").string());  // destroys the store
  EXPECT_NE(readText(ini()).find("SCALE_CUSTOM_VALUE=0.005000\n"), std::string::npos);

  auto& again = open();
  std::filesystem::remove(ini());
  EXPECT_EQ(again.Save(), 1) << "Save rewrites even without a change";
  EXPECT_TRUE(std::filesystem::exists(ini()));
}

TEST_F(Settings, AReadOnlyFileIsReadButNeverRewritten) {
  writeText(ini(), "SCALE_CUSTOM=1\nBTN_BOUNCE=0\n");
  namespace fs = std::filesystem;
  fs::permissions(ini(), fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  auto& s = open();
  EXPECT_EQ(s.getValueWithKey("BTN_BOUNCE"), 0.0f) << "the stored values are used";
  s.setValueWithKey("BTN_BOUNCE", 1.0f);
  EXPECT_EQ(s.getValueWithKey("BTN_BOUNCE"), 1.0f) << "changes hold for this run";
  EXPECT_EQ(s.Save(), 0) << "saving over a read-only file reports failure";
  SettingsManager::resetForTesting((dir / "other.ini").string());  // the store goes: no save either
  EXPECT_EQ(readText(ini()), "SCALE_CUSTOM=1\nBTN_BOUNCE=0\n") << "the user's file was changed";
  EXPECT_EQ(fs::status(ini()).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
}

TEST_F(Settings, ConcurrentReadersAndWritersSeeWholeValues) {
  auto& s = open();
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&s, t] {
      for (int i = 0; i < 500; ++i) {
        s.setValueWithKey("K" + std::to_string(t), static_cast<float>(i));
        float v = s.getValueWithKey("K" + std::to_string(t));
        ASSERT_EQ(v, static_cast<float>(i));
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(s.Save(), 1);
}

}  // namespace
