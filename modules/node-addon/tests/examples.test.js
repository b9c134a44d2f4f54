// The example front ends in examples/ run as a reader would run them, each
// against a sample application of its own, and print what they promise.
'use strict';
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { spawnSync } = require('node:child_process');
// A module built with the sanitizers loads only with their runtimes
// preloaded, which the shared helpers drop for the processes they start.
const preload = process.env.LD_PRELOAD;
require('./helpers');

const repo = path.join(__dirname, '..', '..', '..');
const examples = path.join(repo, 'examples');

function runExample(name) {
  const env = preload ? { ...process.env, LD_PRELOAD: preload } : process.env;
  const out = spawnSync(process.execPath, [path.join(examples, name)], { env, encoding: 'utf8', timeout: 120000 });
  assert.equal(out.status, 0, `${name}\n${out.stdout}\n${out.stderr}`);
  return out.stdout;
}

test('demo.js walks through the 17 functions and gets the sample application\'s reply', () => {
  const out = runExample('demo.js');
  assert.match(out, /^\d+\. its reply\n {3}"sampleapp: Hello, sample application!"$/m);
  // Waited for: the application ends on "quit".
  assert.match(out, /^\d+\. asked it to quit; it answered\n {3}"sampleapp: quit"$/m);
  assert.match(out, /^\d+\. is a session up\?\n {3}false\n$/m);
});

test('debug-session.js stops, steps, reads variables, evaluates in the frame and continues', () => {
  const lines = runExample('debug-session.js').split('\n');
  const expected = [
    /^engine main, version 4\.5\.5, 20 commands$/,
    /^breakpoint hit: greet\.tvs:9 in the script \(stack: \[greet\.tvs\]\)$/,
    /^stepinto: now at greet\.tvs:1 in greet \(stack: \[greet\.tvs\] > greet\("Ada"\)\)$/,
    /^stepover: now at greet\.tvs:2 in greet/,
    /^stepover: now at greet\.tvs:3 in greet/,
    /^ {2}variable name = Ada \(string\)$/,
    /^ {2}variable text = Hello, Ada \(string\)$/,
    /^evaluated in the frame: HELLO, ADA \/ 3 \(string\)$/,
    /^stepover: now at greet\.tvs:4 in greet/,
    /^output: "Hello, Ada\\r\\n"$/,
    /^stepout: now at greet\.tvs:8 in the script/,
    /^conditional breakpoint hit: greet\.tvs:3 in greet \(stack: \[greet\.tvs\] > greet\("Linus"\)\), name is Linus$/,
    /^the script ended with 34$/,
    /^output: "Hello, Grace\\r\\n"$/,
    /^output: "Hello, Linus\\r\\n"$/,
  ];
  assert.equal(lines.length, expected.length + 1, lines.join('\n'));
  expected.forEach((pattern, i) => assert.match(lines[i], pattern));
});

test('without a build, each example and the sample application\'s command say in one line what builds them', () => {
  // A clone with nothing built: the package's files, the examples and the
  // script that builds them, but no build folder, native/ or prebuilds/.
  const clone = fs.mkdtempSync(path.join(os.tmpdir(), 'tvd-clone-'));
  try {
    for (const file of ['package.json', 'index.js', 'index.mjs', 'examples', 'scripts/demo', 'scripts/install.js'])
      fs.cpSync(path.join(repo, file), path.join(clone, file), { recursive: true });
    const { TVD_ADDON, TAVREL_SAMPLE_APP, ...env } = process.env;
    for (const name of ['demo.js', 'debug-session.js', 'tavrel-sample-app.js']) {
      const out = spawnSync(process.execPath, [path.join(clone, 'examples', name)], { env, encoding: 'utf8',
        input: '' });
      assert.equal(out.status, 1, name);
      assert.equal(out.stdout, '', name);
      assert.match(out.stderr, new RegExp(`^${name.replace(/\.js$/, '(\\.js)?')}: no (native module of the ` +
        'debugger core|sample application) is built: "scripts/demo" builds the module and the sample ' +
        'application into build/\\n$'), name);
    }
  } finally {
    fs.rmSync(clone, { recursive: true, force: true });
  }
});
