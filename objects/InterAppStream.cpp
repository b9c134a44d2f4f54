#include "objects/InterAppStream.h"

#include <climits>
#include <cstdlib>
#include <mutex>
#include <new>
#include <string>
#include <string_view>

#include "objects/PlatformServices.h"
#include "objects/TellwireUtils.h"

namespace LxObjects {

namespace {

std::string_view view(const LoString& s)
{
    return std::string_view(s.text(), size_t(s.length()));
}

const char kFallbackPingName[] = "interappstream-1.0";

// The ping mailbox is replaced only at facility start and shutdown, but
// made on first use by whichever thread asks first.
std::mutex pingMutex;
InterAppStream* pingStream = nullptr;

InterAppStream* newStream(const LoString& name)
{
    InterAppStream* stream = new InterAppStream(name);
    if (!stream)
        throw std::bad_alloc();
    return stream;
}

}  // namespace

// ---- BaseInterAppStream -------------------------------------------------------

BaseInterAppStream::BaseInterAppStream(const LoString& name)
    : name_(name), prefix_(getUserId()), mailboxName_(name)
{
}

BaseInterAppStream::~BaseInterAppStream() = default;

bool BaseInterAppStream::isEmpty()
{
    ObjectLock guard(*this);
    return received_.isEmpty();
}

void BaseInterAppStream::takeReceived(LoString& out)
{
    ObjectLock guard(*this);
    out = received_;
    received_.assign("", 0);
}

bool BaseInterAppStream::isNameFree(const LoString& name)
{
    ObjectLock guard(*this);
    return !Platform::Mailbox::isHeld(view(prefix_), view(name));
}

LoString BaseInterAppStream::getName()
{
    ObjectLock guard(*this);
    return name_;
}

// ---- WinInterAppStream ----------------------------------------------------------

WinInterAppStream::WinInterAppStream(const LoString& name) : BaseInterAppStream(name)
{
    mailbox_.create(view(prefix_), view(mailboxName_));
}

WinInterAppStream::~WinInterAppStream()
{
    ObjectLock guard(*this);
    mailbox_.close();
}

bool WinInterAppStream::isOpen()
{
    ObjectLock guard(*this);
    return mailbox_.isOpen();
}

bool WinInterAppStream::send(const LoString& target, const LoString& text)
{
    ObjectLock guard(*this);
    return Platform::Mailbox::send(view(prefix_), view(target), view(text));
}

bool WinInterAppStream::readOne()
{
    ObjectLock guard(*this);
    // A message that could not be appended is left waiting rather than lost.
    if (received_.length() > INT_MAX - int(Platform::Mailbox::kMaxMessage) - 256)
        return false;
    std::string message;
    if (!mailbox_.readOne(message))
        return false;
    received_.append(message.data(), int(message.size()));
    return true;
}

bool WinInterAppStream::hasMessage()
{
    ObjectLock guard(*this);
    return mailbox_.hasMessage();
}

bool WinInterAppStream::waitForMessage(int ms)
{
    ObjectLock guard(*this);
    return mailbox_.wait(ms);
}

// ---- the ping mailbox ---------------------------------------------------------

void openPingStream(const LoString& spec)
{
    std::lock_guard<std::mutex> guard(pingMutex);
    delete pingStream;
    pingStream = nullptr;
    Tellwire::Specifier name(spec.text(), false);
    if (name.isEmpty() || !name.setEngine(LoString("ping")))
        return;
    InterAppStream* stream = newStream(name);
    if (stream->isOpen())
        pingStream = stream;
    else
        delete stream;
}

InterAppStream* getPingStream()
{
    std::lock_guard<std::mutex> guard(pingMutex);
    if (!pingStream)
        pingStream = newStream(LoString(kFallbackPingName));
    return pingStream;
}

InterAppStream* findPingStream()
{
    std::lock_guard<std::mutex> guard(pingMutex);
    return pingStream;
}

void closePingStream()
{
    std::lock_guard<std::mutex> guard(pingMutex);
    delete pingStream;
    pingStream = nullptr;
}

void pingTarget(LoString& out, const Tellwire::Specifier& target, const LoString& query, int timeout,
                const LoString* body)
{
    InterAppStream* stream = findPingStream();
    if (!stream || !stream->isOpen()) {
        out.assign(TellwireUtils::statusWord(TellwireUtils::kNoInterAppStream));
        return;
    }
    TellwireUtils::sendPing(out, target, true, query, u32(std::rand()), timeout, body ? *body : LoString(),
                            nullptr);
}

}  // namespace LxObjects
