// What the library's C++ tests share: the engine library started with the
// concrete engine, and a script evaluated into its error number and the
// text of its value.
#pragma once
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "core/String.h"
#include "script/composition/InitTerm.h"
#include "script/composition/jsEngine.h"

namespace LxScript {

class LibraryTest : public ::testing::Test {
protected:
    void SetUp() override {
        InitTerm::init();
        engine.reset(new jsEngine);
        engine->initialize();
    }
    void TearDown() override {
        engine.reset();
        InitTerm::exit();
    }

    // The error number the script ends with (0: none); its value's text in out.
    i32 run(const std::u16string& source, std::u16string* out = nullptr) {
        engine->clearError();
        Variant result;
        engine->eval(LxCore::String(reinterpret_cast<const LxCore::unit*>(source.c_str()), i32(source.size())),
                     &result, 0, 0, nullptr, nullptr);
        if (out) {
            const LxCore::String text = result.toString();
            out->assign(reinterpret_cast<const char16_t*>(text.chars()), size_t(text.length()));
        }
        return engine->getError().getCode();
    }

    std::unique_ptr<jsEngine> engine;
};

}  // namespace LxScript
