#include "objects/Specifier.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <locale.h>

#include "objects/Connector.h"
#include "objects/InterAppStream.h"
#include "objects/Message.h"
#include "objects/PlatformServices.h"
#include "objects/TellwireContext.h"

namespace LxObjects {

using Specifier = Tellwire::Specifier;

namespace {

// ---- the grammar -----------------------------------------------------------

// The five parts as byte ranges of a text; an absent part is empty.
struct Range {
    int begin = 0;
    int end = 0;
    bool empty() const { return end <= begin; }
};

struct Parts {
    Range name, instance, version, locale, engine;
};

int findByte(const char* s, int from, int end, char c)
{
    for (int i = from; i < end; ++i)
        if (s[i] == c)
            return i;
    return end;
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// The parts of s[0..n). Everything after the first '#' is the engine, so
// '-' and '_' there belong to it.
Parts parse(const char* s, int n)
{
    Parts p;
    int hash = findByte(s, 0, n, '#');
    int dash = findByte(s, 0, hash, '-');
    int under = findByte(s, 0, hash, '_');
    p.name = {0, dash < under ? dash : under};
    if (hash < n)
        p.engine = {hash + 1, n};
    if (under < dash)
        p.instance = {under + 1, dash};
    if (dash == hash)
        return p;
    int next = findByte(s, dash + 1, hash, '-');
    if (isDigit(s[dash + 1])) {
        p.version = {dash + 1, next};
        if (next < hash)
            p.locale = {next + 1, hash};
    } else {
        p.locale = {dash + 1, hash};
    }
    return p;
}

LoString part(const LoString& text, Range r)
{
    return r.empty() ? LoString() : LoString(text.text() + r.begin, r.end - r.begin);
}

// A specifier's text: short, one line, lower-case ASCII letters.
bool acceptable(const char* s, int n)
{
    if (n >= Specifier::kMaxLength)
        return false;
    for (int i = 0; i < n; ++i)
        if (u8(s[i]) < 0x20 || s[i] == 0x7F)
            return false;
    return true;
}

struct Pieces {
    LoString name, instance, version, locale, engine;
};

Pieces takeApart(const LoString& text)
{
    Parts p = parse(text.text(), text.length());
    return {part(text, p.name), part(text, p.instance), part(text, p.version), part(text, p.locale),
            part(text, p.engine)};
}

LoString join(const Pieces& x)
{
    LoString out(x.name);
    static const char kMarks[] = "_--#";
    const LoString* rest[] = {&x.instance, &x.version, &x.locale, &x.engine};
    for (int i = 0; i < 4; ++i) {
        if (!rest[i]->isEmpty()) {
            out += kMarks[i];
            out += *rest[i];
        }
    }
    return out.lowerCased();
}

bool samePieces(const Pieces& a, const Pieces& b)
{
    return a.name.compare(b.name.text()) == 0 && a.instance.compare(b.instance.text()) == 0 &&
           a.version.compare(b.version.text()) == 0 && a.locale.compare(b.locale.text()) == 0 &&
           a.engine.compare(b.engine.text()) == 0;
}

bool equal(const LoString& a, const LoString& b)
{
    return a.length() == b.length() && a.compare(b.text()) == 0;
}

// ---- the context and the transport --------------------------------------

// The current context's own specifier; empty without a context.
LoString contextSpecifier()
{
    LoString out;
    if (TellwireContext* context = getCurrentContext())
        context->getContextSpecifier(out);
    return out;
}

// Sender and serial number of a probe from the current context; false while
// the set-up that makes it runs, or without one.
bool probeSender(LoString& sender, u32& serial)
{
    if (isSetupRunning())
        return false;
    TellwireContext* context = getCurrentContext();
    if (!context)
        return false;
    context->getContextSpecifier(sender);
    serial = context->nextSerialNumber();
    return true;
}

LoString probeAddress(const LoString& sender, const LoString& kind, bool randomInstance)
{
    LoString address(sender);
    if (randomInstance) {
        address += '_';
        address += u32(std::rand());
    }
    address += '#';
    address += kind;
    return address;
}

// A free sender address, so that nothing answers into a mailbox somebody
// else reads: sender#kind, else up to ten sender_<random>#kind.
LoString freeProbeAddress(BaseInterAppStream& stream, const LoString& sender, const LoString& kind)
{
    LoString address = probeAddress(sender, kind, false);
    for (int i = 0; i < 10 && !stream.isNameFree(address); ++i)
        address = probeAddress(sender, kind, true);
    return address;
}

bool sendProbe(const LoString& sender, const LoString& target, const LoString& kind, u32 serial)
{
    InterAppStream* stream = getPingStream();
    if (!stream || stream->isNameFree(target))
        return false;
    Tellwire::Message probe;
    probe.target = target;
    probe.type = kind;
    probe.serialNumber = serial;
    probe.sender = freeProbeAddress(*stream, sender, kind);
    LoString text;
    return stream->isOpen() && serializeMessageWithDigest(probe, text) && stream->send(target, text);
}

// ---- the installed list ----------------------------------------------------

int installedCount()
{
    TellwireConnector* connector = getGlobalConnector();
    return connector ? connector->getApplicationCount() : 0;
}

LoString installedAt(int i)
{
    LoString out;
    if (TellwireConnector* connector = getGlobalConnector())
        connector->getApplicationSpecifier(out, u32(i));
    return out;
}

// An installed entry as the locale and version searches see it.
Specifier normalizedEntry(int i)
{
    LoString text = installedAt(i);
    Specifier entry(text.text(), false);
    normalizeSpecifier(&entry, false);
    return entry;
}

// Group resolution asks the connector, whose own lookups normalise again;
// this thread's nested normalisations leave the groups out, so that an own
// specifier without a version cannot lead round in circles.
thread_local bool resolvingGroups = false;

struct GroupGuard {
    GroupGuard() { resolvingGroups = true; }
    ~GroupGuard() { resolvingGroups = false; }
};

// Step 2 of normalisation: a bare name within the own application's suite.
bool resolveInOwnSuite(Specifier* specifier, const Pieces& wanted)
{
    if (resolvingGroups)
        return false;
    LoString own = contextSpecifier();
    TellwireConnector* connector = getGlobalConnector();
    if (own.isEmpty() || !connector)
        return false;
    LoString resolved;
    {
        GroupGuard guard;
        LoString group;
        connector->getGroupOf(group, own, nullptr);
        if (group.isEmpty())
            return false;
        Pieces target = wanted;
        target.instance.assign("");
        target.engine.assign("");
        connector->resolveForSender(resolved, own, join(target), group);
    }
    if (resolved.isEmpty() || equal(resolved, *specifier) || !acceptable(resolved.text(), resolved.length()))
        return false;
    specifier->assign(resolved.text(), resolved.length());
    specifier->setEngine(wanted.engine);
    specifier->setInstance(wanted.instance);
    return true;
}

// The first installed entry of the wanted name that runs under the wanted
// instance and engine.
bool findRunningInstance(Specifier* specifier, const Pieces& wanted)
{
    int count = installedCount();
    for (int i = 0; i < count; ++i) {
        LoString text = installedAt(i);
        Specifier entry(text.text(), false);
        LoString name;
        entry.getName(name);
        if (!equal(name, wanted.name))
            continue;
        entry.setInstance(wanted.instance);
        entry.setEngine(wanted.engine);
        if (isTargetRunning(entry)) {
            specifier->assign(entry.text(), entry.length());
            return true;
        }
    }
    return false;
}

struct Candidates {
    Specifier forLocale;   // in the user's locale
    Specifier other;
    double localeVersion = 0;
    double otherVersion = 0;
};

// Step 3 for a version with a '.': that exact version number.
void matchExactVersion(const Pieces& wanted, const LoString& userLocale, Candidates& found)
{
    double w = readNumber(wanted.version);
    int count = installedCount();
    for (int i = 0; i < count; ++i) {
        LoString text = installedAt(i);
        Pieces entry = takeApart(Specifier(text.text(), false));
        if (!equal(entry.name, wanted.name))
            continue;
        double v = readNumber(entry.version);
        if (v != w)
            continue;
        Specifier candidate(text.text(), false);
        if (candidate.isEmpty())
            continue;
        if (entry.locale.isEmpty() || equal(entry.locale, userLocale)) {
            found.forLocale = candidate;
            found.localeVersion = v;
            return;
        }
        found.other = candidate;
        found.otherVersion = v;
    }
}

// Step 3 for a major version or none: the highest version in range, by
// locale. Each match raises the lower bound.
void matchVersionRange(const Pieces& wanted, const LoString& userLocale, Candidates& found)
{
    double low = 0;
    double high = 9999;
    if (!wanted.version.isEmpty()) {
        low = readNumber(wanted.version);
        high = low + 1;
    }
    int count = installedCount();
    for (int i = 0; i < count; ++i) {
        LoString text = installedAt(i);
        Pieces entry = takeApart(Specifier(text.text(), false));
        if (!equal(entry.name, wanted.name))
            continue;
        double v = readNumber(entry.version);
        if (!(v >= low && v < high))
            continue;
        Specifier candidate(text.text(), false);
        if (candidate.isEmpty())
            continue;
        low = v;
        if (equal(entry.locale, userLocale)) {
            found.forLocale = candidate;
            found.localeVersion = v;
        } else {
            found.other = candidate;
            found.otherVersion = v;
        }
    }
}

// The specifier with one part replaced; false (text unchanged) when the
// result would be too long or would not read back as the same parts.
bool rebuild(Specifier* specifier, const Pieces& x)
{
    LoString text = join(x);
    if (!acceptable(text.text(), text.length()))
        return false;
    Pieces lowered = x;
    lowered.name = x.name.lowerCased();
    lowered.instance = x.instance.lowerCased();
    lowered.version = x.version.lowerCased();
    lowered.locale = x.locale.lowerCased();
    lowered.engine = x.engine.lowerCased();
    if (!samePieces(takeApart(text), lowered))
        return false;
    specifier->assign(text.text(), text.length());
    return true;
}

double nowMilliseconds()
{
    using namespace std::chrono;
    return double(duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count());
}

}  // namespace

// ---- Specifier ---------------------------------------------------------------

Tellwire::Specifier::Specifier() = default;

Tellwire::Specifier::Specifier(const char* text, bool normalize)
{
    int n = 0;
    if (text) {
        size_t length = std::strlen(text);
        n = length < size_t(kMaxLength) ? int(length) : kMaxLength;
    }
    if (!text || !acceptable(text, n))
        return;
    if (normalize) {
        assign(text, n);
        normalizeSpecifier(this, true);
    } else {
        LoString lowered = LoString(text, n).lowerCased();
        assign(lowered.text(), lowered.length());
    }
}

Tellwire::Specifier::Specifier(const Specifier& other) = default;

Specifier& Tellwire::Specifier::operator=(const Specifier& other)
{
    LoString::operator=(other);
    return *this;
}

Tellwire::Specifier::~Specifier() = default;

void Tellwire::Specifier::getName(LoString& out) const
{
    out = part(*this, parse(text(), length()).name);
}

void Tellwire::Specifier::getInstance(LoString& out) const
{
    out = part(*this, parse(text(), length()).instance);
}

void Tellwire::Specifier::getVersion(LoString& out) const
{
    out = part(*this, parse(text(), length()).version);
}

void Tellwire::Specifier::getLocale(LoString& out) const
{
    out = part(*this, parse(text(), length()).locale);
}

void Tellwire::Specifier::getEngine(LoString& out) const
{
    out = part(*this, parse(text(), length()).engine);
}

bool Tellwire::Specifier::setInstance(const LoString& instance)
{
    Pieces x = takeApart(*this);
    x.instance = instance;
    return rebuild(this, x);
}

bool Tellwire::Specifier::setEngine(const LoString& engine)
{
    Pieces x = takeApart(*this);
    x.engine = engine;
    return rebuild(this, x);
}

bool Tellwire::Specifier::setLocale(const LoString& locale)
{
    Pieces x = takeApart(*this);
    LoString found = locale.lowerCased();
    if (!findInstalledSpecifier(x.name, x.version, found))
        return false;
    x.locale = found;
    return rebuild(this, x);
}

bool Tellwire::Specifier::setVersion(const LoString& version)
{
    Pieces x = takeApart(*this);
    double w = version.isEmpty() ? 0 : readNumber(version);
    LoString wantedLocale = x.locale.isEmpty() ? getUserLocale() : x.locale;
    Pieces best;
    bool haveBest = false;
    double highest = 0;  // a version below: the highest one above 0
    bool found = false;
    Pieces taken;
    int count = installedCount();
    for (int i = 0; i < count && !found; ++i) {
        Pieces entry = takeApart(normalizedEntry(i));
        if (!equal(entry.name, x.name))
            continue;
        if (!entry.locale.isEmpty() && !equal(entry.locale, wantedLocale))
            continue;
        double v = readNumber(entry.version);
        if (v == w) {
            taken = entry;
            found = true;
        } else if (w < 0 && v <= -w && v > highest) {
            highest = v;
            best = entry;
            haveBest = true;
        }
    }
    if (!found && haveBest) {
        taken = best;
        found = true;
    }
    if (!found)
        return false;
    LoString former = x.locale;
    x.version = taken.version;
    x.locale = taken.locale;
    if (!rebuild(this, x))
        return false;
    if (!equal(taken.locale, former))
        return setLocale(former);
    return true;
}

bool Tellwire::Specifier::isInstalled() const
{
    if (isEmpty())
        return false;
    TellwireConnector* connector = getGlobalConnector();
    if (!connector)
        return false;
    LoString path;
    connector->getApplicationPath(path, *this);
    return !path.isEmpty();
}

// ---- searches ----------------------------------------------------------------

double readNumber(const LoString& text)
{
    static locale_t cLocale = newlocale(LC_NUMERIC_MASK, "C", locale_t(0));
    if (!cLocale)
        return std::atof(text.text());
    return strtod_l(text.text(), nullptr, cLocale);
}

LoString getUserLocale()
{
    LoString locale = getLocaleName();
    return locale.isEmpty() ? LoString("en_us") : locale;
}

bool findInstalledSpecifier(const LoString& name, const LoString& version, LoString& locale)
{
    LoString wanted = locale.isEmpty() ? getUserLocale() : locale;
    int count = installedCount();
    for (int i = 0; i < count; ++i) {
        Pieces entry = takeApart(normalizedEntry(i));
        if (!equal(entry.name, name) || !equal(entry.version, version))
            continue;
        if (entry.locale.isEmpty() || equal(entry.locale, wanted)) {
            locale = entry.locale;
            return true;
        }
    }
    locale.assign("");
    return false;
}

void normalizeSpecifier(Specifier* specifier, bool useConnector)
{
    if (!specifier)
        return;
    if (!acceptable(specifier->text(), specifier->length())) {
        specifier->assign("");
        return;
    }
    LoString lowered = specifier->lowerCased();
    specifier->assign(lowered.text(), lowered.length());
    Pieces wanted = takeApart(*specifier);

    if (!wanted.name.isEmpty() && wanted.version.isEmpty()) {
        if (useConnector && resolveInOwnSuite(specifier, wanted))
            return;
        if (findRunningInstance(specifier, wanted))
            return;
    }

    LoString userLocale = getUserLocale();
    Candidates found;
    bool dotted = std::strchr(wanted.version.text(), '.') != nullptr;
    if (wanted.locale.isEmpty()) {
        if (dotted)
            matchExactVersion(wanted, userLocale, found);
        else
            matchVersionRange(wanted, userLocale, found);
    }
    if (!found.forLocale.isEmpty() && !found.other.isEmpty() && found.otherVersion > found.localeVersion)
        found.forLocale.assign("");

    const Specifier& result = found.forLocale.isEmpty() ? found.other : found.forLocale;
    if (!result.isEmpty()) {
        specifier->assign(result.text(), result.length());
        LoString instance;
        specifier->getInstance(instance);
        if (!wanted.instance.isEmpty() && !equal(instance, wanted.instance))
            specifier->setInstance(wanted.instance);
    }
    // The engine appears once, whether the text kept its own or was replaced.
    if (!specifier->isEmpty() && !wanted.engine.isEmpty()) {
        LoString engine;
        specifier->getEngine(engine);
        if (!equal(engine, wanted.engine))
            specifier->setEngine(wanted.engine);
    }
}

// ---- the running test ------------------------------------------------------

bool isTargetRunning(const Specifier& specifier)
{
    if (specifier.isEmpty())
        return false;
    LoString own;
    u32 serial = 0;
    if (!probeSender(own, serial)) {
        own.assign("Unknown");
        own += nowMilliseconds();
        serial = 0;
    }
    if (equal(specifier, own))
        return true;
    LoString engine;
    specifier.getEngine(engine);
    if (engine.isEmpty()) {
        TellwireConnector* connector = getGlobalConnector();
        if (connector && isProcessAlive(connector->getProcessId(specifier)))
            return true;
        Specifier thread(specifier);
        if (thread.setEngine("thread") && sendToTarget(own, thread, "ping", serial))
            return true;
    }
    return sendToTarget(own, specifier, "Tavrel", serial);
}

bool sendToTarget(const LoString& sender, const LoString& target, const LoString& kind, u32 serial)
{
    if (equal(sender, target))
        return true;
    return sendProbe(sender, target, kind, serial);
}

}  // namespace LxObjects
