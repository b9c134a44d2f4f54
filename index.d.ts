// The debugger core's 17 functions. Every function but tvdIsInitialized
// answers a plain object with a numeric status and, on success, the data
// asked for; too few arguments throw a TypeError "Wrong number of
// arguments" (tvdPumpSession also "First parameter must be a function")
// before anything runs. Every call is synchronous and returns at once;
// messages arrive only inside tvdPumpSession. The session is one per
// process, and every thread may use it (Threads, below). Usable with
// require and with ES imports (named or default). The requests a debug
// message carries and their replies: docs/debug-protocol.md; a front end
// that uses them: examples/debug-session.js.
//
// Arguments typed unknown may be any value: they go through String(). The
// others must have their type (a string, a boolean, a function): another
// type throws a TypeError, after the call has run with that argument read
// as "" or false. A timeout that is not a number is ignored.

// Threads: the module may be loaded on the main thread and in workers at
// once. Calls take turns: each runs complete while calls from other threads
// wait (a pump with its callbacks included). The one session of the process
// serves every thread; it ends with tvdCleanup on any thread or when the
// environment (worker or main thread) that started it ends. A pump calls
// its callback on its own thread; a callback that throws ends the pump,
// which throws that exception, and the undelivered messages wait, in order,
// for the next pump.

/** Success. */
export type StatusSuccess = 0;
/** tvdInitialize ran, yet no session stands (Tellwire refused to start). */
export type StatusSessionNotUp = 3;
/** tvdInitialize while a session already stands. */
export type StatusAlreadyInitialized = 11;
/** A function that needs a session was called while none stands. */
export type StatusNotInitialized = 12;
/** tvdGetScriptDirectives: the preprocessor reported an error. */
export type StatusPreprocessorError = 15;
/** tvdCompileToTVSBin: compiling or writing failed. */
export type StatusCompileError = 16;
/** tvdLaunchApplication or tvdSendDebugMessage: Tellwire refused. */
export type StatusRefused = -1;

export type TVDCoreStatus =
  | StatusSuccess
  | StatusSessionNotUp
  | StatusAlreadyInitialized
  | StatusNotInitialized
  | StatusPreprocessorError
  | StatusCompileError
  | StatusRefused;

export interface StatusResult<S extends TVDCoreStatus = TVDCoreStatus> {
  status: S;
}

/** Why a message reaches the tvdPumpSession callback. */
export type DeliveryKind =
  | 0 // a message of any other type
  | 1 // a new "Tavrel" or "Debug" message without reply fields
  | 2 // an acknowledgement ("Received")
  | 3 // a result reply
  | 4 // an error reply
  | 5 // a "Timeout" message: no reply came in time
  | 6 // a "Log" message
  | 7; // an "Idle" message

/**
 * A Tellwire message as the callback receives it. A reply (kinds 3, 4 and
 * 5) carries in serialNumber the serial number tvdSendDebugMessage gave its
 * request: match replies by kind and serialNumber. A new message (kind 1,
 * such as the engine's <break> and <output>) is numbered by its sender,
 * unrelated to the front end's requests.
 */
export interface DebugMessage {
  target: string;
  sender: string;
  type: string;
  responseRequest: string;
  body: string;
  /** Unsigned 32-bit. */
  serialNumber: number;
  /**
   * The three reply fields are present only when set. On a delivered reply
   * the field of its kind holds the kind, not a serial number: resultSerial
   * is 3 on a result, errorSerial 4 on an error reply.
   */
  receivedSerial?: number;
  resultSerial?: number;
  errorSerial?: number;
}

export type PumpCallback = (kind: DeliveryKind, message: DebugMessage) => unknown;

/** Directives found in a script; a directive without a value is absent. */
export interface ScriptDirectives {
  script?: string;
  strict?: string;
  target?: string;
  targetengine?: string;
}

type NoSession = StatusResult<StatusNotInitialized>;

// -- The session -------------------------------------------------------------

/**
 * Starts the debug session; its endpoint, where replies come, is
 * <application>_<version>-2.0#dbg (tvdInitialize('myfrontend', '1.0'):
 * "myfrontend_1.0-2.0#dbg"). Both arguments go through String().
 */
export function tvdInitialize(
  application: unknown,
  version: unknown,
): StatusResult<StatusSuccess | StatusSessionNotUp | StatusAlreadyInitialized>;
export function tvdIsInitialized(): boolean;
export function tvdCleanup(): StatusResult<StatusSuccess | StatusNotInitialized>;

// -- Applications (need a session) --------------------------------------------

export function tvdResolveApplicationSpecifier(
  specifier: unknown,
): { status: StatusSuccess; specifier: string } | NoSession;
export function tvdGetInstalledApplicationSpecifiers(): { status: StatusSuccess; specifiers: string[] } | NoSession;
export function tvdGetDisplayNameForApplication(specifier: unknown): { status: StatusSuccess; name: string } | NoSession;
export function tvdGetApplicationInstalled(specifier: string): { status: StatusSuccess; isInstalled: boolean } | NoSession;
export function tvdGetApplicationRunning(specifier: string): { status: StatusSuccess; isRunning: boolean } | NoSession;
/**
 * Starts an installed application (one the installed-products file lists:
 * README, "Applications and launching") that is not running (the command line:
 * "-specifier", the specifier, "-nostartupscreen", then parameters; "" when
 * absent). flag: true starts it with its window shown and active, false
 * (when absent) minimised without activation; Linux has no such windows, so
 * there it changes nothing. Status -1 when it is not installed or cannot be
 * started; a running application is not started again (status 0).
 */
export function tvdLaunchApplication(
  specifier: string,
  parameters?: string,
  flag?: boolean,
): StatusResult<StatusSuccess | StatusRefused | StatusNotInitialized>;
export function tvdBringApplicationToFront(specifier: string): StatusResult<StatusSuccess | StatusNotInitialized>;

// -- Messages (need a session) --------------------------------------------------

/**
 * Sends body as a "Debug" message to target's "tvtk" engine, asking for
 * "Result Error" (and " Timeout" with a positive timeout). launch (true when
 * absent) lets Tellwire start an installed target that is not running.
 * timeout is in seconds: when no reply has come after it (and one second
 * more), a kind 5 "Timeout" message with the request's serial number is
 * delivered; the request is not cancelled. 0, a negative number or none:
 * no time-out message. Status -1 when Tellwire refused to send; an error
 * message (kind 4) saying why follows at the next pump.
 */
export function tvdSendDebugMessage(
  target: string,
  body: string,
  launch?: boolean,
  timeout?: number,
): { status: StatusSuccess; serialNumber: number } | StatusResult<StatusRefused | StatusNotInitialized>;
/** Hands every waiting message to callback, inside this call only. */
export function tvdPumpSession(callback: PumpCallback): StatusResult<StatusSuccess | StatusNotInitialized>;

// -- Scripts (need a session) -----------------------------------------------------

/**
 * includePath, here and in tvdCompileToTVSBin: folders separated by ":" or
 * ";" that #include searches after the engine's own path (JSINCLUDE); ""
 * for none.
 *
 * result is "" for a correct script, else an XML report of its first error:
 * <?xml version="1.0" encoding="UTF-8" ?><errorInfo>
 *   <errorText><![CDATA[message]]></errorText>  the messages, newest first, joined by "\n- "
 *   <line>3</line>      the line, from 1 (0 when the error has none)
 *   <col1>5</col1>      the column where the faulty token begins, from 1
 *   <col2>8</col2>      the column just after it (col1 + 1 at least)
 *   <file><![CDATA[a.tvs]]></file>
 * </errorInfo>
 * all on one line, with no spaces between the elements.
 */
export function tvdCheckSyntax(
  script: string,
  fileName: string,
  includePath: string,
): { status: StatusSuccess; result: string } | NoSession;
/**
 * output is the compiled text, beginning "@TVSBIN@": saved as a .tvs file
 * or sent as an <eval> source, it runs wherever the source would. error is
 * the engine's messages, newest first, joined by "\n- ", then the error
 * number in parentheses: "Syntax error(8)"; only "(n)" when writing failed.
 */
export function tvdCompileToTVSBin(
  script: string,
  fileName: string,
  includePath: string,
): { status: StatusSuccess; output: string } | { status: StatusCompileError; error: string } | NoSession;
export function tvdGetScriptDirectives(
  script: string,
  fileName: string,
): { status: StatusSuccess; directives: ScriptDirectives } | { status: StatusPreprocessorError; error: string } | NoSession;

// -- Paths (no session needed) ------------------------------------------------------

export function tvdPathToUri(path: unknown): { status: StatusSuccess; uri: string };
export function tvdUriToPath(uri: unknown): { status: StatusSuccess; path: string };
