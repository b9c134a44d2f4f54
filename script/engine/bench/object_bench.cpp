// Speed of the script object model: property reads and writes, inherited
// hits and misses, index fills, revivals and map-like churn. A program, not
// a test: run it on a release build and compare with docs/performance.md.
//
//     tavrel_object_bench [scale [case]]   (scale 1 = the figures in docs/performance.md;
//                                          case: run only the cases whose
//                                          label holds this text)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "script/composition/InitTerm.h"
#include "script/engine/Function.h"
#include "script/engine/Property.h"
#include "script/engine/tests/TestEngine.h"

using namespace LxScript;
using Clock = std::chrono::steady_clock;

namespace {

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

DataPoolId sym(const char* text) { return DataPool::get().add(text); }

ObjectRef fresh(ObjectSpace& space) { return ObjectRef::adopt(new Object(space)); }

// Keeps the compiler from dropping the loops.
volatile double sink = 0;

const char* only = nullptr;

bool wanted(const char* label) { return !only || std::strstr(label, only); }

void rate(const char* what, double operations, double seconds, double target) {
    const double perSecond = operations / seconds;
    std::printf("%-44s %8.1f M/s  (target %4.0f M/s) %s\n", what, perSecond / 1e6, target / 1e6,
                perSecond >= target ? "ok" : "SLOW");
}

void elapsed(const char* what, double seconds, double limit) {
    std::printf("%-44s %8.1f ms   (limit %5.0f ms) %s\n", what, seconds * 1e3, limit * 1e3,
                seconds <= limit ? "ok" : "SLOW");
}

std::vector<DataPoolId> names(int n, const char* prefix) {
    std::vector<DataPoolId> out;
    char text[32];
    for (int i = 0; i < n; i++) {
        std::snprintf(text, sizeof text, "%s%d", prefix, i);
        out.push_back(sym(text));
    }
    return out;
}

// Reads every key of o, rounds times.
void timeReads(const char* label, Object& o, const std::vector<DataPoolId>& keys, long rounds,
               double target) {
    Variant out;
    auto start = Clock::now();
    for (long r = 0; r < rounds; r++)
        for (DataPoolId k : keys)
            o.get(k, out, 0);
    sink = sink + out.toNumber();
    rate(label, double(rounds) * double(keys.size()), secondsSince(start), target);
}

void ownReads(ObjectSpace& space, int properties, long rounds) {
    ObjectRef o = fresh(space);
    std::vector<DataPoolId> keys = names(properties, "p");
    for (int i = 0; i < properties; i++)
        o->put(keys[size_t(i)], Variant(i), 0);
    char label[64];
    std::snprintf(label, sizeof label, "own read hit, %d properties", properties);
    timeReads(label, *o, keys, rounds, 30e6);
}

void ownWrites(ObjectSpace& space, long rounds) {
    ObjectRef o = fresh(space);
    std::vector<DataPoolId> keys = names(16, "p");
    for (DataPoolId k : keys)
        o->put(k, Variant(0), 0);
    Variant value(1.5);
    auto start = Clock::now();
    for (long r = 0; r < rounds; r++)
        for (DataPoolId k : keys)
            o->put(k, value, 0);
    rate("write hit, 16 properties", double(rounds) * 16, secondsSince(start), 20e6);
}

void inheritedReads(ObjectSpace& space, long rounds) {
    ObjectRef proto = fresh(space), o = fresh(space);
    std::vector<DataPoolId> keys = names(16, "p");
    for (DataPoolId k : keys)
        proto->put(k, Variant(2), 0);
    o->put(sym("own"), Variant(1), 0);
    o->setPrototype(proto.get());
    timeReads("inherited hit, one up", *o, keys, rounds, 10e6);
}

void missesThroughThree(ObjectSpace& space, long rounds) {
    ObjectRef a = fresh(space), b = fresh(space), c = fresh(space);
    for (Object* o : {a.get(), b.get(), c.get()})
        for (DataPoolId k : names(8, "q"))
            o->put(k, Variant(1), 0);
    a->setPrototype(b.get());
    b->setPrototype(c.get());
    c->setPrototype(nullptr);
    timeReads("miss through three objects", *a, names(16, "missing"), rounds, 5e6);
}

void indexFill(ObjectSpace& space, int count, double limit) {
    ObjectRef a = fresh(space);
    a->setClassID(Sym::kArray);
    std::vector<DataPoolId> keys;
    for (int i = 0; i < count; i++)
        keys.push_back(DataPool::get().add(u32(i)));
    auto start = Clock::now();
    for (int i = 0; i < count; i++)
        a->put(keys[size_t(i)], Variant(i), 0);
    char label[64];
    std::snprintf(label, sizeof label, "%d index puts on one object", count);
    if (limit > 0)
        elapsed(label, secondsSince(start), limit);
    else
        std::printf("%-44s %8.1f ms   (reported)\n", label, secondsSince(start) * 1e3);
}

void revivals(ObjectSpace& space, long count) {
    ObjectRef o = fresh(space);
    for (DataPoolId k : names(8, "stay"))
        o->put(k, Variant(1), 0);
    const DataPoolId again = sym("again");
    Variant value(1);
    auto start = Clock::now();
    for (long i = 0; i < count; i++) {
        o->put(again, value, 0);
        o->deleteProperty(again);
    }
    o->put(again, value, 0);
    LxCore::SimpleArray ids;
    o->getPropertyIDs(ids, kListForIn);
    sink = sink + ids.getCount();
    elapsed("one name deleted and set 1M times, listed", secondsSince(start), 1.0);
}

void churn(ObjectSpace& space, int count) {
    std::vector<DataPoolId> keys = names(count, "k");     // interned outside the timing
    ObjectRef o = fresh(space);
    Variant value(1);
    auto start = Clock::now();
    for (DataPoolId k : keys) {
        o->put(k, value, 0);
        o->deleteProperty(k);
    }
    o->freeRemovedSlots();
    elapsed("1M distinct names set and deleted", secondsSince(start), 1.0);
}

// ---- with class tables: instances of a class whose prototypes have dispatchers

void method(Arguments& a) { a.result->setNumber(1); }

const PropEntry kObjectRows[] = {
    {"Object", 0, kMethod, method, nullptr},     {"toString", 0, kMethod, method, nullptr},
    {"valueOf", 0, kMethod, method, nullptr},    {"hasOwnProperty", 1, kMethod, method, nullptr},
    {"isPrototypeOf", 1, kMethod, method, nullptr}, {"propertyIsEnumerable", 1, kMethod, method, nullptr},
    {"toSource", 0, kMethod, method, nullptr},   {"watch", 2, kMethod, method, nullptr},
    {"unwatch", 1, kMethod, method, nullptr},    {nullptr, 0, 0, nullptr, nullptr},
};
const PropEntry kFunctionRows[] = {{"Function", 0, kMethod, method, nullptr}, {nullptr, 0, 0, nullptr, nullptr}};
const PropEntry kGlobalRows[] = {{"parseInt", 2, kMethod, method, nullptr}, {nullptr, 0, 0, nullptr, nullptr}};
const PropEntry kWidgetRows[] = {
    {"Widget", 0, kMethod, method, nullptr}, {"draw", 0, kMethod, method, nullptr},
    {"move", 2, kMethod, method, nullptr},   {"resize", 2, kMethod, method, nullptr},
    {nullptr, 0, 0, nullptr, nullptr},
};

void withDispatchers(long scale) {
    Dispatcher objectClass("Object"), functionClass("Function"), globalClass("Global"),
        widgetClass("Widget");
    objectClass.registerProperties(0, kObjectRows, "Object");
    functionClass.registerProperties(0, kFunctionRows, "Function");
    globalClass.registerProperties(0, kGlobalRows, "global");
    widgetClass.registerProperties(0, kWidgetRows, "Widget");
    {
        TestRealEngine engine;
        for (Dispatcher* d : {&objectClass, &functionClass, &widgetClass})
            engine.registerDispatcher(d, false);
        engine.registerDispatcher(&globalClass, true);
        engine.initialize();
        Variant ctorValue, made;
        engine.getGlobalObject()->get(sym("Widget"), ctorValue, 0);
        Object* ctor = objectOf(ctorValue);
        engine.newObject(made, sym("Widget"), nullptr, ctor);
        Object* w = objectOf(made);
        std::vector<DataPoolId> own = names(16, "p");
        for (DataPoolId k : own)
            w->put(k, Variant(1), 0);
        timeReads("class instance: own read hit, 16 properties", *w, own, 1250000 * scale, 30e6);
        std::vector<DataPoolId> methods;
        for (const char* m : {"draw", "move", "toString", "watch"})
            methods.push_back(sym(m));
        timeReads("class instance: native method hit", *w, methods, 5000000 * scale, 10e6);
        timeReads("class instance: miss through its two classes", *w, names(16, "missing"),
                  600000 * scale, 5e6);
    }
}

}  // namespace

int main(int argc, char** argv) {
    const long scale = argc > 1 ? std::max(1L, std::atol(argv[1])) : 1;
    only = argc > 2 ? argv[2] : nullptr;
    InitTerm::init();
    {
        TestRealEngine engine;
        ObjectSpace& space = engine.getObjects();
        if (wanted("read"))
            ownReads(space, 4, 5000000 * scale), ownReads(space, 16, 1250000 * scale);
        if (wanted("write"))
            ownWrites(space, 1250000 * scale);
        if (wanted("inherited"))
            inheritedReads(space, 1250000 * scale);
        if (wanted("miss"))
            missesThroughThree(space, 600000 * scale);
        if (wanted("index"))
            indexFill(space, 10000, 0.050), indexFill(space, 100000, 0);
        if (wanted("revival"))
            revivals(space, 1000000);
        if (wanted("churn"))
            churn(space, 1000000);
        if (wanted("class"))
            withDispatchers(scale);
    }
    InitTerm::exit();
    return 0;
}
