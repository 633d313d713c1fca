// The dispatch behind the plug-in's entry points, linked statically so that
// test-only plug-in functions can be registered beside the seven real ones.
#include <cstring>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ExpectedTexts.h"
#include "FunctionDispatch.h"
#include "PluginDispatch.h"
#include "PluginFactoryGuard.h"
#include "StatusCode.h"
#include "VorkException.h"
#include "VorkObjectFactoryCreator.h"

namespace {

using Properties = VorkSupport::VorkProperties<std::string>;

int g_alive = 0;
int g_created = 0;

// Answers according to the "mode" key and counts its instances.
class ScriptedFunction : public DataAccess::zua::FunctionDispatch<std::string> {
public:
    ScriptedFunction() {
        ++g_alive;
        ++g_created;
    }
    ~ScriptedFunction() override { --g_alive; }
    std::string execute(const Properties& properties) override {
        const std::string mode = properties.getProperty("mode", "");
        if (mode == "vork") throw VorkSupport::VorkException("failed", StatusCode::UnknownException);
        if (mode == "std") throw std::runtime_error("failed");
        if (mode == "alloc") throw std::bad_alloc();
        if (mode == "int") throw 42;
        if (mode == "empty") return std::string();
        if (mode == "nul") return std::string("ab\0cd", 5);
        // Echo the property list as the function sees it.
        std::string text;
        for (const std::string& key : properties.keys()) text += key + "=" + properties.getProperty(key, "") + ";";
        return text;
    }
};

// A registered object that is no plug-in function.
class NotAFunction : public VorkSupport::VorkObjectBase {
public:
    NotAFunction() { ++g_alive; }
    ~NotAFunction() override { --g_alive; }
};

std::string answerText(const std::vector<std::string>& entries, bool* isNull = nullptr) {
    std::vector<std::string> copies(entries);
    std::vector<char*> argv;
    for (std::string& entry : copies) argv.push_back(entry.data());
    char* answer = PluginDispatch::sendCmd(static_cast<int>(argv.size()), argv.data());
    if (isNull != nullptr) *isNull = answer == nullptr;
    std::string text = answer != nullptr ? answer : "<null>";
    PluginDispatch::freeData(answer);
    return text;
}

class PluginDispatchTest : public ::testing::Test {
protected:
    PluginDispatchTest()
        : m_scripted("zz-scripted", PluginFactoryGuard::factory()),
          m_notAFunction("zz-object", PluginFactoryGuard::factory()) {
        g_alive = 0;
        g_created = 0;
    }
    VorkSupport::VorkObjectFactoryCreator<ScriptedFunction> m_scripted;
    VorkSupport::VorkObjectFactoryCreator<NotAFunction> m_notAFunction;
};

TEST_F(PluginDispatchTest, EveryFailureGivesANullAnswerAndReleasesTheInstance) {
    for (const char* mode : {"vork", "std", "alloc", "int", "empty"}) {
        bool isNull = false;
        answerText({"zuacmd=zz-scripted", std::string("mode=") + mode}, &isNull);
        EXPECT_TRUE(isNull) << mode;
        EXPECT_EQ(g_alive, 0) << mode;
    }
    bool isNull = false;
    answerText({"zuacmd=zz-object"}, &isNull);
    EXPECT_TRUE(isNull);
    EXPECT_EQ(g_alive, 0);
    EXPECT_EQ(g_created, 5);
}

TEST_F(PluginDispatchTest, PropertyListIsBuiltFromTheWholeVector) {
    // The first value of a repeated key wins, a value keeps its own "=", an
    // entry without "=" is passed over, and a null entry is skipped.
    std::vector<std::string> entries = {"zuacmd=zz-scripted", "restart-params=a=b", "plain", "zuacmd=update", "key="};
    std::vector<char*> argv;
    for (std::string& entry : entries) argv.push_back(entry.data());
    argv.insert(argv.begin() + 2, nullptr);
    char* answer = PluginDispatch::sendCmd(static_cast<int>(argv.size()), argv.data());
    ASSERT_NE(answer, nullptr);
    EXPECT_STREQ(answer, "key=;restart-params=a=b;zuacmd=zz-scripted;");
    PluginDispatch::freeData(answer);

    // Only the counted entries are read.
    char* answer2 = PluginDispatch::sendCmd(1, argv.data());
    ASSERT_NE(answer2, nullptr);
    EXPECT_STREQ(answer2, "zuacmd=zz-scripted;");
    PluginDispatch::freeData(answer2);
    EXPECT_EQ(g_alive, 0);
}

TEST_F(PluginDispatchTest, AnswerStopsAtTheFirstNulAndEachCallHasItsOwnInstanceAndBuffer) {
    EXPECT_EQ(answerText({"zuacmd=zz-scripted", "mode=nul"}), "ab");

    std::string first = "zuacmd=zz-scripted";
    char* argv[] = {first.data()};
    char* a = PluginDispatch::sendCmd(1, argv);
    char* b = PluginDispatch::sendCmd(1, argv);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_NE(a, b);
    EXPECT_STREQ(a, b);
    PluginDispatch::freeData(a);
    PluginDispatch::freeData(b);
    PluginDispatch::freeData(nullptr);
    EXPECT_EQ(g_created, 3);
    EXPECT_EQ(g_alive, 0);
}

TEST(PluginDispatch, MissingOrUnusableVectorGivesANullAnswer) {
    bool isNull = false;
    answerText({"zuacmd"}, &isNull);
    EXPECT_TRUE(isNull);
    EXPECT_EQ(PluginDispatch::sendCmd(0, nullptr), nullptr);
    EXPECT_EQ(PluginDispatch::sendCmd(-1, nullptr), nullptr);
    EXPECT_EQ(PluginDispatch::sendCmd(3, nullptr), nullptr);
}

TEST(PluginDispatch, FunctionListFollowsTheRegistrations) {
    const std::string& seven = frametest::functionsText;
    EXPECT_EQ(answerText({"zuacmd=list-da-functions"}), seven);
    {
        // A registration lives exactly as long as its object.
        VorkSupport::VorkObjectFactoryCreator<ScriptedFunction> extra("dump", PluginFactoryGuard::factory());
        const std::string listed = answerText({"zuacmd=list-da-functions"});
        EXPECT_NE(listed.find("\t<Function name='clean' />\n\t<Function name='dump' />\n\t<Function name='progress'"),
                  std::string::npos)
            << listed;
    }
    EXPECT_EQ(answerText({"zuacmd=list-da-functions"}), seven);
    EXPECT_EQ(answerText({"zuacmd=dump"}), "<null>");
}

} // namespace
