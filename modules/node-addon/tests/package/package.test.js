// The package as a front end takes it: packed (with the prebuilt module),
// installed from the tarball into a fresh folder without running its
// scripts, loaded by name and from an ES module, its types checked against
// small front ends, the README's example run; then built from source there.
'use strict';
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const readline = require('node:readline');
const { spawn, spawnSync } = require('node:child_process');

const repo = path.resolve(__dirname, '..', '..', '..', '..');
const root = fs.mkdtempSync(path.join(os.tmpdir(), 'tvd-package-'));
const consumer = path.join(root, 'frontend');
const installed = path.join(consumer, 'node_modules', 'tvdcorelibinterface');
const prebuilt = path.join(installed, 'prebuilds', 'linux-x64', 'node.napi.glibc.node');
const built = path.join(installed, 'native', 'tvdcorelibinterface.node');
process.on('exit', () => fs.rmSync(root, { recursive: true, force: true }));

// The folders and product list every process of the session shares.
for (const dir of ['home', 'run', 'config']) fs.mkdirSync(path.join(root, dir), { mode: 0o700 });
const products = path.join(root, 'installed-products.xml');
fs.writeFileSync(products, '<?xml version="1.0" encoding="UTF-8"?>\n<InstalledProducts>\n</InstalledProducts>\n');
const sessionEnv = { ...process.env, HOME: path.join(root, 'home'), XDG_RUNTIME_DIR: path.join(root, 'run'),
  XDG_CONFIG_HOME: path.join(root, 'config'), MORVANE_INSTALLED_PRODUCTS: products };

function run(command, args, options = {}) {
  const out = spawnSync(command, args, { encoding: 'utf8', maxBuffer: 64 << 20, ...options });
  assert.equal(out.status, 0, `${command} ${args.join(' ')}\n${out.stdout}\n${out.stderr}`);
  return out;
}

function runNode(args, env = sessionEnv) {
  return run(process.execPath, args, { cwd: consumer, env }).stdout;
}

// Every file below folder, with its path relative to it.
function filesBelow(folder) {
  return fs.readdirSync(folder, { recursive: true })
    .filter((name) => fs.statSync(path.join(folder, name)).isFile());
}

function copyFixture(name) {
  fs.copyFileSync(path.join(__dirname, name), path.join(consumer, name));
}

let tarball;
test('npm pack takes the prebuilt module and what building and loading need, and no tests', () => {
  const [packed] = JSON.parse(run('npm', ['pack', '--json', '--pack-destination', root], { cwd: repo }).stdout);
  tarball = path.join(root, packed.filename);
  const files = packed.files.map((f) => f.path);
  for (const needed of ['package.json', 'index.js', 'index.mjs', 'index.d.ts', 'scripts/install.js',
    'prebuilds/linux-x64/node.napi.glibc.node', 'CMakeLists.txt', 'modules/node-addon/source/TVDCoreLibInterface.cpp'])
    assert.ok(files.includes(needed), needed);
  assert.deepEqual(files.filter((f) => /(^|\/)(tests|bench|tools|build[^/]*|node_modules|native)\//.test(f)), []);
});

test('npm install --ignore-scripts of the tarball in a fresh folder needs no build', () => {
  fs.mkdirSync(consumer);
  fs.writeFileSync(path.join(consumer, 'package.json'), '{ "name": "frontend", "private": true }\n');
  run('npm', ['install', '--ignore-scripts', '--no-audit', '--no-fund', '--prefer-offline', tarball], { cwd: consumer });
  assert.ok(fs.existsSync(prebuilt));
  assert.ok(!fs.existsSync(built));
});

test('the prebuilt module needs only the C and C++ runtimes and shows only the TVD functions', () => {
  const runtimes = /^(linux-vdso|libc|libm|libstdc\+\+|libgcc_s|ld-linux-x86-64)\.so/;
  const needed = run('ldd', [prebuilt]).stdout.split('\n').map((line) => path.basename(line.trim().split(' ')[0]))
    .filter(Boolean);
  assert.deepEqual(needed.filter((name) => !runtimes.test(name)), []);
  assert.ok(!needed.some((name) => /expat|tinyxml|crypto|ssl/.test(name)), needed.join(' '));
  // Nothing of expat, TinyXML or OpenSSL is bound to or from the host (Node
  // carries an OpenSSL of its own): what it shows are the 17 TVD functions,
  // what it takes from outside the runtimes is Node-API.
  const symbols = (flag) => run('nm', ['-D', flag, prebuilt]).stdout.split('\n').map((l) => l.trim().split(/\s+/).pop())
    .filter(Boolean);
  const shown = symbols('--defined-only');
  assert.equal(shown.length, 17, shown.join(' '));
  assert.deepEqual(shown.filter((name) => !/^_Z\d+TVD/.test(name)), []);
  assert.deepEqual(symbols('--undefined-only').filter((name) => !name.includes('@') && !/^napi_/.test(name) &&
    !/^(_ITM_|__gmon_start__)/.test(name)), []);
});

test('require by name loads the prebuilt module: the 17 functions, and a session starts and ends', () => {
  copyFixture('check.js');
  assert.equal(runNode(['check.js']).trim(), `loaded by name: ${prebuilt}`);
});

test('an ES module imports the functions by name', () => {
  copyFixture('check.mjs');
  assert.match(runNode(['check.mjs']), /imported by name/);
});

test('the types check front ends written against them, as CommonJS and as an ES module', () => {
  copyFixture('frontend.ts');
  copyFixture('frontend.mts');
  const tsc = path.join(repo, 'node_modules', 'typescript', 'bin', 'tsc');
  const options = ['--noEmit', '--strict', '--target', 'es2020'];
  runNode([tsc, ...options, '--module', 'commonjs', 'frontend.ts']);
  runNode([tsc, ...options, '--module', 'node16', '--moduleResolution', 'node16', 'frontend.mts']);
});

test('the README\'s example runs as written against the sample application', async () => {
  const readme = fs.readFileSync(path.join(repo, 'README.md'), 'utf8');
  const example = /## A first debug session[\s\S]*?```js\n([\s\S]*?)```/.exec(readme);
  assert.ok(example, 'the README shows an example under "A first debug session"');
  fs.writeFileSync(path.join(consumer, 'readme-example.js'), example[1]);
  const app = spawn(process.env.TAVREL_SAMPLE_APP, [], { env: sessionEnv, stdio: ['pipe', 'pipe', 'inherit'] });
  try {
    const [first] = await Promise.race([
      new Promise((resolve) => readline.createInterface({ input: app.stdout }).once('line', (line) => resolve([line]))),
      new Promise((resolve, reject) => app.once('exit', (code) => reject(new Error(`the sample application ended: ${code}`)))),
    ]);
    assert.equal(first, 'ready sampleapp-1.0#tvtk');
    const out = await new Promise((resolve) => {
      const child = spawn(process.execPath, ['readme-example.js'], { cwd: consumer, env: sessionEnv });
      let text = '';
      child.stdout.on('data', (data) => { text += data; });
      child.stderr.on('data', (data) => { text += data; });
      child.once('exit', (code) => resolve({ code, text }));
    });
    assert.equal(out.code, 0, out.text);
    assert.match(out.text, /^reply: <info tvversion="4\.5\.5" engine="main"><command /m);
  } finally {
    // The tests after this one block the event loop, which would hold back
    // the end of input until they are done.
    const ended = new Promise((resolve) => app.once('exit', resolve));
    app.stdin.end();
    if (app.exitCode === null && app.signalCode === null) await ended;
  }
});

test('the install script takes the prebuilt module when it loads, and checks JOBS', () => {
  const script = path.join(installed, 'scripts', 'install.js');
  const out = run(process.execPath, [script], { cwd: installed });
  assert.match(out.stderr, /^tvdcorelibinterface: using the prebuilt prebuilds\/linux-x64\/node\.napi\.glibc\.node$/m);
  assert.ok(!fs.existsSync(built));
  // A limit the whole test run was given would come before the one tried.
  const { JOBS, CMAKE_BUILD_PARALLEL_LEVEL, ...unlimited } = process.env;
  for (const [name, value] of [['JOBS', '0'], ['JOBS', 'many'], ['CMAKE_BUILD_PARALLEL_LEVEL', '-2']]) {
    const bad = spawnSync(process.execPath, [script], { cwd: installed, encoding: 'utf8',
      env: { ...unlimited, npm_config_build_from_source: 'true', [name]: value } });
    assert.equal(bad.status, 1, `${name}=${value}`);
    assert.match(bad.stderr, new RegExp(`${name} must be a whole number from 1 to 9999, not "${value}"`));
    assert.ok(!fs.existsSync(path.join(installed, 'build-native')));
  }
});

test('npm rebuild --build-from-source builds the module, which require then prefers', () => {
  // The limit the test run was given, if any, handed on by the second of
  // the two names the install script reads.
  const { JOBS, CMAKE_BUILD_PARALLEL_LEVEL, ...rest } = process.env;
  const jobs = JOBS || CMAKE_BUILD_PARALLEL_LEVEL || String(Math.max(1, Math.min(os.cpus().length, 8)));
  // Paths below the folder reach the compiler cache as relative ones, so
  // a later run in another temporary folder finds its objects there.
  const env = { ...rest, CCACHE_BASEDIR: consumer, CMAKE_BUILD_PARALLEL_LEVEL: jobs };
  const out = run('npm', ['rebuild', '--foreground-scripts', '--build-from-source', 'tvdcorelibinterface'],
    { cwd: consumer, env });
  for (const stage of ['building from source, as asked', 'configuring the build in build-native',
    `compiling and linking tvdcorelibinterface with ${jobs} jobs`, 'built native/tvdcorelibinterface.node'])
    assert.match(out.stderr, new RegExp(`^tvdcorelibinterface: \\[\\d+ s\\] ${stage}`, 'm'), stage);
  assert.ok(fs.existsSync(built));
  assert.ok(!fs.existsSync(path.join(installed, 'build-native')), 'the build folder stays behind');
  assert.equal(runNode(['check.js']).trim(), `loaded by name: ${built}`);
});

test('no path of the build machine is baked into the installed package', () => {
  const paths = [repo, consumer, root].map((p) => Buffer.from(p));
  for (const name of filesBelow(installed)) {
    const bytes = fs.readFileSync(path.join(installed, name));
    for (const p of paths) assert.equal(bytes.indexOf(p), -1, `${name} holds ${p}`);
  }
});

test('without a module that fits one error says what is missing and how to build it', () => {
  const away = [built, path.dirname(prebuilt)];
  for (const file of away) fs.renameSync(file, file + '.away');
  try {
    const out = spawnSync(process.execPath, ['-e', 'require("tvdcorelibinterface")'], { cwd: consumer,
      encoding: 'utf8' });
    assert.notEqual(out.status, 0);
    assert.match(out.stderr, /Error: tvdcorelibinterface: the native module \S+ is missing, and there is no prebuilt one for linux-x64\. Build it with "npm rebuild tvdcorelibinterface --build-from-source"/);
  } finally {
    for (const file of away) fs.renameSync(file + '.away', file);
  }
});
