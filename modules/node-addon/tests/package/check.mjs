// An ES module consumer: the named imports are the very functions that
// require gives, and a session starts and ends through them.
import assert from 'node:assert/strict';
import { createRequire } from 'node:module';
import tvd, { tvdInitialize, tvdCleanup, tvdIsInitialized, tvdPathToUri, tvdUriToPath } from 'tvdcorelibinterface';
import * as all from 'tvdcorelibinterface';

const required = createRequire(import.meta.url)('tvdcorelibinterface');
assert.equal(tvd, required);
assert.deepEqual(Object.keys(all).filter((name) => name !== 'default').sort(), Object.keys(required).sort());
for (const name of Object.keys(required)) assert.equal(all[name], required[name], name);

assert.deepEqual(tvdInitialize('esm', '1'), { status: 0 });
assert.equal(tvdIsInitialized(), true);
assert.deepEqual(tvdUriToPath(tvdPathToUri('/a b').uri), { status: 0, path: '/a b' });
assert.deepEqual(tvdCleanup(), { status: 0 });
console.log('imported by name');
