// Helpers shared by the built-in class tables.
#include "script/library/LibrarySupport.h"

namespace LxScript {

void raiseOutOfRange(const Arguments& args, LxCore::f64 value) {
    LxCore::String text;
    text.sprintf("%lg", value);
    raise(args, Err::kOutOfRange, text);
}

const Variant& internalValueOf(const Arguments& args) {
    static const Variant undefined;
    if (Object* self = thisObject(args))
        return self->getPrivateValue();
    return args.thisValue ? *args.thisValue : undefined;
}

void internalValueHandler(Arguments& args) { *args.result = internalValueOf(args); }

}  // namespace LxScript
