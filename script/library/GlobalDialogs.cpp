#include "script/library/GlobalDialogs.h"

#include "core/Dialogs.h"
#include "core/ErrorCodes.h"
#include "core/XML.h"
#include "script/engine/RealEngine.h"

namespace LxScript {

using LxCore::String;
using LxCore::Variant;
namespace Err = LxCore::Err;

namespace {

const LxCore::LivePropertyInfo kTable[] = {
    {"alert", GlobalDialogs::kAlert, 0x70065, "undefined,prompt:string"},
    {"confirm", GlobalDialogs::kConfirm, 0x70065, "boolean,prompt:string"},
    {"prompt", GlobalDialogs::kPrompt, 0x70065, "string,prompt:string"},
    {nullptr, 0, 0, nullptr},
};

const XMLBridge* xmlBridge = nullptr;

bool isUndefined(const Variant& v) { return v.getType() == Variant::kUndefined; }

// A missing argument reads as undefined, and so as its text.
const Variant& argument(const LxCore::Array& args, u32 i) {
    static const Variant undefined;
    const Variant* v = args.get(i);
    return v ? *v : undefined;
}

}  // namespace

GlobalDialogs::GlobalDialogs() { propertyManager = new LxCore::LivePropertyManager(kTable); }

GlobalDialogs::~GlobalDialogs() { delete propertyManager; }

const LxCore::LivePropertyInfo* GlobalDialogs::getPropertyTable() { return kTable; }

i32 GlobalDialogs::call(LxCore::LiveObject& self, i32 id, const LxCore::Array& args, Variant& result,
                        LxCore::Error* error) {
    if (id != kAlert && id != kConfirm && id != kPrompt)
        return self.setPropertyError(Err::kNotAFunction, id, error);
    const i32 status = LxCore::statusOf([&] {
        const Variant& first = argument(args, 0);
        const Variant& second = argument(args, 1);
        const Variant& third = argument(args, 2);
        const String text = first.toString();
        const String secondText = second.toString();
        const String thirdText = isUndefined(third) ? String() : third.toString();
        if (id == kAlert) {
            if (!isUndefined(second))
                LxCore::showAlert(secondText, text, third.toBoolean());
            else
                LxCore::showAlert(String(), text);
        } else if (id == kConfirm) {
            result.setBool(LxCore::showConfirm(thirdText, text, !second.toBoolean()));
        } else {
            LxCore::showPrompt(thirdText, text, secondText, result);
        }
        return 0;
    });
    if (status != 0)
        return self.setPropertyError(status, id, error);
    // A time-out or halt raised while the dialog was open reaches the caller.
    if (auto* engine = static_cast<RealEngine*>(Engine::getCurrent())) {
        engine->checkTimeoutNow();
        return engine->getError().getCode();
    }
    return 0;
}

LiveObjectAPI::LiveObjectAPI(RealEngine& engine) : API(engine, API::kLiveObject), real(engine) {}

LxCore::LiveObject& LiveObjectAPI::getGlobalObject() const { return *real.getGlobalLiveObject(); }

void LiveObjectAPI::setGlobalObject(LxCore::LiveObject& live) const { real.setGlobalLiveObject(&live); }

LxCore::XML* LiveObjectAPI::getXML(const Variant& value) const {
    return xmlBridge ? xmlBridge->nodeOf(value, true) : nullptr;
}

void LiveObjectAPI::makeXMLObject(const LxCore::XML& node, Variant& result) const {
    result.clear();
    if (!xmlBridge)
        return;
    // The wrapper takes a reference of its own; the caller's stays.
    auto& shared = const_cast<LxCore::XML&>(node);
    shared.addRef();
    xmlBridge->wrap(&shared, result);
    shared.release();
}

void setXMLBridge(const XMLBridge* bridge) { xmlBridge = bridge; }

}  // namespace LxScript
