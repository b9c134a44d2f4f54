// The debugger core's 17 functions. Every function but tvdIsInitialized
// answers a plain object with a numeric status and, on success, the data
// asked for; too few arguments throw a TypeError "Wrong number of
// arguments" (tvdPumpSession also "First parameter must be a function").

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

/** A Tellwire message as the callback receives it. */
export interface DebugMessage {
  target: string;
  sender: string;
  type: string;
  responseRequest: string;
  body: string;
  /** Unsigned 32-bit. */
  serialNumber: number;
  /** Present only when set. */
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
 * Starts the debug session as application "_" version "-2.0#dbg". Both
 * arguments go through String().
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
/** parameters: "" and flag: false when absent. */
export function tvdLaunchApplication(
  specifier: string,
  parameters?: string,
  flag?: boolean,
): StatusResult<StatusSuccess | StatusRefused | StatusNotInitialized>;
export function tvdBringApplicationToFront(specifier: string): StatusResult<StatusSuccess | StatusNotInitialized>;

// -- Messages (need a session) --------------------------------------------------

/**
 * Sends body as a "Debug" message to target's "tvtk" engine, asking for
 * "Result Error" (and " Timeout" with a positive timeout). launch is true
 * when absent.
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

/** result is "" for a correct script, else an XML error report. */
export function tvdCheckSyntax(
  script: string,
  fileName: string,
  includePath: string,
): { status: StatusSuccess; result: string } | NoSession;
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
