#include "document/access_level.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <vector>

#include "support/message_recorder.h"

namespace {

// Types the given answers in turn; nothing left means the user cancels.
class ScriptedPrompt : public PasswordPrompt {
  public:
    explicit ScriptedPrompt(std::vector<std::string> answers) : answers_(std::move(answers)) {
        SetPasswordPrompt(this);
    }
    ~ScriptedPrompt() override { SetPasswordPrompt(nullptr); }
    std::optional<std::string> Ask(const std::string& text) override {
        asked.push_back(text);
        if (answers_.empty()) return std::nullopt;
        std::string a = answers_.front();
        answers_.erase(answers_.begin());
        return a;
    }
    std::vector<std::string> asked;

  private:
    std::vector<std::string> answers_;
};

class AccessTest : public ::testing::Test {
  protected:
    void SetUp() override { Access::SetLevel(Access::kFull); }
    void TearDown() override {
        Access::SetLevel(Access::kFull);
        std::filesystem::remove(SettingsStore::Instance().SystemPath());
        std::filesystem::remove(SettingsStore::Instance().UserPath());
    }
    void Passwords(const std::string& layerPath, const std::string& mid, const std::string& max) {
        std::ofstream(layerPath) << "[SelvarM]\npassword_mid_level=" << mid
                                 << "\npassword_max_level=" << max << "\n";
    }
};

}  // namespace

TEST_F(AccessTest, PasswordsComeFromTheSystemLayerOnly) {
    SettingStatus s;
    EXPECT_EQ(Access::Password(Access::kMiddle, &s), "");
    EXPECT_EQ(s, SettingStatus::KeyMissing);
    EXPECT_EQ(Access::Password(Access::kFull), "7");
    Passwords(SettingsStore::Instance().UserPath(), "mine", "mine");
    EXPECT_EQ(Access::Password(Access::kFull), "7");
    Passwords(SettingsStore::Instance().SystemPath(), "m1d", "Max");
    EXPECT_EQ(Access::Password(Access::kMiddle), "m1d");
    EXPECT_EQ(Access::Password(Access::kFull), "Max");
}

TEST_F(AccessTest, FullLevelOpensAnyFileWithoutAsking) {
    ScriptedPrompt prompt({});
    EXPECT_TRUE(Access::TakeOverFileLevel(Access::kFull, false));
    EXPECT_TRUE(Access::TakeOverFileLevel(Access::kMinimal, false));
    EXPECT_EQ(Access::Level(), Access::kMinimal);
    EXPECT_TRUE(prompt.asked.empty());
}

TEST_F(AccessTest, RaisingTheLevelNeedsItsPassword) {
    Access::SetLevel(Access::kMinimal);
    MessageRecorder boxes;
    ScriptedPrompt prompt({"wrong", "7"});
    EXPECT_TRUE(Access::TakeOverFileLevel(Access::kFull, false));
    EXPECT_EQ(Access::Level(), Access::kFull);
    EXPECT_EQ(prompt.asked.size(), 2u);
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].text, "Введен неверный пароль!");
    EXPECT_EQ(boxes.boxes[0].icon, MessageIcon::Error);
}

TEST_F(AccessTest, CancellingKeepsTheLevelItWas) {
    Access::SetLevel(Access::kMinimal);
    ScriptedPrompt prompt({});
    EXPECT_FALSE(Access::TakeOverFileLevel(Access::kFull, false));
    EXPECT_EQ(Access::Level(), Access::kMinimal);
}

TEST_F(AccessTest, NoQuestionWithoutAPasswordOrInACommandLineRun) {
    Access::SetLevel(Access::kMinimal);
    ScriptedPrompt prompt({});
    EXPECT_TRUE(Access::TakeOverFileLevel(Access::kMiddle, false));  // empty middle password
    EXPECT_EQ(Access::Level(), Access::kMiddle);
    Access::SetLevel(Access::kMinimal);
    EXPECT_TRUE(Access::TakeOverFileLevel(Access::kFull, true));
    EXPECT_EQ(Access::Level(), Access::kFull);
    EXPECT_TRUE(prompt.asked.empty());
}

TEST_F(AccessTest, CommandsFollowTheLevel) {
    Access::SetLevel(Access::kMinimal);
    EXPECT_FALSE(Access::CommandAllowed(263, false));
    EXPECT_FALSE(Access::CommandAllowed(302, false));
    EXPECT_TRUE(Access::CommandAllowed(272, false));
    Access::SetLevel(Access::kMiddle);
    EXPECT_TRUE(Access::CommandAllowed(263, false));
    EXPECT_FALSE(Access::CommandAllowed(32858, false));
    Access::SetLevel(Access::kFull);
    EXPECT_TRUE(Access::CommandAllowed(303, false));
    EXPECT_FALSE(Access::CommandAllowed(303, true));
    EXPECT_EQ(Access::LevelName(Access::kMiddle), "Ограниченный (средний) доступ");
}
