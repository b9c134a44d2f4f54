// The same types seen from an ES module: named imports, the default
// import and a namespace import check; nothing runs it.
import tvd, { tvdInitialize, tvdPumpSession, type DebugMessage, type DeliveryKind } from 'tvdcorelibinterface';
import * as all from 'tvdcorelibinterface';

export function start(name: string): boolean {
  return tvdInitialize(name, '1').status === 0 && all.tvdIsInitialized();
}

export function replies(serial: number, onReply: (body: string) => void): number {
  return tvdPumpSession((kind: DeliveryKind, message: DebugMessage) => {
    if (kind === 3 && message.serialNumber === serial) onReply(message.body);
  }).status;
}

export const uri: string = tvd.tvdPathToUri('/tmp').uri;

// @ts-expect-error the module has no such function
tvd.tvdNoSuchFunction();
