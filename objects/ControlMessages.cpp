#include "objects/ControlMessages.h"

#include <cstring>
#include <new>
#include <string_view>

#include "objects/Connector.h"
#include "objects/Specifier.h"
#include "objects/TellwireContext.h"
#include "objects/TellwireThread.h"
#include "objects/TellwireUtils.h"

namespace LxObjects {

using Message = Tellwire::Message;
using Specifier = Tellwire::Specifier;
using namespace TellwireUtils;

namespace {

std::string_view view(const LoString& s)
{
    return std::string_view(s.text(), size_t(s.length()));
}

bool is(const LoString& s, StatusWord word)
{
    return view(s) == statusWord(word);
}

const StatusWord kForwardKinds[] = {kFwdMessages, kFwdLogs, kFwdErrors};

bool isForwardKind(const LoString& key)
{
    for (StatusWord kind : kForwardKinds)
        if (is(key, kind))
            return true;
    return false;
}

TellwireThread* pumpThreadOf(TellwireContext* context)
{
    return context ? context->getPumpThread() : nullptr;
}

void endpointReports(LoString& out, TellwireContext* context, const char* root, const LoString& path,
                     const char* label, const LoString& spec)
{
    out += root;
    out += ";1;";
    out += label;
    out += ";;\n";
    int count = context->getEndpointCount();
    LoString number;
    number += u32(count);
    appendDiagnosticsLine(out, path, "1", spec, number);
    for (int i = 0; i < count; ++i)
        if (Tellwire* endpoint = context->getEndpoint(i))
            Tellwire::writeDiagnostics(endpoint, out, path);
}

}  // namespace

// ---- MAIN ---------------------------------------------------------------------------

ThreadMainMsgHandler::ThreadMainMsgHandler(TellwireContext* context, TellwireThread* thread)
    : ThreadMsgHandler(context),
      type_(statusWord(kPing)),
      requestHeader_(statusWord(kEchoRequest)),
      responseHeader_(statusWord(kEchoResponse)),
      thread_(thread)
{
}

int ThreadMainMsgHandler::handle(int kind, Message& message, LoString* reply)
{
    if (view(message.type) != view(type_) || !thread_)
        return 0;
    LoString query = message.getHeader(requestHeader_.text());
    if (query.isEmpty()) {
        LoString entry = message.getHeader(responseHeader_.text());
        Tellwire::MsgHandler* handler = entry.isEmpty() ? nullptr : thread_->getEntryHandler(entry);
        return handler && handler != this ? handler->handle(Tellwire::kResult, message, nullptr) : 0;
    }
    LoString answer;
    if (const char* equals = std::strchr(query.text(), '=')) {
        LoString key(query.text(), int(equals - query.text()));
        if (!isForwardKind(key))
            return 0;
        return forward(key, LoString(equals + 1), reply);
    }
    Tellwire::MsgHandler* handler = thread_->getEntryHandler(query);
    // The entry "MAIN" names this handler: its value answers, so that the
    // handler never calls itself.
    if (handler && handler != this)
        return handler->handle(Tellwire::kNew, message, reply);
    answer = thread_->queryEntry(query);
    if (answer.isEmpty())
        answer.assign(statusWord(kUndefined));
    if (reply)
        *reply = answer;
    return 0;
}

// Installs (or with an empty target removes) the forwarder of that kind on
// the main endpoint and records its target; the answer is the target.
int ThreadMainMsgHandler::forward(const LoString& key, const LoString& target, LoString* reply)
{
    if (Tellwire* endpoint = context_ ? context_->getMainEndpoint() : nullptr) {
        if (!target.isEmpty()) {
            ThreadForwardMsgHandler* forwarder = new ThreadForwardMsgHandler(context_, target, key);
            if (!forwarder)
                throw std::bad_alloc();
            delete Tellwire::addMsgHandler(endpoint, forwarder);
        } else {
            delete Tellwire::removeMsgHandler(endpoint, key.text(), Tellwire::MsgHandler::kEveryMessage);
        }
    }
    thread_->setEntry(key, target);
    if (reply && !target.isEmpty())
        *reply = target;
    return 0;
}

// ---- LAUNCHED ---------------------------------------------------------------------------

int ThreadLaunchedMsgHandler::handle(int, Message& message, LoString* reply)
{
    Specifier sender(message.sender.text(), false);
    sender.setEngine(LoString());
    sender.setInstance(LoString());
    LoString entry("LAUNCHPARAMS:");
    entry += sender;
    if (TellwireThread* thread = pumpThreadOf(context_))
        thread->setEntry(entry, LoString());
    if (reply)
        reply->assign(statusWord(kLaunched));
    return 0;
}

void ThreadLaunchedMsgHandler::getName(LoString& out)
{
    out.assign(statusWord(kLaunched));
}

// ---- DIAGNOSTICS ---------------------------------------------------------------------------

int ThreadDiagnosticsMsgHandler::handle(int, Message& message, LoString* reply)
{
    if (!reply)
        return 0;
    reply->assign(statusWord(kSeeBody));
    writeTellwireDiagnostics(message.body, false);
    return 0;
}

void ThreadDiagnosticsMsgHandler::getName(LoString& out)
{
    out.assign(statusWord(kDiagnostics));
}

// ---- INFO -------------------------------------------------------------------------------

int ThreadInfoMsgHandler::handle(int, Message& message, LoString* reply)
{
    if (!reply || !context_)
        return 0;
    reply->assign(statusWord(kSeeBody));
    LoString own;
    context_->getContextSpecifier(own);
    Specifier s(own.text(), false);
    LoString p("/");
    p += s;

    LoString topics = message.body;
    message.body.assign("");
    if (topics.isEmpty() || view(topics) == "all")
        topics.assign("context,thread,messages,connector");
    auto asked = [&topics](const char* topic) { return std::strstr(topics.text(), topic) != nullptr; };

    TellwireThread* thread = pumpThreadOf(context_);
    LoString status = thread ? thread->queryEntry(LoString(statusWord(kStatus))) : LoString();
    LoString& body = message.body;
    if (asked("context")) {
        appendDiagnosticsLine(body, p, "1", s, status);
        context_->writeContextDiagnostics(body, p.text());
    }
    if (asked("thread")) {
        appendDiagnosticsLine(body, p, "1", s, status);
        if (thread)
            thread->writeThreadDiagnostics(body, p.text());
    }
    if (asked("messages")) {
        LoString m("/messages");
        m += p;
        endpointReports(body, context_, "/messages", m, "Messages", s);
    }
    if (asked("log")) {
        LoString l("/log");
        l += p;
        endpointReports(body, context_, "/log", l, "Log", s);
    }
    if (asked("connector"))
        if (TellwireConnector* connector = getGlobalConnector())
            connector->writeDiagnostics(body, LoString());
    return 0;
}

void ThreadInfoMsgHandler::getName(LoString& out)
{
    out.assign(statusWord(kInfo));
}

// ---- forwarders -----------------------------------------------------------------------------

ThreadForwardMsgHandler::ThreadForwardMsgHandler(TellwireContext* context, const LoString& target,
                                                 const LoString& kind)
    : ThreadMsgHandler(context), target_(target), kind_(kind)
{
}

int ThreadForwardMsgHandler::handle(int, Message& message, LoString*)
{
    Tellwire* endpoint = context_ ? context_->getMainEndpoint() : nullptr;
    if (!endpoint || target_.isEmpty())
        return 0;
    Specifier target(target_.text(), false);
    if (!isTargetRunning(target))
        return 0;
    message.target = target;
    Tellwire::getSpecifier(endpoint, message.sender);
    message.type.assign("Debug");
    message.timeout = 0;
    message.addHeader(LoString("Command"), kind_);
    Tellwire::sendMessage(endpoint, message, false, 0, nullptr);
    return 0;
}

void ThreadForwardMsgHandler::getName(LoString& out)
{
    out = kind_;
}

}  // namespace LxObjects
