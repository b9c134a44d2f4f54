// Application specifiers: the lower-case names by which Tellwire addresses
// applications, endpoints and mailboxes.
//
//   name [ "_" instance ] [ "-" version ] [ "-" locale ] [ "#" engine ]
//
// Parsing and rebuilding are plain text work. Normalisation completes a
// partial specifier from the applications the process-wide connector knows,
// and the running test asks whether somebody answers under a specifier.
#pragma once
#include "objects/LoString.h"
#include "objects/LoTypes.h"
#include "objects/Tellwire.h"

namespace LxObjects {

class Tellwire::Specifier : public LoString {
public:
    // Texts of this many bytes or more give an empty specifier.
    static const int kMaxLength = 256;

    Specifier();
    // Copies text (null or too long: empty) and lower-cases it; with
    // normalize set it is normalised instead (which lower-cases too).
    Specifier(const char* text, bool normalize);
    Specifier(const Specifier& other);
    Specifier& operator=(const Specifier& other);
    ~Specifier() override;

    // The parts by the grammar; out is emptied when a part is absent.
    void getName(LoString& out) const;
    void getInstance(LoString& out) const;
    void getVersion(LoString& out) const;
    void getLocale(LoString& out) const;
    void getEngine(LoString& out) const;

    // Rebuild the text with one part replaced; an empty argument removes the
    // part. setLocale and setVersion change the text only when an installed
    // application fits and answer false otherwise.
    bool setInstance(const LoString& instance);
    bool setEngine(const LoString& engine);
    bool setLocale(const LoString& locale);
    // A version beginning with "-" asks for the highest installed version not
    // above the number that follows.
    bool setVersion(const LoString& version);

    // Whether the connector knows a launch path for this specifier.
    bool isInstalled() const;
};

// The first installed specifier with this name and version whose locale is
// empty or the wanted one (locale, or the user's when locale is empty);
// locale becomes the found entry's locale, or empty when none fits.
bool findInstalledSpecifier(const LoString& name, const LoString& version, LoString& locale);

// Completes specifier from the installed applications: a bare name is first
// resolved within the own application's suite (useConnector set), then a
// running instance is preferred, else the best installed version and
// locale. The text stays as given, lower-cased, when nothing fits.
void normalizeSpecifier(Tellwire::Specifier* specifier, bool useConnector);

// Whether somebody answers under the specifier: this process itself, a
// launched process that is still alive, or the holder of its mailbox.
bool isTargetRunning(const Tellwire::Specifier& specifier);

// One probe message of the kind ("ping", "Tavrel") from sender to target
// through the ping mailbox; true when it reached a holder of the target's
// mailbox (or sender is target).
bool sendToTarget(const LoString& sender, const LoString& target, const LoString& kind, u32 serial);

// The C library's atof read in the "C" numeric locale, whatever locale the
// host process set: versions and group sets are numbers with a '.'.
double readNumber(const LoString& text);

// The user's locale as specifiers write it ("en_us" when the system has none).
LoString getUserLocale();

}  // namespace LxObjects
