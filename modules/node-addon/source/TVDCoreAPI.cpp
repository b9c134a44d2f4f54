#include "modules/node-addon/source/TVDCoreAPI.h"

#include <chrono>
#include <mutex>
#include <optional>
#include <string>

#include "core/Encoder.h"
#include "core/Error.h"
#include "core/FileSpec.h"
#include "core/InitTerm.h"
#include "core/String.h"
#include "modules/node-addon/source/TVDSession.h"
#include "modules/node-addon/source/TVDWorkers.h"
#include "objects/LoString.h"
#include "objects/Specifier.h"
#include "objects/Tellwire.h"
#include "objects/TellwireContext.h"
#include "objects/TellwireThread.h"
#include "script/engine/TVContext.h"
#include "script/frontend/Preprocessor.h"

using LxCore::FileSpec;
using LxCore::i32;
using LxCore::String;
using LxObjects::LoString;
using LxObjects::Tellwire;
using Specifier = LxObjects::Tellwire::Specifier;

namespace {

String fromUtf8(const std::string& text) {
    String out;
    const size_t n = text.size() > size_t(String::kMaxLength) ? size_t(String::kMaxLength) : text.size();
    out.decode(text.data(), i32(n), LxCore::utf8Encoder());
    return out;
}

std::string toUtf8(const String& text) {
    const char* bytes = nullptr;
    LxCore::u32 length = 0;
    text.encode(bytes, length, LxCore::utf8Encoder());
    return std::string(bytes ? bytes : "", length);
}

std::string toStd(const LoString& text) { return std::string(text.text(), size_t(text.length())); }

// A normalised specifier of the text; embedded zero bytes end it, as the
// specifier takes a C string.
Specifier normalized(const std::string& text) { return Specifier(text.c_str(), true); }

bool up() { return TVDSession::get().isUp(); }

// The core library started around a call that needs no session.
class CoreInit {
public:
    CoreInit() { LxCore::InitTerm::init(); }
    ~CoreInit() { LxCore::InitTerm::exit(); }
    CoreInit(const CoreInit&) = delete;
    CoreInit& operator=(const CoreInit&) = delete;
};

std::recursive_timed_mutex gTurn;
thread_local int tTurnDepth = 0;

}  // namespace

TVDTurn::TVDTurn() {
    gTurn.lock();
    enter();
}

TVDTurn::TVDTurn(StillWanted stillWanted, void* context) {
    if (gTurn.try_lock()) {
        enter();
        return;
    }
    bool taken = false;
    while (!taken && stillWanted(context))
        taken = gTurn.try_lock_for(std::chrono::milliseconds(kRecheckMilliseconds));
    // Wanted when the wait began is not wanted now: asked once more.
    if (taken && !stillWanted(context)) {
        gTurn.unlock();
        taken = false;
    }
    if (taken)
        enter();
}

void TVDTurn::enter() {
    held_ = true;
    if (tTurnDepth++ > 0)
        return;
    // A limit left from another thread's stack would mean nothing on this one.
    if (LxScript::TVContext* context = LxScript::TVContext::find()) {
        savedStackLimit_ = context->getStackLimit();
        context->setStackLimit(0);
    }
}

TVDTurn::~TVDTurn() {
    if (!held_)
        return;
    if (--tTurnDepth == 0 && savedStackLimit_ != 0) {
        if (LxScript::TVContext* context = LxScript::TVContext::find())
            context->setStackLimit(savedStackLimit_);
    }
    gTurn.unlock();
}

TVDCoreStatus TVDInitialize(const std::string& application, const std::string& version,
                            TVDMessageCallback callback) {
    TVDTurn turn;
    return TVDSession::get().start(application, version, callback);
}

bool TVDIsInitialized() {
    TVDTurn turn;
    return up();
}

TVDCoreStatus TVDTerminate() {
    TVDTurn turn;
    if (!up())
        return kTVDNotInitialized;
    TVDSession::get().stop();
    return kTVDSuccess;
}

TVDCoreStatus TVDResolveApplicationSpecifier(const std::string& specifier, std::string& out) {
    TVDTurn turn;
    if (!up())
        return kTVDNotInitialized;
    out = toStd(normalized(specifier));
    return kTVDSuccess;
}

TVDCoreStatus TVDGetInstalledApplicationSpecifiers(std::vector<std::string>& out) {
    TVDTurn turn;
    if (!up())
        return kTVDNotInitialized;
    const LxObjects::u32 count = Tellwire::getInstalledSpecifierCount();
    out.reserve(out.size() + count);
    for (LxObjects::u32 i = 0; i < count; ++i) {
        LoString specifier;
        Tellwire::getInstalledSpecifier(specifier, i);
        out.push_back(toStd(specifier));
    }
    return kTVDSuccess;
}

TVDCoreStatus TVDGetDisplayNameForApplication(const std::string& specifier, std::string& name) {
    TVDTurn turn;
    if (!up())
        return kTVDNotInitialized;
    Specifier spec = normalized(specifier);
    LoString appName, version, locale, display;
    spec.getName(appName);
    spec.getVersion(version);
    spec.getLocale(locale);
    Tellwire::getDisplayName(display, appName, version, locale);
    name = toStd(display);
    return kTVDSuccess;
}

TVDCoreStatus TVDGetApplicationInstalled(const std::string& specifier, bool& installed) {
    TVDTurn turn;
    if (!up())
        return kTVDNotInitialized;
    installed = normalized(specifier).isInstalled();
    return kTVDSuccess;
}

TVDCoreStatus TVDGetApplicationRunning(const std::string& specifier, bool& running) {
    TVDTurn turn;
    if (!up())
        return kTVDNotInitialized;
    running = LxObjects::isTargetRunning(normalized(specifier));
    return kTVDSuccess;
}

TVDCoreStatus TVDLaunchApplication(const std::string& specifier, const std::string& parameters, bool flag) {
    TVDTurn turn;
    if (!up())
        return kTVDNotInitialized;
    return LxObjects::launchTarget(specifier.c_str(), parameters.c_str(), !flag, nullptr) ? kTVDSuccess
                                                                                           : kTVDRefused;
}

TVDCoreStatus TVDBringApplicationToFront(const std::string& specifier) {
    TVDTurn turn;
    if (!up())
        return kTVDNotInitialized;
    Tellwire::bringApplicationToFront(specifier.c_str(), nullptr);
    return kTVDSuccess;
}

// sendMessage answers false also for a message it queued while launching
// the target. Such a message grew the outgoing queue; the pump thread pumps
// only under its own lock, so holding it keeps the queue still until the
// count is read.
TVDCoreStatus TVDSendDebugMessage(LxObjects::Tellwire::Message& message, bool launch) {
    TVDTurn turn;
    if (!up())
        return kTVDNotInitialized;
    Tellwire* endpoint = TVDSession::get().getEndpoint();
    std::optional<LxObjects::ObjectLock> pumpStill;
    if (LxObjects::TellwireThread* thread = LxObjects::getCurrentPumpThread())
        pumpStill.emplace(*thread);
    const int queued = Tellwire::getOutgoingCount(endpoint);
    if (Tellwire::sendMessage(endpoint, message, launch, 0, nullptr))
        return kTVDSuccess;
    return launch && Tellwire::getOutgoingCount(endpoint) > queued ? kTVDSuccess : kTVDRefused;
}

TVDCoreStatus TVDPumpMessages() {
    TVDTurn turn;
    if (!up())
        return kTVDNotInitialized;
    TVDSession::get().pump();
    return kTVDSuccess;
}

TVDCoreStatus TVDCheckSyntax(const std::string& script, const std::string& fileName,
                             const std::string& includePath, std::string& report) {
    TVDTurn turn;
    if (!up())
        return kTVDNotInitialized;
    String text = LxScript::checkSyntax(fromUtf8(script), fromUtf8(fileName), fromUtf8(includePath));
    if (!text.isEmpty())
        report = toUtf8(text);
    return kTVDSuccess;
}

TVDCoreStatus TVDCompileToTVSBin(const std::string& script, const std::string& fileName,
                                 const std::string& includePath, std::string& out) {
    TVDTurn turn;
    if (!up())
        return kTVDNotInitialized;
    String errorText;
    String compiled = LxScript::compileToText(fromUtf8(script), fromUtf8(fileName), fromUtf8(includePath), errorText);
    if (!errorText.isEmpty()) {
        out = toUtf8(errorText);
        return kTVDCompileError;
    }
    out = toUtf8(compiled);
    return kTVDSuccess;
}

TVDCoreStatus TVDGetScriptDirectives(const std::string& script, const std::string& fileName,
                                     std::string& scriptName, std::string& strict, std::string& target,
                                     std::string& targetEngine, std::string& error) {
    TVDTurn turn;
    if (!up())
        return kTVDNotInitialized;
    LxScript::Preprocessor preprocessor;
    String result;
    LxCore::Error errors;
    const i32 rc = preprocessor.process(fromUtf8(script), fromUtf8(fileName), result, &errors);
    if (rc != 0) {
        String message;
        errors.getMessage(message);
        error = toUtf8(message) + " (" + std::to_string(rc) + ")";
        return kTVDPreprocessorError;
    }
    struct Wanted {
        const char* name;
        std::string* out;
    };
    const Wanted wanted[] = {
        {"script", &scriptName}, {"strict", &strict}, {"target", &target}, {"targetengine", &targetEngine}};
    for (const Wanted& w : wanted)
        if (const String* value = preprocessor.getDirective(String(w.name)))
            *w.out = toUtf8(*value);
    return kTVDSuccess;
}

TVDCoreStatus TVDPathToUri(const std::string& path, std::string& uri) {
    TVDTurn turn;
    CoreInit core;
    String out;
    FileSpec(fromUtf8(path), true).toURI(out, true);
    uri = toUtf8(out);
    return kTVDSuccess;
}

TVDCoreStatus TVDUriToPath(const std::string& uri, std::string& path) {
    TVDTurn turn;
    CoreInit core;
    String out;
    FileSpec(fromUtf8(uri), false).getNativePath(out);
    path = toUtf8(out);
    return kTVDSuccess;
}
