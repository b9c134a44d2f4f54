#include "modules/node-addon/source/TVDSession.h"

#include "core/Encoder.h"
#include "core/ErrorCodes.h"
#include "core/FileSpec.h"
#include "core/InitTerm.h"
#include "core/Localizer.h"
#include "core/String.h"
#include "core/ZStringLocalizer.h"
#include "objects/LoString.h"
#include "objects/TellwireContext.h"
#include "objects/TellwireThread.h"
#include "script/composition/InitTerm.h"

using LxCore::FileSpec;
using LxCore::String;
using LxObjects::LoString;
using LxObjects::Tellwire;

namespace LxObjects {

int DebugTWHandler::handle(int kind, Tellwire::Message& message, LoString* reply) {
    if (!callback_)
        return LxCore::Err::kInternal;
    const int result = callback_(kind, message, reply);
    if (result == kTVDCallbackThrew)
        TVDSession::get().haltDelivery();
    return result;
}

}  // namespace LxObjects

namespace {

// What URI forms keep unescaped beside letters and digits; the localizer
// reads its file name as a URI template, so "{" and "%" must be escaped.
constexpr const char* kUriKeep = "-_.!~*'();/?:@&=+$,#";

LxObjects::ZStringLocalizer* gLocalizer = nullptr;
bool gLocalizationLoaded = false;

// At the core's last exit, before its localizer list goes.
void dropLocalizer() {
    delete gLocalizer;
    gLocalizer = nullptr;
    gLocalizationLoaded = false;
}

// Undoes the counted inits of a start that did not finish.
class InitGuard {
public:
    InitGuard() {
        LxCore::InitTerm::init();
        try {
            LxScript::InitTerm::init();
        } catch (...) {
            LxCore::InitTerm::exit();
            throw;
        }
    }
    ~InitGuard() {
        if (armed) {
            LxScript::InitTerm::exit();
            LxCore::InitTerm::exit();
        }
    }
    void keep() { armed = false; }

private:
    bool armed = true;
};

}  // namespace

void loadTVDLocalization(const std::string& localeArgument) {
    if (gLocalizationLoaded)
        return;
    // Set first: a failed attempt is not repeated.
    gLocalizationLoaded = true;
    LxCore::InitTerm::atExit(dropLocalizer);

    const char* modulePath = FileSpec::getModulePath();
    if (!modulePath || !*modulePath)
        return;
    String path;
    path.decode(modulePath, -1, LxCore::utf8Encoder());
    FileSpec folder(path, true);
    folder.resolveRelative(String("../Resources/localization"));

    String locale;
    locale.decode(localeArgument.data(), LxCore::i32(localeArgument.size()), LxCore::utf8Encoder());
    if (locale.isEmpty())
        locale = LxCore::Localizer::getCurrentLocale();
    locale.encodeURI(kUriKeep);

    String folderURI;
    folder.toURI(folderURI, true);
    String file = folderURI;
    file += "/tavrel-";
    file += locale;
    file += ".dat";
    if (FileSpec(file, false).getAttributes() == 0) {
        file = folderURI;
        file += "/tavrel-en_US.dat";
    }
    gLocalizer = new LxObjects::ZStringLocalizer(file);
    LxCore::Localizer::registerLocalizer(gLocalizer);
}

TVDSession& TVDSession::get() {
    static TVDSession session;
    return session;
}

bool TVDSession::isUp() const {
    return LxCore::InitTerm::isInitialized() && LxScript::InitTerm::isInitialized() && endpoint_ &&
           !stopPending_;
}

TVDCoreStatus TVDSession::start(const std::string& application, const std::string& version,
                                TVDMessageCallback callback) {
    if (isUp())
        return kTVDAlreadyInitialized;
    InitGuard inits;
    // An end that waits for its pump still holds Tellwire: no new start.
    if (!endpoint_ && !stopPending_ && !openEndpoint(application, version, callback))
        return kTVDSessionNotUp;
    if (!isUp())
        return kTVDSessionNotUp;
    try {
        loadTVDLocalization(std::string());
    } catch (...) {
        closeEndpoint();
        throw;
    }
    inits.keep();
    return kTVDSuccess;
}

// The name is application "_" version "-2.0"; the endpoint adds "#dbg".
// The session stands only when the endpoint's mailbox is open: another
// front end holding the same name leaves it shut.
bool TVDSession::openEndpoint(const std::string& application, const std::string& version,
                              TVDMessageCallback callback) {
    // Mailbox names are C strings: each part ends at a zero byte, so that
    // the endpoint keeps its "_version-2.0#dbg" after it.
    LoString name(application.c_str());
    name += "_";
    name += version.c_str();
    name += "-2.0";
    const bool hadContext = LxObjects::getCurrentContext() != nullptr;
    if (!LxObjects::tellwireInit(name, true)) {
        // A set-up refused for its name (too long, say) stays marked as
        // done and would refuse every later start: forget it, unless the
        // refusal came from a context that stands.
        if (!hadContext && !LxObjects::getCurrentContext())
            LxObjects::endSetupState();
        return false;
    }
    name += "#dbg";
    auto* handler = new LxObjects::DebugTWHandler(callback);
    Tellwire* endpoint = handler ? new Tellwire(name.text(), handler, true, nullptr) : nullptr;
    if (!endpoint)
        delete handler;
    if (!endpoint || !Tellwire::isWorking(endpoint)) {
        delete endpoint;
        LxObjects::tellwireTerminate();
        return false;
    }
    endpoint_ = endpoint;
    return true;
}

void TVDSession::stop() {
    if (pumpDepth_ > 0) {
        stopPending_ = true;
        return;
    }
    finishStop();
}

void TVDSession::closeEndpoint() {
    delete endpoint_;
    endpoint_ = nullptr;
    LxObjects::tellwireTerminate();
}

void TVDSession::finishStop() {
    stopPending_ = false;
    closeEndpoint();
    LxScript::InitTerm::exit();
    LxCore::InitTerm::exit();
}

// A pump inside a callback halts on its own; the outer pump goes on unless
// its own callback throws too.
void TVDSession::pump() {
    struct Level {
        TVDSession& session;
        bool outerHalted;
        explicit Level(TVDSession& s) : session(s), outerHalted(s.deliveryHalted_) {
            ++session.pumpDepth_;
            session.deliveryHalted_ = false;
        }
        ~Level() {
            --session.pumpDepth_;
            session.deliveryHalted_ = outerHalted;
        }
    };
    {
        Level level(*this);
        const LxObjects::DeliveryGate gate{[](void* s) { return !static_cast<TVDSession*>(s)->deliveryHalted_; },
                                           this};
        LxObjects::tellwirePump(LxObjects::kPumpAll, nullptr, &gate);
    }
    if (pumpDepth_ == 0 && stopPending_)
        finishStop();
}
