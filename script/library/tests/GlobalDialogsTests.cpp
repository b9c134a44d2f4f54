// The script dialogs on this platform (an alert goes to standard error, a
// question answers its default, a prompt null) and the live-object
// interface's answers for values without XML.
#include <gtest/gtest.h>

#include "core/Array.h"
#include "core/Error.h"
#include "core/LiveObject.h"
#include "script/composition/InitTerm.h"
#include "script/composition/jsEngine.h"
#include "script/library/GlobalDialogs.h"

namespace LxScript {
namespace {

using LxCore::String;
using LxCore::Variant;

class GlobalDialogsTest : public ::testing::Test {
protected:
    void SetUp() override {
        InitTerm::init();
        self = new LxCore::LiveObject("global", true);
        dialogs = new GlobalDialogs;
    }
    void TearDown() override {
        errors.clear();     // its records live on the core's heap
        dialogs->release();
        self->release();
        InitTerm::exit();
    }
    i32 call(i32 id, std::initializer_list<Variant> values, Variant& result) {
        LxCore::Array args;
        u32 i = 0;
        for (const Variant& v : values)
            args.getOrCreate(i++) = v;
        return dialogs->call(*self, id, args, result, &errors);
    }

    LxCore::LiveObject* self = nullptr;
    GlobalDialogs* dialogs = nullptr;
    LxCore::Error errors;
};

TEST_F(GlobalDialogsTest, AnswersOnThisPlatform) {
    Variant result;
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(call(GlobalDialogs::kAlert, {Variant("hello")}, result), 0);
    EXPECT_EQ(call(GlobalDialogs::kAlert, {Variant("body"), Variant("Title")}, result), 0);
    const std::string shown = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(shown.find("hello"), std::string::npos) << shown;
    EXPECT_NE(shown.find("Title: body"), std::string::npos) << shown;
    EXPECT_EQ(result.getType(), Variant::kUndefined) << "alert leaves the result alone";

    const struct {
        std::initializer_list<Variant> args;
        bool answer;
    } questions[] = {
        {{Variant("q")}, true},
        {{Variant("q"), Variant(true)}, false},
        {{Variant("q"), Variant(false), Variant("T")}, true},
    };
    for (const auto& q : questions) {
        Variant answer;
        EXPECT_EQ(call(GlobalDialogs::kConfirm, q.args, answer), 0);
        EXPECT_EQ(answer.getType(), Variant::kBoolean);
        EXPECT_EQ(answer.toBoolean(), q.answer);
    }

    Variant typed("x");
    EXPECT_EQ(call(GlobalDialogs::kPrompt, {Variant("name?"), Variant("preset")}, typed), 0);
    EXPECT_EQ(typed.getType(), Variant::kNull);
}

TEST_F(GlobalDialogsTest, UnknownIdIs24) {
    Variant result;
    EXPECT_EQ(call(i32(LxCore::fourCharCode("TVXX")), {}, result), 24);
    EXPECT_EQ(errors.getCode(), 24);
    EXPECT_EQ(GlobalDialogs::getPropertyTable()[3].name, nullptr);
}

TEST_F(GlobalDialogsTest, LiveInterfaceGivesNoNodeForPlainValues) {
    std::unique_ptr<jsEngine> engine(new jsEngine);
    auto* live = static_cast<LiveObjectAPI*>(engine->getAPI(API::kLiveObject));
    ASSERT_NE(live, nullptr);
    EXPECT_EQ(live->getXML(Variant(1.0)), nullptr);
    EXPECT_EQ(&live->getGlobalObject(), engine->getGlobalLiveObject());
}

}  // namespace
}  // namespace LxScript
