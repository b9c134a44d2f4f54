// The package as a front end takes it: packed (with the prebuilt module and
// sample application), installed from the tarball into a fresh folder
// without running its scripts, loaded by name and from an ES module, its
// types checked against small front ends, the README's example and the
// packaged examples run against the sample application its command starts;
// then built from source there.
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
const prebuiltApp = path.join(installed, 'prebuilds', 'linux-x64', 'tavrel_sample_app');
const built = path.join(installed, 'native', 'tvdcorelibinterface.node');
const builtApp = path.join(installed, 'native', 'tavrel_sample_app');
process.on('exit', () => fs.rmSync(root, { recursive: true, force: true }));

// The folders and product list every process of the session shares.
for (const dir of ['home', 'run', 'config']) fs.mkdirSync(path.join(root, dir), { mode: 0o700 });
const products = path.join(root, 'installed-products.xml');
fs.writeFileSync(products, '<?xml version="1.0" encoding="UTF-8"?>\n<InstalledProducts>\n</InstalledProducts>\n');
// Nothing but the installed package names the module or the application.
const { TVD_ADDON, TAVREL_SAMPLE_APP, ...inherited } = process.env;
const sessionEnv = { ...inherited, HOME: path.join(root, 'home'), XDG_RUNTIME_DIR: path.join(root, 'run'),
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

// Runs a command to its end; resolves with its status and its output and
// error text together.
function finished(command, args, options) {
  return new Promise((resolve) => {
    const child = spawn(command, args, options);
    let text = '';
    child.stdout.on('data', (data) => { text += data; });
    child.stderr.on('data', (data) => { text += data; });
    child.once('exit', (code, signal) => resolve({ code, signal, text }));
  });
}

// Resolves with the sample application's process (or that of what starts
// it) once the application is ready.
async function whenReady(app) {
  const [first] = await Promise.race([
    new Promise((resolve) => readline.createInterface({ input: app.stdout }).once('line', (line) => resolve([line]))),
    new Promise((resolve, reject) => app.once('exit', (code) => reject(new Error(`the sample application ended: ${code}`)))),
  ]);
  assert.equal(first, 'ready sampleapp-1.0#tvtk');
  return app;
}

// The sample application as a front end's author starts it: through the
// package's command, in the front end's folder.
function startThroughCommand(command = ['npx', '--no', 'tavrel-sample-app']) {
  return whenReady(spawn(command[0], command.slice(1), { cwd: consumer, env: sessionEnv,
    stdio: ['pipe', 'pipe', 'inherit'] }));
}

function ended(app) {
  return app.exitCode !== null || app.signalCode !== null ? Promise.resolve()
    : new Promise((resolve) => app.once('exit', resolve));
}

// The process id of the sample application that process pid started, at
// any depth (npx starts it through npm, a shell and the command's script).
function sampleAppBelow(pid) {
  const children = (id) => {
    try {
      return fs.readdirSync(`/proc/${id}/task`).flatMap((task) =>
        fs.readFileSync(`/proc/${id}/task/${task}/children`, 'utf8').split(' ').filter(Boolean).map(Number));
    } catch {
      return [];  // ended meanwhile
    }
  };
  for (let queue = children(pid); queue.length;) {
    const id = queue.shift();
    try {
      if (fs.readlinkSync(`/proc/${id}/exe`) === prebuiltApp) return id;
    } catch {}
    queue.push(...children(id));
  }
  return null;
}

function alive(pid) {
  try {
    process.kill(pid, 0);
    return true;
  } catch {
    return false;
  }
}

let tarball;
test('npm pack without the header packages (a fresh clone) says in one line what to run first', () => {
  const clone = path.join(root, 'clone');
  fs.mkdirSync(path.join(clone, 'scripts'), { recursive: true });
  for (const file of ['package.json', 'scripts/install.js', 'scripts/prebuild.js'])
    fs.copyFileSync(path.join(repo, file), path.join(clone, file));
  const out = spawnSync('npm', ['pack', '--dry-run'], { cwd: clone, encoding: 'utf8' });
  assert.notEqual(out.status, 0);
  const said = out.stderr.split('\n').filter((line) => line.startsWith('tvdcorelibinterface: '));
  assert.deepEqual(said, ['tvdcorelibinterface: node-addon-api and node-api-headers are missing: run ' +
    `"npm ci --ignore-scripts" (or "scripts/setup") in ${clone} first; they hold the Node-API headers the build needs`]);
  assert.doesNotMatch(out.stderr, /Cannot find module|^\s+at /m);
});

test('npm pack takes the prebuilt module and what building and loading need, and no tests', () => {
  const [packed] = JSON.parse(run('npm', ['pack', '--json', '--pack-destination', root], { cwd: repo }).stdout);
  tarball = path.join(root, packed.filename);
  const files = packed.files.map((f) => f.path);
  for (const needed of ['package.json', 'index.js', 'index.mjs', 'index.d.ts', 'scripts/install.js',
    'prebuilds/linux-x64/node.napi.glibc.node', 'prebuilds/linux-x64/tavrel_sample_app', 'CMakeLists.txt',
    'modules/node-addon/source/TVDCoreLibInterface.cpp', 'docs/debug-protocol.md', 'examples/debug-session.js',
    'examples/tavrel-sample-app.js', 'examples/sample_app.cpp', 'examples/CMakeLists.txt'])
    assert.ok(files.includes(needed), needed);
  assert.deepEqual(files.filter((f) => /(^|\/)(tests|bench|tools|build[^/]*|node_modules|native)\//.test(f)), []);
});

test('npm install --ignore-scripts of the tarball in a fresh folder needs no build', () => {
  fs.mkdirSync(consumer);
  fs.writeFileSync(path.join(consumer, 'package.json'), '{ "name": "frontend", "private": true }\n');
  run('npm', ['install', '--ignore-scripts', '--no-audit', '--no-fund', '--prefer-offline', tarball], { cwd: consumer });
  assert.ok(fs.existsSync(prebuilt));
  assert.ok(!fs.existsSync(built));
  assert.equal(fs.realpathSync(path.join(consumer, 'node_modules', '.bin', 'tavrel-sample-app')),
    path.join(installed, 'examples', 'tavrel-sample-app.js'));
});

test('every docs/ and examples/ path the packaged README and index.d.ts name is in the package', () => {
  for (const file of ['README.md', 'index.d.ts']) {
    const named = fs.readFileSync(path.join(installed, file), 'utf8').match(/\b(docs|examples)\/[\w.\/-]*\w/g);
    assert.ok(named && named.includes('docs/debug-protocol.md'), file);
    for (const name of new Set(named)) assert.ok(fs.existsSync(path.join(installed, name)), `${file} names ${name}`);
  }
});

test('the prebuilt module and sample application need only the C and C++ runtimes; the module shows only TVD functions',
  () => {
  const runtimes = /^(linux-vdso|libc|libm|libstdc\+\+|libgcc_s|ld-linux-x86-64)\.so/;
  for (const file of [prebuilt, prebuiltApp]) {
    const needed = run('ldd', [file]).stdout.split('\n').map((line) => path.basename(line.trim().split(' ')[0]))
      .filter(Boolean);
    assert.deepEqual(needed.filter((name) => !runtimes.test(name)), [], file);
    assert.ok(!needed.some((name) => /expat|tinyxml|crypto|ssl/.test(name)), needed.join(' '));
  }
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

test('the README\'s example and the packaged debug session run against the sample application of the package\'s command',
  async () => {
  const readme = fs.readFileSync(path.join(installed, 'README.md'), 'utf8');
  const example = /## A first debug session[\s\S]*?```js\n([\s\S]*?)```/.exec(readme);
  assert.ok(example, 'the README shows an example under "A first debug session"');
  assert.match(readme, /^ {4}npx tavrel-sample-app &$/m);
  assert.match(readme, /^ {4}node node_modules\/tvdcorelibinterface\/examples\/debug-session\.js sampleapp-1\.0$/m);
  fs.writeFileSync(path.join(consumer, 'readme-example.js'), example[1]);
  const app = await startThroughCommand();
  const appPid = sampleAppBelow(app.pid);
  assert.ok(appPid, 'the packaged sample application runs');
  try {
    const out = await finished(process.execPath, ['readme-example.js'], { cwd: consumer, env: sessionEnv });
    assert.equal(out.code, 0, out.text);
    assert.match(out.text, /^reply: <info tvversion="4\.5\.5" engine="main"><command /m);
    const session = await finished(process.execPath,
      ['node_modules/tvdcorelibinterface/examples/debug-session.js', 'sampleapp-1.0'],
      { cwd: consumer, env: sessionEnv });
    assert.equal(session.code, 0, session.text);
    assert.match(session.text, /^breakpoint hit: greet\.tvs:9 in the script/m);
    assert.match(session.text, /^the script ended with 34$/m);
    // The session leaves an application it did not start running.
    assert.equal(app.exitCode, null);
  } finally {
    // The tests after this one block the event loop, which would hold back
    // the end of input until they are done.
    app.stdin.end();
    await ended(app);
  }
  assert.equal(app.exitCode, 0);
  assert.ok(!alive(appPid));
});

test('the package\'s command hands SIGTERM on to the sample application and ends as it ended', async () => {
  // npx runs the command through a shell, which hands on no signal; a
  // terminal's Ctrl-C or a shell's "kill %1" reaches every process of the job.
  const app = await startThroughCommand([process.execPath, path.join('node_modules', '.bin', 'tavrel-sample-app')]);
  const appPid = sampleAppBelow(app.pid);
  assert.ok(appPid, 'the packaged sample application runs');
  app.kill('SIGTERM');
  await ended(app);
  assert.equal(app.signalCode, 'SIGTERM');
  assert.ok(!alive(appPid));
});

test('the packaged examples start the packaged sample application themselves', () => {
  const table = [
    ['debug-session.js', /^the script ended with 34$/m],
    ['demo.js', /^\d+\. asked it to quit; it answered\n {3}"sampleapp: quit"$/m],
  ];
  for (const [name, shows] of table) {
    const out = run(process.execPath, [path.join('node_modules', 'tvdcorelibinterface', 'examples', name)],
      { cwd: consumer, env: sessionEnv });
    assert.match(out.stdout, shows, name);
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

test('TVD_BUILD_FROM_SOURCE=1 npm rebuild builds the module and the sample application, which are then preferred',
  () => {
  // The limit the test run was given, if any, handed on by the second of
  // the two names the install script reads.
  const { JOBS, CMAKE_BUILD_PARALLEL_LEVEL, ...rest } = sessionEnv;
  const jobs = JOBS || CMAKE_BUILD_PARALLEL_LEVEL || String(Math.max(1, Math.min(os.cpus().length, 8)));
  // Paths below the folder reach the compiler cache as relative ones, so
  // a later run in another temporary folder finds its objects there.
  const env = { ...rest, CCACHE_BASEDIR: consumer, CMAKE_BUILD_PARALLEL_LEVEL: jobs, TVD_BUILD_FROM_SOURCE: '1' };
  const out = run('npm', ['rebuild', '--foreground-scripts', 'tvdcorelibinterface'], { cwd: consumer, env });
  assert.doesNotMatch(out.stderr, /Unknown (cli|env) config/);
  for (const stage of ['building from source, as asked', 'configuring the build in build-native',
    `compiling and linking tvdcorelibinterface and tavrel_sample_app with ${jobs} jobs`,
    'built native/tvdcorelibinterface.node and native/tavrel_sample_app'])
    assert.match(out.stderr, new RegExp(`^tvdcorelibinterface: \\[\\d+ s\\] ${stage}`, 'm'), stage);
  assert.ok(fs.existsSync(built));
  assert.ok(!fs.existsSync(path.join(installed, 'build-native')), 'the build folder stays behind');
  assert.equal(runNode(['check.js']).trim(), `loaded by name: ${built}`);
  const locate = path.join(installed, 'examples', 'locate.js');
  assert.equal(runNode(['-p', `require(${JSON.stringify(locate)}).sampleAppPath()`]).trim(), builtApp);
  assert.match(run(builtApp, [], { env: sessionEnv, input: '' }).stdout, /^ready sampleapp-1\.0#tvtk$/m);
});

test('a module built here is used as it is, unless building from source is asked for', () => {
  const script = path.join(installed, 'scripts', 'install.js');
  const { JOBS, CMAKE_BUILD_PARALLEL_LEVEL, ...unlimited } = process.env;
  const kept = run(process.execPath, [script], { cwd: installed, env: { ...unlimited, JOBS: '0' } });
  assert.match(kept.stderr, /^tvdcorelibinterface: native\/tvdcorelibinterface\.node is built$/m);
  // Asked, it would build: it gets as far as the limit on compilers.
  const asked = spawnSync(process.execPath, [script], { cwd: installed, encoding: 'utf8',
    env: { ...unlimited, TVD_BUILD_FROM_SOURCE: '1', JOBS: '0' } });
  assert.equal(asked.status, 1, asked.stderr);
  assert.match(asked.stderr, /JOBS must be a whole number from 1 to 9999, not "0"/);
  assert.ok(fs.existsSync(built));
});

test('no path of the build machine is baked into the installed package', () => {
  const paths = [repo, consumer, root].map((p) => Buffer.from(p));
  for (const name of filesBelow(installed)) {
    const bytes = fs.readFileSync(path.join(installed, name));
    for (const p of paths) assert.equal(bytes.indexOf(p), -1, `${name} holds ${p}`);
  }
});

test('without a module that loads, require and the packaged examples say in one line what is wrong and what builds it',
  () => {
  const command = '"TVD_BUILD_FROM_SOURCE=1 npm rebuild tvdcorelibinterface --foreground-scripts"';
  const table = [
    ['none there', () => {
      for (const file of [built, path.dirname(prebuilt)]) fs.renameSync(file, file + '.away');
      return () => { for (const file of [built, path.dirname(prebuilt)]) fs.renameSync(file + '.away', file); };
    }, /tvdcorelibinterface: the native module \S+ is missing, and there is no prebuilt one for linux-x64\. /],
    ['a built one that does not load', () => {
      fs.renameSync(built, built + '.away');
      fs.writeFileSync(built, 'not a module');
      return () => fs.renameSync(built + '.away', built);
    }, /tvdcorelibinterface: the built module \S+ does not load here \(.*\)\. /],
  ];
  for (const [what, breakIt, says] of table) {
    const mend = breakIt();
    try {
      const required = spawnSync(process.execPath, ['-e', 'require("tvdcorelibinterface")'], { cwd: consumer,
        encoding: 'utf8' });
      assert.notEqual(required.status, 0, what);
      assert.match(required.stderr, new RegExp(`Error: ${says.source}Build it with ${command}`), what);
      const example = spawnSync(process.execPath, [path.join('node_modules', 'tvdcorelibinterface', 'examples',
        'debug-session.js')], { cwd: consumer, env: sessionEnv, encoding: 'utf8' });
      assert.equal(example.status, 1, what);
      assert.equal(example.stdout, '', what);
      assert.match(example.stderr,
        new RegExp(`^debug-session\\.js: ${says.source}Build it with ${command}[^\\n]*\\n$`), what);
    } finally {
      mend();
    }
  }
});
