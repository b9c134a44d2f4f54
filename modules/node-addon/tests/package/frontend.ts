// A small front end written against the package's types: tsc checks it,
// nothing runs it. The @ts-expect-error lines must stay errors.
import * as tvd from 'tvdcorelibinterface';

export function startSession(name: string): boolean {
  const started = tvd.tvdInitialize(name, 1);
  return started.status === 0 || started.status === 11;
}

export function checkScript(script: string, file: string): string | null {
  const out = tvd.tvdCheckSyntax(script, file, '');
  return out.status === 0 ? out.result : null;
}

export function compile(script: string, file: string): string {
  const out = tvd.tvdCompileToTVSBin(script, file, '');
  switch (out.status) {
    case 0:
      return out.output;
    case 16:
      throw new Error(out.error);
    default:
      throw new Error(`no session (${out.status})`);
  }
}

export function targetOf(script: string, file: string): string | undefined {
  const out = tvd.tvdGetScriptDirectives(script, file);
  if (out.status === 15) throw new Error(out.error);
  return out.status === 0 ? out.directives.target : undefined;
}

export function send(target: string, body: string): number | undefined {
  const sent = tvd.tvdSendDebugMessage(target, body, false, 5000);
  return sent.status === 0 ? sent.serialNumber : undefined;
}

export function pumpReplies(onReply: (serial: number, body: string) => void): tvd.TVDCoreStatus {
  return tvd.tvdPumpSession((kind: tvd.DeliveryKind, message: tvd.DebugMessage) => {
    if (kind === 3 && message.resultSerial !== undefined) onReply(message.serialNumber, message.body);
  }).status;
}

export function applications(): string[] {
  const list = tvd.tvdGetInstalledApplicationSpecifiers();
  return list.status === 0 ? list.specifiers : [];
}

export function roundTrip(path: string): string {
  return tvd.tvdUriToPath(tvd.tvdPathToUri(path).uri).path;
}

export function end(): boolean {
  return tvd.tvdIsInitialized() && tvd.tvdCleanup().status === 0;
}

// @ts-expect-error a status no function answers
export const impossible: tvd.TVDCoreStatus = 7;
// @ts-expect-error the callback's kinds are 0 to 7
export const badKind: tvd.DeliveryKind = 8;
// @ts-expect-error the output exists only once the status says success
export const unchecked: string = tvd.tvdCompileToTVSBin('', '', '').output;
// @ts-expect-error the pump takes a function
tvd.tvdPumpSession('not a function');
