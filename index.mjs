// The module for ES imports: the 17 functions as named exports, and all of
// them together as the default export.
import tvd from './index.js';

export const {
  tvdInitialize, tvdIsInitialized, tvdCleanup, tvdResolveApplicationSpecifier,
  tvdGetInstalledApplicationSpecifiers, tvdGetDisplayNameForApplication, tvdGetApplicationInstalled,
  tvdGetApplicationRunning, tvdLaunchApplication, tvdBringApplicationToFront, tvdCompileToTVSBin,
  tvdCheckSyntax, tvdGetScriptDirectives, tvdSendDebugMessage, tvdPumpSession, tvdPathToUri, tvdUriToPath,
} = tvd;
export default tvd;
