// Run inside the folder the package was installed into: loads it by name,
// starts and ends a session, and says which native module it loaded.
'use strict';
const assert = require('node:assert/strict');
const tvd = require('tvdcorelibinterface');

const names = ['tvdInitialize', 'tvdIsInitialized', 'tvdCleanup', 'tvdResolveApplicationSpecifier',
  'tvdGetInstalledApplicationSpecifiers', 'tvdGetDisplayNameForApplication', 'tvdGetApplicationInstalled',
  'tvdGetApplicationRunning', 'tvdLaunchApplication', 'tvdBringApplicationToFront', 'tvdCompileToTVSBin',
  'tvdCheckSyntax', 'tvdGetScriptDirectives', 'tvdSendDebugMessage', 'tvdPumpSession', 'tvdPathToUri',
  'tvdUriToPath'];
assert.deepEqual(Object.keys(tvd).sort(), [...names].sort());
for (const name of names) assert.equal(typeof tvd[name], 'function', name);

assert.deepEqual(tvd.tvdInitialize('packaged', '1'), { status: 0 });
assert.equal(tvd.tvdIsInitialized(), true);
assert.deepEqual(tvd.tvdPathToUri('/a b'), { status: 0, uri: '/a%20b' });
assert.deepEqual(tvd.tvdCleanup(), { status: 0 });
assert.equal(tvd.tvdIsInitialized(), false);
console.log('loaded by name:', Object.keys(require.cache).filter((file) => file.endsWith('.node')).join(' '));
