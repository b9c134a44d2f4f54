// The debugger core's API: what the host binding and any other native
// caller in the process use. Strings are UTF-8; out-strings are replaced
// unless a function says otherwise. Each function answers a TVDCoreStatus;
// they may throw std::bad_alloc like the core they stand on.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "objects/Message.h"

using TVDCoreStatus = int32_t;

enum : TVDCoreStatus {
    kTVDSuccess = 0,
    kTVDSessionNotUp = 3,         // TVDInitialize ran, yet no session stands
    kTVDAlreadyInitialized = 11,
    kTVDNotInitialized = 12,
    kTVDPreprocessorError = 15,
    kTVDCompileError = 16,
    kTVDRefused = -1,             // Tellwire refused a launch or a send
    kTVDCallbackThrew = -29,      // a message callback's answer: it threw
};

// The core keeps one record for the whole process: its callers take turns.
// A TVDTurn held on the stack around each call (or run of calls) lets one
// thread in at a time; the thread that holds it may enter again. The
// engine's stack limit is each thread's own: the outermost turn of a
// thread starts without one.
class TVDTurn {
public:
    // Asked between waits whether the caller still wants the turn.
    using StillWanted = bool (*)(void* context);

    // Waits as long as it takes.
    TVDTurn();
    // Waits only while stillWanted answers true, asked once per
    // kRecheckMilliseconds of waiting and once more when the turn comes; a
    // turn free at once is taken without asking. A caller whose thread may
    // be ending (a worker being stopped) thus never waits for a holder that
    // waits for it, nor runs a call no one will read.
    TVDTurn(StillWanted stillWanted, void* context);
    ~TVDTurn();
    TVDTurn(const TVDTurn&) = delete;
    TVDTurn& operator=(const TVDTurn&) = delete;

    // False only when the waiting form gave up.
    bool held() const { return held_; }

    static constexpr int kRecheckMilliseconds = 20;

private:
    void enter();

    uintptr_t savedStackLimit_ = 0;
    bool held_ = false;
};

// Receives every message the session's debug endpoint delivers: the
// delivery kind, the message and the reply text (may be null). 0 means
// handled; anything else is the error code Tellwire answers with.
// kTVDCallbackThrew also ends the delivery of the running pump: the
// messages not yet delivered wait, in order, for the next.
using TVDMessageCallback = int32_t (*)(int32_t kind, LxObjects::Tellwire::Message& message,
                                       LxObjects::LoString* reply);

TVDCoreStatus TVDInitialize(const std::string& application, const std::string& version,
                            TVDMessageCallback callback);
bool TVDIsInitialized();
TVDCoreStatus TVDTerminate();

TVDCoreStatus TVDResolveApplicationSpecifier(const std::string& specifier, std::string& out);
// Appends to out.
TVDCoreStatus TVDGetInstalledApplicationSpecifiers(std::vector<std::string>& out);
TVDCoreStatus TVDGetDisplayNameForApplication(const std::string& specifier, std::string& name);
TVDCoreStatus TVDGetApplicationInstalled(const std::string& specifier, bool& installed);
TVDCoreStatus TVDGetApplicationRunning(const std::string& specifier, bool& running);
TVDCoreStatus TVDLaunchApplication(const std::string& specifier, const std::string& parameters, bool flag);
TVDCoreStatus TVDBringApplicationToFront(const std::string& specifier);

// The message comes back with its serial number. A message queued while
// its target is being launched is on its way: 0, not -1.
TVDCoreStatus TVDSendDebugMessage(LxObjects::Tellwire::Message& message, bool launch);
// Delivers every waiting message to the callback, on the calling thread,
// then writes the queued outgoing ones.
TVDCoreStatus TVDPumpMessages();

// The report is left alone when the script is correct.
TVDCoreStatus TVDCheckSyntax(const std::string& script, const std::string& fileName,
                             const std::string& includePath, std::string& report);
// out gets the compiled text (0), or the error text (16).
TVDCoreStatus TVDCompileToTVSBin(const std::string& script, const std::string& fileName,
                                 const std::string& includePath, std::string& out);
// Only the directives found fill their out-strings; error gets the
// preprocessor's error text with status 15.
TVDCoreStatus TVDGetScriptDirectives(const std::string& script, const std::string& fileName,
                                     std::string& scriptName, std::string& strict, std::string& target,
                                     std::string& targetEngine, std::string& error);

// No session needed for these two.
TVDCoreStatus TVDPathToUri(const std::string& path, std::string& uri);
TVDCoreStatus TVDUriToPath(const std::string& uri, std::string& path);
