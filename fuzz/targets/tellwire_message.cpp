// The Tellwire message reader: a mailbox's text, message after message as
// the stream reads them, each written out again and read back.
#include "fuzz/FuzzSupport.h"
#include "objects/LoString.h"
#include "objects/Message.h"

using LxObjects::LoString;
using Message = LxObjects::Tellwire::Message;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* text = reinterpret_cast<const char*>(data);
    int length = size > (1u << 24) ? 1 << 24 : int(size);
    for (int pos = 0; pos < length;) {
        Message message;
        int took = LxObjects::parseMessage(message, text + pos, length - pos);
        if (took <= 0 || took > length - pos)
            __builtin_trap();  // the stream would stall or overrun
        pos += took;
        LoString written;
        if (LxObjects::serializeMessage(message, written)) {
            Message again;
            LxObjects::parseMessage(again, written.text(), written.length());
        }
    }
    return 0;
}
