#include "objects/Message.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <mutex>
#include <new>
#include <string_view>
#include <unordered_map>

#include "objects/Connector.h"
#include "objects/PlatformServices.h"
#include "objects/TellwireContext.h"

namespace LxObjects {

using Header = Tellwire::Header;
using Message = Tellwire::Message;

namespace {

using std::string_view;

string_view view(const LoString& s)
{
    return string_view(s.text(), size_t(s.length()));
}

bool contains(const LoString& s, const char* part)
{
    return view(s).find(part) != string_view::npos;
}

const char* const kBuiltInTypes[] = {
    "Tavrel", "Debug", "Receive", "Received", "Result", "Error",
    "Idle", "Timeout", "Log", "Ignore", "Processed", "Launched",
};

// The names that, in a new-style text, a custom header may only carry with
// the "@HDR>" prefix.
const char* const kStandardNames[] = {
    "Sender", "Sender-ID", "Target", "Timeout", "Type", "Response-Request", "Timestamp",
    "Content-Length", "Serial-Number", "Received", "Result", "Error", "Error-Code", "@TW>Version",
};

const char kHeaderPrefix[] = "@HDR>";

template <size_t N>
bool isOneOf(string_view s, const char* const (&names)[N])
{
    for (const char* name : names)
        if (s == name)
            return true;
    return false;
}

// Versions whose texts carry custom headers without the "@HDR>" prefix.
bool isOldStyle(const LoString& version)
{
    string_view v = view(version);
    return v.empty() || v == "1.0" || v == "2.0";
}

// The fields the reader takes from their keys and the writer writes.
struct TextKey {
    const char* key;
    LoString Message::*field;
};
const TextKey kTextKeys[] = {
    {"Sender", &Message::sender},
    {"Target", &Message::target},
    {"Type", &Message::type},
    {"Response-Request", &Message::responseRequest},
};

struct WideKey {
    const char* key;
    i64 Message::*field;
};
const WideKey kWideKeys[] = {
    {"Timeout", &Message::timeout},
    {"Timestamp", &Message::timestamp},
};

struct NumberKey {
    const char* key;
    u32 Message::*field;
};
const NumberKey kNumberKeys[] = {
    {"Content-Length", &Message::contentLength},
    {"Serial-Number", &Message::serialNumber},
    {"Received", &Message::received},
    {"Result", &Message::result},
    {"Error", &Message::error},
};

// The reply fields in the order in which the reader folds them into the
// serial number and the type; the writer writes them in the same order.
const NumberKey kReplyFields[] = {
    {"Received", &Message::received},
    {"Result", &Message::result},
    {"Error", &Message::error},
};

// strtoul with base 10 and a 32-bit unsigned long, in the "C" locale, over
// a value that is not NUL-terminated: blanks, a sign, digits; a negative
// number wraps, one too large gives 0xFFFFFFFF, no digits give 0.
u32 readUnsigned(string_view s)
{
    size_t i = 0;
    while (i < s.size() && (s[i] == ' ' || (s[i] >= '\t' && s[i] <= '\r')))
        ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-'))
        negative = s[i++] == '-';
    u64 value = 0;
    bool tooLarge = false;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
        value = value * 10 + u64(s[i] - '0');
        if (value > 0xFFFFFFFFu) {
            tooLarge = true;
            value = 0;
        }
    }
    if (tooLarge)
        return 0xFFFFFFFF;
    return negative ? u32(0u - u32(value)) : u32(value);
}

void appendLine(LoString& out, const char* key, const LoString& value)
{
    out += key;
    out += ':';
    out += value;
    out += '\n';
}

void appendLine(LoString& out, const char* key, u32 value)
{
    out += key;
    out += ':';
    out += value;
    out += '\n';
}

std::atomic<const MessageHooks*> hooks{nullptr};

// The current local time of day, "%H:%M:%S"; empty when it cannot be had.
LoString clockText(i64 seconds)
{
    time_t t = time_t(seconds);
    struct tm parts;
    char text[32];
    if (!localtime_r(&t, &parts) || !std::strftime(text, sizeof text, "%H:%M:%S", &parts))
        return LoString();
    return LoString(text);
}

void appendNumberOrUndefined(LoString& out, u32 value)
{
    if (value == Message::kUnset)
        out += "undefined";
    else
        out += value;
}

}  // namespace

i64 now()
{
    return i64(std::time(nullptr));
}

bool isUserType(const LoString& type)
{
    return !isOneOf(view(type), kBuiltInTypes);
}

// -- The record ---------------------------------------------------------------

Tellwire::Message::Message() : type("Tavrel"), timestamp(now()), version("2.05") {}

Tellwire::Message::Message(const Message& other)
    : LoLockable(),
      target(other.target),
      sender(other.sender),
      timeout(other.timeout),
      type(other.type),
      responseRequest(other.responseRequest),
      timestamp(other.timestamp),
      contentLength(other.contentLength),
      serialNumber(other.serialNumber),
      received(other.received),
      result(other.result),
      error(other.error),
      body(other.body),
      version(other.version),
      digestStatus(other.digestStatus)
{
    // The names are unique, so each one goes first, as addHeader would put it.
    for (const Header* h = other.headers_; h; h = h->next)
        prependHeader(h->name, h->value);
    if (type.isEmpty())
        type.assign("Tavrel");
}

Tellwire::Message::~Message()
{
    deleteHeaders();
}

void Tellwire::Message::deleteHeaders()
{
    while (headers_) {
        Header* next = headers_->next;
        delete headers_;
        headers_ = next;
    }
}

void Tellwire::Message::addHeader(const LoString& name, const LoString& value)
{
    if (name.isEmpty())
        return;
    ObjectLock guard(*this);
    for (Header* h = headers_; h; h = h->next) {
        if (view(h->name) == view(name)) {
            h->value = value;
            return;
        }
    }
    prependHeader(name, value);
}

Header* Tellwire::Message::prependHeader(const LoString& name, const LoString& value)
{
    Header* header = new Header(name, value);
    if (!header)
        throw std::bad_alloc();
    header->next = headers_;
    headers_ = header;
    return header;
}

void Tellwire::Message::addHeader(const char* name, const char* value)
{
    if (name && *name)
        addHeader(LoString(name), LoString(value));
}

void Tellwire::Message::addHeader(const char* name, i32 number)
{
    char text[16];
    std::snprintf(text, sizeof text, "%ld", long(number));
    addHeader(name, text);
}

LoString Tellwire::Message::getHeader(const char* name) const
{
    ObjectLock guard(*this);
    string_view wanted(name ? name : "");
    for (const Header* h = headers_; h; h = h->next)
        if (view(h->name) == wanted)
            return h->value;
    return LoString();
}

bool Tellwire::Message::isUserMessageType() const
{
    return isUserType(type);
}

// -- Writer -------------------------------------------------------------------

bool serializeMessage(const Message& m, LoString& out)
{
    out.assign("", 0);
    appendLine(out, "@TW>Version", m.version);
    if (m.target.isEmpty())
        return false;
    appendLine(out, "Target", m.target);
    out += "Sender:";
    if (m.sender.isEmpty())
        return false;
    out += m.sender;
    out += '\n';
    appendLine(out, "Sender-ID", getSenderId());
    if (m.timeout != 0)
        appendLine(out, "Timeout", u32(u64(m.timeout)));  // "%lu": the low 32 bits
    if (!m.type.isEmpty())
        appendLine(out, "Type", m.type);
    if (!m.responseRequest.isEmpty())
        appendLine(out, "Response-Request", m.responseRequest);

    // A new-style reader takes a header named like a field as that field
    // unless it carries the prefix.
    bool oldStyle = isOldStyle(m.version);
    for (const Header* h = m.firstHeader(); h; h = h->next) {
        if (!oldStyle && isOneOf(view(h->name), kStandardNames))
            out += kHeaderPrefix;
        out += h->name;
        out += ':';
        out += h->value;
        out += '\n';
    }

    out += "Timestamp: ";
    out += u32(u64(now()));
    out += '\n';
    appendLine(out, "Serial-Number", m.serialNumber);
    for (const NumberKey& f : kReplyFields)
        if (m.*f.field != Message::kUnset)
            appendLine(out, f.key, m.*f.field);
    appendLine(out, "Content-Length", u32(m.body.length()));
    out += '\n';
    out += m.body;
    return true;
}

bool serializeMessageWithDigest(const Message& message, LoString& out)
{
    LoString text;
    if (!serializeMessage(message, text))
        return false;
    if (TellwireData::getMessageGlobals().sendDigests()) {
        out += "@TW>MD5:";
        out += messageDigest(text);
        out += '\n';
    }
    out += text;
    return true;
}

// -- Reader -------------------------------------------------------------------

namespace {

// Empties the fields of a message that is read a second time; its
// timestamp stays.
void clearFields(Message& m)
{
    for (const TextKey& k : kTextKeys)
        (m.*k.field).assign("", 0);
    m.body.assign("", 0);
    m.timeout = 0;
    m.contentLength = 0;
    m.serialNumber = 0;
    m.received = m.result = m.error = Message::kUnset;
}

// What the header lines say about the digest.
struct DigestLines {
    bool legacy = false;
    bool haveMd5 = false;
    LoString md5;
    int regionStart = 0;  // the digest covers the text from here
};

// Takes one header line into the message; false for a custom header, whose
// key then has lost its "@HDR>" prefix where the text calls for that.
bool readLine(Message& m, string_view& key, string_view value, bool& newStyle, DigestLines& digest,
              int nextLine)
{
    if (key == "Version" || key == "@TW>Version") {
        // The legacy key keeps a prefix in the stored version.
        m.version.assign(key == "Version" ? "@TW>" : "");
        m.version.append(value.data(), int(value.size()));
        if (isOldStyle(m.version))
            newStyle = false;
        return true;
    }
    for (const TextKey& k : kTextKeys) {
        if (key == k.key) {
            (m.*k.field).assign(value.data(), int(value.size()));
            return true;
        }
    }
    for (const WideKey& k : kWideKeys) {
        if (key == k.key) {
            m.*k.field = i64(readUnsigned(value));
            return true;
        }
    }
    for (const NumberKey& k : kNumberKeys) {
        if (key == k.key) {
            m.*k.field = readUnsigned(value);
            return true;
        }
    }
    if (key == "@TW>Digest") {
        digest.legacy = true;
        digest.regionStart = nextLine;
        return true;
    }
    if (key == "@TW>MD5") {
        if (!digest.legacy) {
            digest.haveMd5 = true;
            digest.md5.assign(value.data(), int(value.size()));
            digest.regionStart = nextLine;
        }
        return true;
    }
    if (newStyle && key.substr(0, sizeof kHeaderPrefix - 1) == kHeaderPrefix)
        key.remove_prefix(sizeof kHeaderPrefix - 1);
    return false;
}

// A reply carries the answered number in its serial number and says what it
// is by its type; its reply fields end unset.
void normalizeReply(Message& m)
{
    if (view(m.type) == "debug")
        return;
    for (const NumberKey& f : kReplyFields) {
        if (m.*f.field == Message::kUnset)
            continue;
        m.serialNumber = m.*f.field;
        m.*f.field = Message::kUnset;
        if (view(m.type) != f.key) {
            LoString old(m.type);
            m.type.assign(f.key);
            if (isUserType(old))
                m.type += old;
        }
    }
}

}  // namespace

int parseMessage(Message& m, const char* text, int length)
{
    if (!text || length < 0)
        length = 0;
    ObjectLock guard(m);
    m.version.assign("1.0");
    if (!m.target.isEmpty()) {
        m.deleteHeaders();
        clearFields(m);
    }
    m.digestStatus.assign("NODIGEST");
    bool newStyle = true;
    DigestLines digest;
    // Custom headers by name: a text may hold very many lines, and only so
    // many of them become headers.
    std::unordered_map<string_view, Header*> headers;
    for (Header* h = m.headers_; h; h = h->next)
        headers.emplace(view(h->name), h);
    int added = 0;

    // Header lines up to an empty line. A key runs to the next ":" even
    // across line ends; every step stops at the end of the text.
    int pos = 0;
    while (pos < length && text[pos] != '\n') {
        const char* colon = static_cast<const char*>(std::memchr(text + pos, ':', size_t(length - pos)));
        int keyEnd = colon ? int(colon - text) : length;
        int valueStart = keyEnd < length ? keyEnd + 1 : length;
        const char* lineEnd =
            static_cast<const char*>(std::memchr(text + valueStart, '\n', size_t(length - valueStart)));
        int valueEnd = lineEnd ? int(lineEnd - text) : length;
        int next = valueEnd < length ? valueEnd + 1 : length;
        string_view key(text + pos, size_t(keyEnd - pos));
        string_view value(text + valueStart, size_t(valueEnd - valueStart));
        pos = next;
        if (readLine(m, key, value, newStyle, digest, next) || key.empty())
            continue;
        auto found = headers.find(key);
        if (found != headers.end()) {
            found->second->value.assign(value.data(), int(value.size()));
        } else if (added < Message::kMaxReadHeaders) {
            Header* h = m.prependHeader(LoString(key.data(), int(key.size())),
                                        LoString(value.data(), int(value.size())));
            headers.emplace(view(h->name), h);
            ++added;
        }
    }
    if (pos < length)
        ++pos;  // the empty line

    // The body: Content-Length bytes, or what the text still holds.
    int available = length - pos;
    int bodyLength = m.contentLength < u32(available) ? int(m.contentLength) : available;
    m.body.assign(text + pos, bodyLength);
    pos += bodyLength;

    if (TellwireData::getMessageGlobals().checkDigests()) {
        bool rejected = false;
        if (digest.haveMd5) {
            LoString region(text + digest.regionStart, pos - digest.regionStart);
            rejected = view(messageDigest(region)) != view(digest.md5);
        }
        m.digestStatus.assign(rejected ? "REJECTED" : "");
    }

    while (pos < length && text[pos] == '\n')
        ++pos;
    if (m.timeout > 0 && m.timestamp == 0)
        m.timestamp = now();
    normalizeReply(m);
    return pos;
}

// -- Expiry and the forwarding log ---------------------------------------------

void setMessageHooks(const MessageHooks* table)
{
    hooks.store(table);
}

namespace {

const MessageHooks* activeHooks()
{
    const MessageHooks* h = hooks.load();
    return h ? h : &endpointMessageHooks();
}

}  // namespace

bool notifySenderOfTimeout(const Message& message, const char* reason, const LoString& queueName)
{
    if (!reason || !contains(message.responseRequest, reason))
        return false;
    if (view(message.getHeader("TIMEOUT_DETECTOR")) == "SENDER")
        return false;  // the sender watches its time-outs itself

    const MessageHooks* h = activeHooks();
    std::unique_ptr<Message> reply(new Message);
    if (!reply)
        throw std::bad_alloc();
    reply->target = message.sender;
    reply->sender = message.target;
    string_view version = view(message.version);
    if (version.empty() || version == "1.0") {
        reply->type = message.type;
        if (TellwireContext* context = getCurrentContext())
            reply->serialNumber = context->nextSerialNumber();
    } else {
        reply->serialNumber = message.serialNumber;
        reply->type.assign(reason);
        if (isUserType(reply->type))
            reply->type += message.type;
    }
    if (!queueName.isEmpty() && view(message.type) != "Debug")
        forwardMessageLog(message, "FWDMESSAGES", queueName, "timed out");
    return h && h->sendThroughMainEndpoint && h->sendThroughMainEndpoint(*reply);
}

void forwardMessageLog(const Message& message, const char* kind, const LoString& queueName, const char* word)
{
    string_view type = view(message.type);
    if (type == "Debug" || type == "Log" || (type == "Tavrel" && message.body.isEmpty()))
        return;
    const MessageHooks* h = activeHooks();
    if (!h || !h->hasForwarder || !h->forward || !h->hasForwarder(kind))
        return;
    std::unique_ptr<Message> report(new Message);
    if (!report)
        throw std::bad_alloc();
    report->addHeader(LoString("MsgRoot"), queueName);
    writeMessageDiagnostics(report->body, queueName, message);
    if (word && *word) {
        LoString& out = report->body;
        out += queueName;
        out += "/msg";
        out += message.serialNumber;
        out += ";1;msg[";
        out += clockText(message.timestamp);
        out += "];";
        out += word;
        out += ";\n";
    }
    h->forward(kind, *report);
}

// -- Diagnostics ----------------------------------------------------------------

void appendDiagnosticsLine(LoString& out, const LoString& path, const char* suffix, const char* flag,
                           const LoString& label, const LoString& value)
{
    out += path;
    out += suffix;
    out += ';';
    out += flag;
    out += ';';
    out += label;
    out += ';';
    out += value;
    out += ";\n";
}

void writeMessageDiagnostics(LoString& out, const LoString& prefix, const Message& m)
{
    LoString path(prefix);
    path += "/msg";
    path += m.serialNumber;

    char serial[16];
    std::snprintf(serial, sizeof serial, "%08lu", (unsigned long)m.serialNumber);
    LoString label("msg[");
    label += clockText(m.timestamp);
    label += ']';
    appendDiagnosticsLine(out, path, "", "1", label.text(), LoString(serial));

    appendDiagnosticsLine(out, path, "/version", "0", "@TW>Version", m.version);
    appendDiagnosticsLine(out, path, "/target", "0", "Target", m.target);
    appendDiagnosticsLine(out, path, "/sender", "0", "Sender", m.sender);
    appendDiagnosticsLine(out, path, "/senderid", "0", "Sender-ID", getSenderId());

    LoString value;
    if (m.timeout == 0) {
        value.assign("undefined");
    } else {
        i64 end;
        if (__builtin_add_overflow(m.timestamp, m.timeout, &end))
            end = m.timeout > 0 ? INT64_MAX : INT64_MIN;
        value = clockText(end);
    }
    appendDiagnosticsLine(out, path, "/timeout", "0", "Timeout", value);
    appendDiagnosticsLine(out, path, "/type", "0", "Type", m.type.isEmpty() ? LoString("undefined") : m.type);

    // This line ends without its closing ";".
    out += path;
    out += "/request;0;Response-Request;";
    if (m.responseRequest.isEmpty())
        out += "undefined;";
    else
        out += m.responseRequest;
    out += '\n';

    const Header* first = m.firstHeader();
    if (!first) {
        appendDiagnosticsLine(out, path, "/headers", "0", "Headers", LoString("(no headers)"));
    } else {
        appendDiagnosticsLine(out, path, "/headers", "1", "Headers", LoString());
        for (const Header* h = first; h; h = h->next) {
            LoString suffix("/headers/");
            suffix += h->name;
            appendDiagnosticsLine(out, path, suffix.text(), "0", h->name.text(), h->value);
        }
    }

    appendDiagnosticsLine(out, path, "/timestamp", "0", "Timestamp",
                     m.timestamp == 0 ? LoString("undefined") : clockText(m.timestamp));
    value.assign("", 0);
    value += m.serialNumber;
    appendDiagnosticsLine(out, path, "/serialnumber", "0", "Serial-Number", value);
    struct {
        const char* suffix;
        const char* label;
        u32 number;
    } replies[] = {
        {"/received", "Received", m.received},
        {"/result", "Result", m.result},
        {"/error", "Error", m.error},
    };
    for (const auto& r : replies) {
        value.assign("", 0);
        appendNumberOrUndefined(value, r.number);
        appendDiagnosticsLine(out, path, r.suffix, "0", r.label, value);
    }

    if (m.body.isEmpty()) {
        appendDiagnosticsLine(out, path, "/body", "0", "Body", LoString("(empty)"));
        return;
    }
    value.assign("", 0);
    value += u32(m.body.length());
    value += " bytes";
    appendDiagnosticsLine(out, path, "/body", "1", "Body", value);
    // The first line of the body, ended by a line end only.
    const char* lineEnd = static_cast<const char*>(std::memchr(m.body.text(), '\n', size_t(m.body.length())));
    out += path;
    out += "/body/text;0;Text;";
    out.append(m.body.text(), lineEnd ? int(lineEnd - m.body.text()) : m.body.length());
    out += '\n';
}

// -- Digest settings ------------------------------------------------------------

namespace TellwireData {

namespace {

std::mutex globalsMutex;
MessageGlobals* globals = nullptr;

}  // namespace

MessageGlobals::MessageGlobals() : checkDigests_(true), sendDigests_(true)
{
    // The connector answers true for a name that is not in its table.
    if (TellwireConnector* connector = getGlobalConnector()) {
        checkDigests_ = connector->usesMessageAuthentication(connector->getName());
        sendDigests_ = connector->usesMessageDigest(connector->getName());
    }
}

MessageGlobals::~MessageGlobals() = default;

bool MessageGlobals::checkDigests() const
{
    ObjectLock guard(*this);
    return checkDigests_;
}

bool MessageGlobals::sendDigests() const
{
    ObjectLock guard(*this);
    return sendDigests_;
}

MessageGlobals& getMessageGlobals()
{
    {
        std::lock_guard<std::mutex> guard(globalsMutex);
        if (globals)
            return *globals;
    }
    // Made outside the lock: the connector may build its table first.
    MessageGlobals* made = new MessageGlobals;
    if (!made)
        throw std::bad_alloc();
    std::lock_guard<std::mutex> guard(globalsMutex);
    if (globals)
        delete made;
    else
        globals = made;
    return *globals;
}

void deleteMessageGlobals()
{
    std::lock_guard<std::mutex> guard(globalsMutex);
    delete globals;
    globals = nullptr;
}

}  // namespace TellwireData
}  // namespace LxObjects
