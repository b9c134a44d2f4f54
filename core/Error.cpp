// Error lists and the built-in error table.
#include "core/Error.h"

#include <new>

#include "core/ErrorCodes.h"
#include "core/Refcountable.h"
#include "core/Variant.h"

namespace LxCore {

namespace {

// The script error classes errors are reported as, in their fixed order.
constexpr const char* kClassNames[] = {
    "Error",      "TypeError",  "SyntaxError", "ReferenceError", "InternalError",
    "FatalError", "RangeError", "EvalError",   "URIError",       "IOError",
};

enum ClassIndex : i8 {
    kNone = -1,
    kError,
    kTypeError,
    kSyntaxError,
    kReferenceError,
    kInternalError,
    kFatalError,
    kRangeError,
    kEvalError,
    kURIError,
    kIOError,
};

struct ErrorRow {
    i16 number;
    ClassIndex errorClass;
    const char* text;
};

// Row n holds number n; the fatal and internal conditions are negative.
constexpr ErrorRow kTable[] = {
    {0, kNone, ""},
    {Err::kText, kError, "%1"},
    {Err::kUndefined, kReferenceError, "%1 is undefined"},
    {Err::kCannotAssign, kReferenceError, "Cannot assign value"},
    {Err::kUnterminatedString, kSyntaxError, "Unterminated string constant"},
    {Err::kUnterminatedComment, kSyntaxError, "Unterminated comment"},
    {Err::kBadDigit, kSyntaxError, "Bad digit in number"},
    {Err::kFeatureNotSupported, kSyntaxError, "Language feature '%1' is not supported"},
    {Err::kSyntaxError, kSyntaxError, "Syntax error"},
    {Err::kReservedWord, kSyntaxError, "Illegal use of reserved word '%1'"},
    {Err::kJumpOutsideLoop, kSyntaxError, "Illegal break or continue outside a loop"},
    {Err::kLabelNotFound, kSyntaxError, "Label not found"},
    {Err::kNotConstant, kSyntaxError, "Expression is not constant"},
    {Err::kTooManyClosingBraces, kSyntaxError, "Too many closing braces"},
    {Err::kNoClosingBrace, kSyntaxError, "No matching closing brace found"},
    {Err::kTryWithoutCatch, kSyntaxError, "Try without catch or finally"},
    {Err::kCatchWithoutTry, kSyntaxError, "catch/finally without try"},
    {Err::kNameExpected, kTypeError, "Variable name expected"},
    {Err::kValueExpected, kTypeError, "Variable or value expected"},
    {Err::kBadArgument, kTypeError, "Bad argument %1"},
    {Err::kBadArgumentList, kTypeError, "Bad argument list"},
    {Err::kNotAnObject, kTypeError, "%1 is not an object"},
    {Err::kNoConstructor, kReferenceError, "%1 does not have a constructor"},
    {Err::kNoValue, kReferenceError, "%1 does not have a value"},
    {Err::kNotAFunction, kReferenceError, "%1 is not a function"},
    {Err::kExpected, kSyntaxError, "Expected: %1"},
    {Err::kWrongClass, kError, "%1 cannot work with instances of this class"},
    {Err::kStackOverrun, kInternalError, "Stack overrun"},
    {Err::kOutOfMemory, kFatalError, "Out of memory"},
    {Err::kUncaughtException, kFatalError, "Uncaught exception %1"},
    {Err::kReturnOutsideFunction, kSyntaxError, "Illegal 'return' outside of a function body"},
    {Err::kBadURI, kURIError, "Bad or invalid URI: %1"},
    {Err::kCannotExecute, kError, "Cannot execute"},
    {Err::kInternal, kInternalError, "Internal error"},
    {Err::kExecutionHalted, kFatalError, "Execution halted"},
    {Err::kEngineTimeout, kFatalError, "Timeout while waiting for the engine"},
    {Err::kNotImplemented, kFatalError, "Not implemented"},
    {Err::kCharConversion, kSyntaxError, "Character conversion error"},
    {Err::kPartialCharacter, kSyntaxError, "Partial multibyte character found"},
    {Err::kTwoDefaults, kSyntaxError, "More than one switch default"},
    {Err::kRedeclared, kTypeError, "%1 redeclared"},
    {Err::kOutOfRange, kRangeError, "%1 is out of range"},
    {Err::kCatchAfterUnconditional, kSyntaxError, "Catch after unconditional catch"},
    {Err::kEvaluation, kEvalError, "Evaluation error"},
    {Err::kCannotConvert, kTypeError, "Cannot convert"},
    {Err::kInvalidObject, kReferenceError, "Object is invalid"},
    {Err::kReadOnly, kReferenceError, "%1 is read only"},
    {Err::kTypeMismatch, kTypeError, "Data type mismatch"},
    {Err::kFileNotFound, kIOError, "File or folder does not exist"},
    {Err::kFileExists, kIOError, "File or folder already exists"},
    {Err::kNotOpen, kIOError, "I/O device is not open"},
    {Err::kReadPastEnd, kIOError, "Read past EOF"},
    {Err::kIOError, kIOError, "I/O error"},
    {Err::kPermissionDenied, kReferenceError, "Permission denied"},
    {Err::kScriptException, kError, "Uncaught JavaScript exception: %1"},
    {Err::kNotSupported, kError, "Object does not support the property or method '%1'"},
    {Err::kCannotConnect, kIOError, "Cannot connect to %1"},
    {Err::kCannotResolve, kIOError, "Cannot resolve reference"},
    {Err::kIOTimeout, kIOError, "I/O Timeout"},
    {Err::kNoResponse, kIOError, "No response"},
    {Err::kNotWellFormed, kSyntaxError, "Not well-formed (invalid token)"},
    {Err::kUnclosedToken, kSyntaxError, "Unclosed token"},
    {Err::kMismatchedTag, kSyntaxError, "Mismatched tag"},
    {Err::kDuplicateAttribute, kTypeError, "Duplicate attribute"},
    {Err::kJunkAfterDocument, kTypeError, "Junk after document element"},
    {Err::kEntityParsing, kTypeError, "Entity parsing error"},
    {Err::kMisplacedXMLDeclaration, kTypeError, "XML declaration not at start of external entity"},
    {Err::kUnknownEncoding, kTypeError, "Unknown encoding"},
    {Err::kIncorrectEncoding, kTypeError, "Encoding specified in XML declaration is incorrect"},
    {Err::kUnclosedCDATA, kTypeError, "Unclosed CDATA section"},
    {Err::kNeedsDTD, kTypeError, "Requested feature requires DTD support"},
    {Err::kUnexpectedDoctype, kTypeError, "Unexpected DOCTYPE name"},
    {Err::kUnboundPrefix, kTypeError, "Unbound namespace prefix"},
    {Err::kUnknownAxis, kSyntaxError, "Unknown axis name: %1"},
    {Err::kUnsupportedAxis, kReferenceError, "Unsupported axis"},
    {Err::kOperandExpected, kSyntaxError, "Operand expected, but found %1"},
    {Err::kNodeSetExpected, kReferenceError, "Node set expected"},
    {Err::kNodeTestExpected, kSyntaxError, "Node test expected, but found %1"},
    {Err::kCannotSet, kTypeError, "Cannot set property %1"},
    {Err::kVandrel, kError, "Vandrel error: %1"},
};

constexpr i64 kRows = i64(sizeof(kTable) / sizeof(kTable[0]));
static_assert(kRows == 80);

constexpr bool everyRowHoldsItsNumber() {
    for (i64 n = 0; n < kRows; n++)
        if (kTable[n].number != n && kTable[n].number != -n)
            return false;
    return true;
}
static_assert(everyRowHoldsItsNumber());

constexpr const char* kErrorKey = "$$$/CT/Tavrel/Errors/Err%d=";
constexpr const char* kGeneralKey = "$$$/CT/Tavrel/Errors/General=";
constexpr const char* kBeyondTable = "Error #%1";

// In 64 bits, so that the most negative number has a magnitude too.
i64 magnitude(i32 code) { return code < 0 ? -i64(code) : i64(code); }

Error::TextLocalizer localizeHook = nullptr;

// What a localizer does with a key it has no translation for.
void cutKey(String& text) {
    if (text.compare("$$$", 3) != 0)
        return;
    i32 equals = text.find(unit('='));
    if (equals >= 0)
        text.erase(0, equals + 1);
}

// The shared heads. None is ever freed: every handle may share them, also
// one that outlives the library. The fatal records' texts live on the core
// heap between the module's start and end.
ErrorData emptyHead{{}, nullptr, 1};
ErrorRecord outOfMemoryRecord(Err::kOutOfMemory);
ErrorRecord uncaughtRecord(Err::kUncaughtException);
ErrorData outOfMemoryHead{{}, &outOfMemoryRecord, 1};
ErrorData uncaughtHead{{}, &uncaughtRecord, 1};

bool isSharedHead(const ErrorData* head) {
    return head == &emptyHead || head == &outOfMemoryHead || head == &uncaughtHead;
}

void freeRecords(ErrorRecord* record) noexcept {
    while (record) {
        ErrorRecord* next = record->next;
        delete record;
        record = next;
    }
}

void releaseHead(ErrorData* head) noexcept {
    if (atomicDecrement(&head->refCount) != 0 || isSharedHead(head))
        return;
    freeRecords(head->first);
    delete head;
}

ErrorData* shareHead(ErrorData* head) {
    atomicIncrement(&head->refCount);
    return head;
}

ErrorRecord* copyRecord(const ErrorRecord& from) {
    ErrorRecord* to = new ErrorRecord;
    try {
        to->message = from.message;
        to->fileName = from.fileName;
        to->source = from.source;
        if (from.data)
            to->data = new Variant(*from.data);
        if (from.payload)
            from.payload->clone(to->payload);
    } catch (...) {
        delete to;
        throw;
    }
    to->line = from.line;
    to->start = from.start;
    to->further = from.further;
    to->length = from.length;
    to->code = from.code;
    return to;
}

}  // namespace

// ---- records ----

ErrorRecord::~ErrorRecord() {
    delete data;
    delete payload;
}

Variant* ErrorRecord::getData() {
    if (!data)
        data = new Variant;
    return data;
}

// ---- handles ----

Error::Error() : d(shareHead(&emptyHead)) {}

Error::Error(const Error& other) : d(shareHead(other.d)) {}

Error::Error(i32 code, const String& text, bool useDefaultText) : d(shareHead(&emptyHead)) {
    push(code, text, nullptr, useDefaultText);
}

Error::~Error() { releaseHead(d); }

Error& Error::operator=(const Error& other) {
    if (d != other.d) {
        ErrorData* old = d;
        d = shareHead(other.d);
        releaseHead(old);
    }
    return *this;
}

void Error::clear() { share(&emptyHead); }

void Error::share(ErrorData* head) {
    ErrorData* old = d;
    d = shareHead(head);
    releaseHead(old);
}

void Error::becomeFatal(ErrorData* head) noexcept { share(head); }

bool Error::isFatal() const { return d == &outOfMemoryHead || d == &uncaughtHead; }

// Makes the head this handle's own, copying the records when others share
// them; the empty head is always left for a new one. Throws on failure with
// the list unchanged.
void Error::privatize() {
    if (d != &emptyHead && d->refCount < 2)
        return;
    ErrorData* copy = new ErrorData{{}, nullptr, 1};
    try {
        ErrorRecord** tail = &copy->first;
        for (const ErrorRecord* record = d->first; record; record = record->next) {
            *tail = copyRecord(*record);
            tail = &(*tail)->next;
        }
    } catch (...) {
        freeRecords(copy->first);
        delete copy;
        throw;
    }
    ErrorData* old = d;
    d = copy;
    releaseHead(old);
}

// The fatal lists stay shared until cleared, as they refuse every change.
void Error::detach() {
    if (isFatal())
        return;
    try {
        privatize();
    } catch (const std::bad_alloc&) {
        becomeFatal(&outOfMemoryHead);
    } catch (...) {
        becomeFatal(&uncaughtHead);
    }
}

void Error::push(i32 code, const String& text, Cloneable* payload, bool useDefaultText) {
    if (isFatal()) {
        delete payload;
        return;
    }
    ErrorRecord* record = nullptr;
    try {
        privatize();
        record = new ErrorRecord;
        record->payload = payload;
        payload = nullptr;
        record->code = code;
        record->message = text;
        if (useDefaultText) {
            errorTextForCode(code, record->message);
            // Beyond the table a given text is the message itself, not a
            // template to fill with itself.
            if (magnitude(code) < kRows || text.isEmpty())
                record->message.replaceAll("%1", text);
        }
        record->next = d->first;
        d->first = record;
    } catch (const std::bad_alloc&) {
        delete record;
        delete payload;
        becomeFatal(&outOfMemoryHead);
    } catch (...) {
        delete record;
        delete payload;
        becomeFatal(&uncaughtHead);
    }
}

void Error::push(i32 code, Cloneable* payload) { push(code, String(), payload, false); }

ErrorRecord* Error::editRecord() {
    if (!d->first || isFatal())
        return nullptr;
    detach();
    return isFatal() ? nullptr : d->first;
}

void Error::setSource(const String& source, i32 line, i32 start, i32 further, u16 length) {
    ErrorRecord* record = editRecord();
    if (!record)
        return;
    try {
        record->source = source;
    } catch (const std::bad_alloc&) {
        becomeFatal(&outOfMemoryHead);
        return;
    }
    record->line = line;
    record->start = start;
    record->further = further;
    record->length = length;
}

void Error::setFileName(const String& fileName) {
    ErrorRecord* record = editRecord();
    if (!record)
        return;
    try {
        record->fileName = fileName;
    } catch (const std::bad_alloc&) {
        becomeFatal(&outOfMemoryHead);
    }
}

void Error::getMessage(String& out) const {
    out.clear();
    try {
        for (const ErrorRecord* record = d->first; record; record = record->next) {
            if (record != d->first)
                out += "\n- ";
            out += record->message;
        }
    } catch (const std::bad_alloc&) {
        out.clear();
    }
}

i32 Error::getCode() const { return d->first ? d->first->code : 0; }

bool Error::isEmpty() const { return d->first == nullptr; }

const ErrorRecord* Error::getRecord() const { return d->first; }

bool Error::getInfo(i32 code, String& message, String& className) {
    i64 n = magnitude(code);
    try {
        if (n >= kRows) {
            message = kBeyondTable;
            className = kClassNames[kError];
            return false;
        }
        const ErrorRow& row = kTable[n];
        message = row.text;
        if (row.errorClass == kNone)
            className.clear();
        else
            className = kClassNames[row.errorClass];
        return true;
    } catch (const std::bad_alloc&) {
        message.clear();
        className.clear();
        return false;
    }
}

bool Error::isErrorClass(const String& name) {
    for (const char* className : kClassNames)
        if (name.compare(className) == 0)
            return true;
    return false;
}

void Error::setLocalizationHook(TextLocalizer localizer) { localizeHook = localizer; }

void errorTextForCode(i32 code, String& text) {
    i64 n = magnitude(code);
    const char* key = nullptr;
    if (n < kRows) {
        text = kTable[n].text;
        key = kErrorKey;
    } else if (text.isEmpty()) {
        text = kBeyondTable;
        key = kGeneralKey;
    }
    if (key) {
        String keyed;
        keyed.sprintf(key, int(n));
        keyed += text;
        text = keyed;
    }
    // The magnitude of the most negative number does not fit; it is past
    // the table either way.
    i32 error = n > INT32_MAX ? INT32_MAX : i32(n);
    if (localizeHook)
        localizeHook(error, text);
    else
        cutKey(text);
}

void initError(bool start) {
    if (start) {
        String outOfMemory("Out of memory");
        String uncaught("Uncaught Exception");
        outOfMemoryRecord.message = outOfMemory;
        uncaughtRecord.message = uncaught;
    } else {
        outOfMemoryRecord.message.clear();
        uncaughtRecord.message.clear();
    }
}

}  // namespace LxCore
